#pragma once

#include <QPalette>
#include <QPointer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "Console.h"
#include "HistoryWindow.h"

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
// shown. Everything it does, the console does: the same one the main window shows.
class TSet_Form : public QWidget {
    Q_OBJECT

  public:
    explicit TSet_Form(Console& console, QWidget* parent = nullptr);

    // Ten minutes without a key, a click or the wheel in it, and the window closes: the next
    // opening asks for the password again.
    static constexpr std::chrono::minutes kIdleLimit{10};

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void buildControls();
    void buildPortTools();
    void runPortAction(const std::function<void()>& action);
    void runPortSetup();
    void showPortState();
    void FormShow();
    void applyRow(std::size_t index);
    void SpeedButton1Click();
    void showHistory();

    Console& console_;

    QScrollArea* Scroller = nullptr;  // holds the three areas
    QFrame* Panel1 = nullptr;
    QGroupBox* GroupBox = nullptr;   // white profile
    QGroupBox* GroupBox1 = nullptr;  // laminated profile
    QFrame* Panel2 = nullptr;
    QGroupBox* GroupBoxPort = nullptr;
    QLabel* Label_Port = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* Button_History = nullptr;  // opens the settings history
    QPushButton* SpeedButton1 = nullptr;    // "СОХРАНИТЬ" of the white group
    QPushButton* SpeedButton19 = nullptr;   // "СОХРАНИТЬ" of the laminated group
    std::vector<QLineEdit*> edits_;         // one per row of settingControls(), in its order
    QPalette normalPalette_;
    QPalette appliedPalette_;             // pure green: applied since the window was last shown
    std::unique_ptr<Clock::Timer> idle_;  // ticks once the window has been left alone
    QPointer<HistoryWindow> history_;     // goes with this window when it closes
};

}  // namespace velkor
