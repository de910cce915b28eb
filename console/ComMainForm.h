#pragma once

#include <QColor>
#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ComDataPacket.h"
#include "ComPort.h"
#include "ConfirmedSend.h"
#include "ConsoleState.h"
#include "JobDatabase.h"
#include "Journal.h"
#include "ReplyHandler.h"
#include "U_Set_Form.h"

class QAction;
class QCloseEvent;
class QKeyEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace velkor {

// How the console was started.
struct ConsoleOptions {
    // The job database to use instead of KV.GDB in the start-up directory, for example
    // "server:/srv/velkor/KV.GDB" for a Firebird server shared by several workstations.
    std::optional<std::string> databaseString;
    // Makes the serial driver of the controller's line; unset, the system's driver. Tests give
    // a recording driver here where no real line is the point.
    std::function<std::unique_ptr<SerialDriver>()> serialDriver = {};
};

// The main window. Creating it runs the start-up sequence; closing it runs the shutdown
// sequence. Control names are those of the operator's manual and are also the widgets'
// object names.
class TForm1 : public QMainWindow {
    Q_OBJECT

  public:
    explicit TForm1(ConsoleOptions options = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    ConsoleState& state() { return state_; }
    JobDatabase& database() { return IBDatabase1; }
    TCustomComPort& port() { return ComPort; }
    ConfirmedSender& confirmedSender() { return confirmedSender_; }
    // The window the settings gate opens, whose port tools this window carries out.
    void setSettingsWindow(TSet_Form* window);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void buildControls();
    void buildMenu();
    void bindEventLog();
    void journalLine(const std::string& line);
    void showLogLine(const std::string& line);
    void flushLogLines();

    void configurePort();
    void LineStatusChange();
    void showLineStatus();
    void ComDataPacket1Packet(const std::string& packet);
    void showCounter(const std::string& counter);
    void FormCreate();
    void runStartup();
    void noteAnUncleanEnd(const std::string& databaseString);
    void probePorts();
    void clearControllerCount();
    void FormClose();
    void SpeedButton3Click();
    void Edit_BarCodeKeyPress();
    void SpeedButton1Click();
    QLineEdit* positionField(int index) const;

    void SpeedButton2Click();
    void Speed_stepClick();
    void SpeedButton4Click();
    void SpeedButton8Click();
    void Button_LaminClick();
    void showLaminationMode(int mode);
    void Timer1Timer();
    void Timer2Timer();
    void Timer3Timer();
    void Speed_Imp_full_setClick();
    void But_R_DELTAClick();
    void Button1Click();
    void N2Click();
    // The service person's port tools, reached from the settings window only.
    void OpenClosePortClick();
    void PortSetupClick();
    void LoadPortSettingsClick();
    void StorePortSettingsClick();
    void N4Click();
    void setLaminCaptionColour(const QColor& colour);

    ConsoleOptions options_;
    ConsoleState state_;
    ReplyHandler replyHandler_{state_,
                               [this](const std::string& counter) { showCounter(counter); }};
    bool shutDown_ = false;
    TSet_Form* settingsWindow_ = nullptr;
    QColor laminCaptionColour_;
    TLineStatus shownLineStatus_ = TLineStatus::Closed;
    bool toggling_ = false;            // a mode toggle is sending
    int confirmedLaminationMode_ = 0;  // the mode the controller last confirmed
    std::optional<Journal> journal_;   // the event log on disk, from start-up on
    bool writingJournalNotice_ = false;
    QStringList pendingLogLines_;  // log lines on their way to the Memo
    std::string logNotice_;        // what Label_LogDropped is to say, shown a few times a second
    bool logNoticeDue_ = false;
    int lineStatusListener_ = 0;

    JobDatabase IBDatabase1;        // the connection, with its one transaction and query
    TComPort ComPort;               // the line to the machine's controller
    TComDataPacket ComDataPacket1;  // cuts the controller's replies out of what the line brings
    ConfirmedSender confirmedSender_{ComPort, state_};

    QPushButton* Button_Lamin = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label_CNT = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label8 = nullptr;
    QLineEdit* Edit_BarCode = nullptr;
    QLabel* Label_Bar_Code = nullptr;
    QPushButton* SpeedButton2 = nullptr;
    QPushButton* Speed_step = nullptr;
    QPushButton* SpeedButton4 = nullptr;
    QPushButton* Speed_Imp_full_set = nullptr;
    QPushButton* SpeedButton8 = nullptr;
    QPushButton* SpeedButton3 = nullptr;
    QPlainTextEdit* Memo = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QLineEdit* Edit5 = nullptr;
    QLineEdit* Edit6 = nullptr;
    QLineEdit* Edit7 = nullptr;
    QLineEdit* Edit9 = nullptr;
    QPushButton* SpeedButton1 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLineEdit* E_R_DELTA = nullptr;
    QPushButton* But_R_DELTA = nullptr;
    QLabel* Label10 = nullptr;
    QLineEdit* Edit8 = nullptr;
    QPushButton* Button1 = nullptr;
    QListWidget* ListBoxPort = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label_Line = nullptr;        // the line's state in the status bar
    QLabel* Label_LogDropped = nullptr;  // how many of the log's oldest lines have gone
    QAction* N2 = nullptr;               // Файл / Загрузить
    QAction* ExportLogItem = nullptr;
    QAction* SettingsItem = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;
    QTimer* Timer3 = nullptr;
};

}  // namespace velkor
