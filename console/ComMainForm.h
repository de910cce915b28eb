#pragma once

#include <QColor>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Console.h"
#include "ProductionWindow.h"
#include "ScannerInput.h"

class QAction;
class QCloseEvent;
class QKeyEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace velkor {

// The main window over the running console it is given. Creating it runs the console's
// start-up; closing it runs the shutdown. Control names are those of the operator's manual and
// are also the widgets' object names.
class TForm1 : public QMainWindow {
    Q_OBJECT

  public:
    explicit TForm1(Console& console, QWidget* parent = nullptr);
    ~TForm1() override;

    // The window the settings gate opens.
    void setSettingsWindow(QWidget* window) { settingsWindow_ = window; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void buildControls();
    void buildMenu();
    void connectHandlers();
    void bindConsole();
    void bindScans();
    void keepTheScanner();
    void recordShownMessages();
    void bindLoads();
    void showLogLine(const std::string& line);
    void flushLogLines();
    void showLogNotice(const std::string& notice);
    void showLineStatus();
    void showDatabaseStatus();
    void showLaminationMode(int mode);
    void showScan(const ShownScan& shown);
    void showPieceNotice(const PieceNotice& notice);
    void setLaminCaptionColour(const QColor& colour);
    void FormCreate();
    void Edit_BarCodeKeyPress();
    void SpeedButton1Click();
    QLineEdit* positionField(int index) const;
    void Timer2Timer();
    void Button1Click();
    void N2Click();
    void N4Click();
    void AboutItemClick();

    Console& console_;
    std::unique_ptr<ScannerInput> scannerInput_;
    QPointer<QWidget> settingsWindow_;                    // gone with whoever made it
    std::unique_ptr<ProductionWindow> productionWindow_;  // made when first opened
    QColor laminCaptionColour_;
    QStringList pendingLogLines_;  // log lines on their way to the Memo
    std::string logNotice_;        // what Label_LogDropped is to say, shown a few times a second
    std::unique_ptr<Clock::Timer> logNoticeDue_;  // the notice is shown when it ticks

    QPushButton* Button_Lamin = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label_CNT = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label8 = nullptr;
    QLineEdit* Edit_BarCode = nullptr;
    QLabel* Label_Bar_Code = nullptr;
    QLabel* Label_Batch = nullptr;   // the scanned piece's batch: "n из m деталей"
    QLabel* Label_Repeat = nullptr;  // in the status bar: the scanned piece was sent before
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
    QLabel* Label_Line = nullptr;              // the line's state in the status bar
    QLabel* Label_Database = nullptr;          // a database not reached, in the status bar
    QLabel* Label_Status = nullptr;            // scans waiting, a command not acknowledged
    QProgressBar* ProgressBar_Load = nullptr;  // how far a job file's load is
    QLabel* Label_LogDropped = nullptr;        // how many of the log's oldest lines have gone
    QAction* N2 = nullptr;                     // Файл / Загрузить
    QAction* ExportLogItem = nullptr;
    QAction* SettingsItem = nullptr;
    QAction* ProductionItem = nullptr;  // "Производство": the production window
    QAction* AboutItem = nullptr;       // "О программе": the version
    std::unique_ptr<Clock::Timer> Timer2;
};

}  // namespace velkor
