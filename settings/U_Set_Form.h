#pragma once

#include <QPalette>
#include <QWidget>
#include <functional>
#include <vector>

#include "ComPort.h"
#include "ConsoleState.h"
#include "JobDatabase.h"

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;

namespace velkor {

// The settings window, where a service person reads and changes the machine's 38 parameters.
// Created hidden at program start right after the main window and only ever hidden again; it
// owns no data: every edit mirrors a machine variable and is refilled each time the window is
// shown. It shares the main window's serial port and job database.
class TSet_Form : public QWidget {
    Q_OBJECT

  public:
    TSet_Form(ConsoleState& state, TCustomComPort& comPort, JobDatabase& database,
              QWidget* parent = nullptr);
    ~TSet_Form() override;

  signals:
    // The service person's port tools; the main window, which owns the port, carries them out.
    void portOpenCloseRequested();
    void portSetupRequested();
    void portSettingsLoadRequested();
    void portSettingsStoreRequested();

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void buildControls();
    void buildPortTools();
    void runPortAction(const std::function<void()>& action);
    void showPortState();
    void FormShow();
    void applyRow(std::size_t index);
    void SpeedButton1Click();

    ConsoleState& state_;
    TCustomComPort& ComPort;
    JobDatabase& database_;

    QScrollArea* Scroller = nullptr;  // holds the three areas
    QFrame* Panel1 = nullptr;
    QGroupBox* GroupBox = nullptr;   // white profile
    QGroupBox* GroupBox1 = nullptr;  // laminated profile
    QFrame* Panel2 = nullptr;
    QGroupBox* GroupBoxPort = nullptr;
    QLabel* Label_Port = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* SpeedButton1 = nullptr;   // "СОХРАНИТЬ" of the white group
    QPushButton* SpeedButton19 = nullptr;  // "СОХРАНИТЬ" of the laminated group
    std::vector<QLineEdit*> edits_;        // one per row of settingRows(), in its order
    QPalette normalPalette_;
    QPalette appliedPalette_;  // pure green: applied since the window was last shown
    int lineStatusListener_ = 0;
};

}  // namespace velkor
