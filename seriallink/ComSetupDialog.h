#pragma once

#include <QComboBox>
#include <QDialog>
#include <array>

#include "ComPort.h"

namespace velkor {

// The port setting a TComComboBox chooses.
enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// A drop-down list of the values of one port setting: the system's serial ports, or the text
// forms of a line setting. It can sit on any form; with AutoApply it writes every new choice to
// its port at once.
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

    // Selects the entry equal to the port's current value (none when it has no such entry).
    void UpdateSettings();
    // Writes the chosen entry to the port; without a choice the port keeps its value.
    void ApplySettings();

  private:
    void fillEntries();

    TCustomComPort* comPort_ = nullptr;
    TComProperty comProperty_ = cpNone;
    bool autoApply_ = false;
    bool updating_ = false;  // selecting from the port is not a choice to apply
};

// The setup dialog: the port and five line settings, OK and Cancel.
class TComSetupFrm : public QDialog {
    Q_OBJECT

  public:
    explicit TComSetupFrm(TCustomComPort& port, QWidget* parent = nullptr);
    // Writes every list's choice to the port, in the order of the lists.
    void ApplySettings();

  private:
    std::array<TComComboBox*, 6> lists_{};
};

}  // namespace velkor
