#pragma once

#include <QComboBox>
#include <QDialog>
#include <array>

#include "ComPort.h"
#include "LineChoices.h"

namespace velkor {

// The port setting a TComComboBox chooses.
enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// A drop-down list of the values of one port setting: the system's serial ports, or the text
// forms of a line setting. It shows and takes its setting in a LineChoices value; it can also
// sit on any form bound to a port, and with AutoApply it writes every new choice to it at once.
class TComComboBox : public QComboBox {
    Q_OBJECT

  public:
    explicit TComComboBox(QWidget* parent = nullptr);

    TCustomComPort* ComPort() const { return comPort_; }
    void SetComPort(TCustomComPort* port);
    TComProperty ComProperty() const { return comProperty_; }
    void SetComProperty(TComProperty property);
    bool AutoApply() const { return autoApply_; }
    void SetAutoApply(bool v) { autoApply_ = v; }

    // Selects the entry equal to the setting in `choices` (none when it has no such entry).
    void ShowChoice(const LineChoices& choices);
    // Writes the chosen entry into `choices`; without a choice they keep their value.
    void TakeChoice(LineChoices& choices) const;
    // The same with the bound port's settings.
    void UpdateSettings();
    void ApplySettings();

  private:
    void fillEntries();

    TCustomComPort* comPort_ = nullptr;
    TComProperty comProperty_ = cpNone;
    bool autoApply_ = false;
    bool updating_ = false;  // selecting from the port is not a choice to apply
};

// The setup dialog: the port and five line settings, OK and Cancel. It shows the choices it is
// given and hands back the operator's; it never touches a port.
class TComSetupFrm : public QDialog {
    Q_OBJECT

  public:
    explicit TComSetupFrm(const LineChoices& current, QWidget* parent = nullptr);
    LineChoices Choices() const;

  private:
    LineChoices current_;
    std::array<TComComboBox*, 6> lists_{};
};

// Shows the setup dialog for the port's settings; OK applies the choices to it once.
void RunSetupDialog(TCustomComPort& port);

}  // namespace velkor
