#include "U_Set_Form.h"

#include <QApplication>
#include <QFrame>
#include <QGroupBox>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QShowEvent>
#include <QStyle>

#include <algorithm>

#include "ComSetupDialog.h"
#include "Controls.h"
#include "ErrorBox.h"
#include "SettingControls.h"
#include "Text.h"

namespace velkor {
namespace {

// Sizes in pixels, as the window was designed at 96 dots per inch.
constexpr int kClientWidth = 794;
constexpr int kClientHeight = 497;
constexpr int kAreaHeight = 441;
constexpr int kEditWidth = 57;
constexpr int kEditHeight = 21;
constexpr int kButtonWidth = 170;
constexpr int kButtonHeight = 22;
constexpr int kRowPitch = 23;
constexpr int kFirstRowTop = 17;
constexpr int kRowLeft = 8;
constexpr int kCloseStripHeight = 41;

// The captions were written for a Windows font narrower than the sans of a Linux desktop: one
// that is wider than its button gets a smaller font rather than being clipped.
void fitCaption(QPushButton* button) {
    QFont font = button->font();
    while (font.pixelSize() > 8 &&
           QFontMetrics(font).horizontalAdvance(button->text()) > button->width() - 8) {
        font.setPixelSize(font.pixelSize() - 1);
    }
    button->setFont(font);
}

}  // namespace

TSet_Form::TSet_Form(Console& console, QWidget* parent)
    : QWidget(parent, Qt::Window), console_(console) {
    setObjectName(QStringLiteral("Set_Form"));
    setWindowTitle(ru("Настрока"));
    // Closing the main window ends the program even while this one is open.
    setAttribute(Qt::WA_QuitOnClose, false);
    QFont smallFont = font();
    smallFont.setPixelSize(11);
    setFont(smallFont);
    buildControls();
    fitOnScreen(*this, QSize(kClientWidth, kClientHeight), QPoint(389, 198));
    idle_ = console_.clock().timer("SettingsIdle", kIdleLimit, [this] { hide(); });
    // Input anywhere in the window, its boxes and dialogs included, keeps it open.
    qApp->installEventFilter(this);
    // The port group follows the line also when it is lost or comes back by itself.
    connect(&console_, &Console::lineStatusChanged, this, &TSet_Form::showPortState);
}

void TSet_Form::buildControls() {
    // The areas keep their places; a screen with less room than they need scrolls them.
    auto* areas = new QWidget;
    areas->setFixedSize(kClientWidth, kClientHeight - kCloseStripHeight);
    Scroller = new QScrollArea(this);
    Scroller->setFrameShape(QFrame::NoFrame);
    Scroller->setWidget(areas);
    Panel1 = named(new QFrame(areas), "Panel1");
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setGeometry(0, 0, 265, kAreaHeight);
    GroupBox = named(new QGroupBox(ru("Настройка для белого профиля"), areas), "GroupBox");
    GroupBox->setGeometry(272, 8, 257, kAreaHeight);
    GroupBox1 =
        named(new QGroupBox(ru("Настройка для ламинированного профиля"), areas), "GroupBox1");
    GroupBox1->setGeometry(536, 8, 257, kAreaHeight);

    int rowsInArea[3] = {};
    const auto& rows = settingControls();
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const SettingControl& row = rows[index];
        QWidget* area = row.area == SettingsArea::General        ? static_cast<QWidget*>(Panel1)
                        : row.area == SettingsArea::WhiteProfile ? GroupBox
                                                                 : GroupBox1;
        // The general panel starts level with the groups' first rows.
        const int top = (row.area == SettingsArea::General ? kFirstRowTop + 8 : kFirstRowTop) +
                        kRowPitch * rowsInArea[static_cast<int>(row.area)]++;
        auto* edit = named(new QLineEdit(area), std::string(row.edit).c_str());
        edit->setGeometry(kRowLeft, top, kEditWidth, kEditHeight);
        auto* button = speedButton(std::string(row.button).c_str(), ru(row.caption));
        button->setParent(area);
        button->setGeometry(kRowLeft + kEditWidth + 2, top, kButtonWidth, kButtonHeight);
        fitCaption(button);
        if (!row.hint.empty()) {
            button->setToolTip(ru(row.hint));
        }
        connect(button, &QPushButton::clicked, this, guarded([this, index] { applyRow(index); }));
        edits_.push_back(edit);
    }

    const int saveTop = kFirstRowTop + kRowPitch * rowsInArea[1] + 4;
    auto saveButton = [saveTop, this](QGroupBox* group, const char* name) {
        auto* save = speedButton(name, ru("СОХРАНИТЬ"));
        save->setParent(group);
        save->setGeometry(kRowLeft, saveTop, 238, kButtonHeight);
        connect(save, &QPushButton::clicked, this, guarded([this] { SpeedButton1Click(); }));
        return save;
    };
    SpeedButton1 = saveButton(GroupBox, "SpeedButton1");
    SpeedButton19 = saveButton(GroupBox1, "SpeedButton19");

    Panel2 = named(new QFrame(this), "Panel2");
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
    BitBtn1 = named(new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton),
                                    QStringLiteral("&Close"), Panel2),
                    "BitBtn1");
    BitBtn1->setGeometry(424, 8, 75, 25);
    connect(BitBtn1, &QPushButton::clicked, this, &QWidget::close);
    Button_History = named(new QPushButton(ru("История изменений..."), Panel2), "Button_History");
    Button_History->setGeometry(kRowLeft, 8, 160, 25);
    connect(Button_History, &QPushButton::clicked, this, guarded([this] { showHistory(); }));

    buildPortTools();

    normalPalette_ = edits_.front()->palette();
    appliedPalette_ = normalPalette_;
    appliedPalette_.setColor(QPalette::Base, QColor(0, 255, 0));
}

// Below the general parameters: the serial port, so that a port can be chosen and tried on
// site. Only this window, behind the password, offers these.
void TSet_Form::buildPortTools() {
    GroupBoxPort = named(new QGroupBox(ru("Порт контроллера"), Panel1), "GroupBoxPort");
    GroupBoxPort->setGeometry(kRowLeft, 140, 249, 150);
    Label_Port = named(new QLabel(GroupBoxPort), "Label_Port");
    Label_Port->setGeometry(kRowLeft, kFirstRowTop, 233, kButtonHeight);
    struct PortTool {
        const char* name;
        const char* caption;
        std::function<void()> action;
    };
    const PortTool tools[] = {
        {"Button_PortOpen", "Открыть / закрыть порт", [this] { console_.openOrCloseLine(); }},
        {"Button_PortSetup", "Настройка порта...", [this] { runPortSetup(); }},
        {"Button_PortLoad", "Загрузить настройки порта", [this] { console_.loadPortSettings(); }},
        {"Button_PortStore", "Сохранить настройки порта", [this] { console_.storePortSettings(); }},
    };
    int top = kFirstRowTop + kRowPitch;
    for (const PortTool& tool : tools) {
        auto* button = speedButton(tool.name, ru(tool.caption));
        button->setParent(GroupBoxPort);
        button->setGeometry(kRowLeft, top, 233, kButtonHeight);
        top += kRowPitch + 4;
        connect(button, &QPushButton::clicked, this,
                guarded([this, action = tool.action] { runPortAction(action); }));
    }
}

// The setup dialog shows the line's settings and hands back the service person's choices.
void TSet_Form::runPortSetup() {
    TComSetupFrm form(console_.lineChoices(), this);
    if (form.exec() == QDialog::Accepted) {
        console_.applyLineChoices(form.Choices());
    }
}

// The port label shows the outcome of an action on the port, also of one that failed half-way.
void TSet_Form::runPortAction(const std::function<void()>& action) {
    try {
        action();
    } catch (...) {
        showPortState();
        throw;
    }
    showPortState();
}

void TSet_Form::showPortState() {
    Label_Port->setText(fromCp1251(console_.portName() + ": " + console_.lineStatusText()));
}

// Only the close strip follows the window's width and bottom edge; the areas above it scroll.
void TSet_Form::resizeEvent(QResizeEvent* event) {
    const int above = std::max(event->size().height() - kCloseStripHeight, 0);
    Scroller->setGeometry(0, 0, event->size().width(), above);
    Panel2->setGeometry(0, above, event->size().width(), kCloseStripHeight);
}

void TSet_Form::showHistory() {
    if (!history_) {
        history_ = new HistoryWindow(console_.databaseString(),
                                     console_.startUpState().directory().path, this);
        history_->setAttribute(Qt::WA_DeleteOnClose);
    }
    history_->show();
    history_->raise();
}

// What was opened behind the password closes with the window.
void TSet_Form::hideEvent(QHideEvent* event) {
    idle_->stop();
    if (history_) {
        history_->close();
    }
    QWidget::hideEvent(event);
}

// Only input meant for this window counts: scans keep coming to the main window meanwhile.
bool TSet_Form::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    // This window, or one opened from it (a box, the history, a file dialog over the history).
    const auto* widget = qobject_cast<const QWidget*>(watched);
    bool ours = false;
    for (const QWidget* window = widget != nullptr ? widget->window() : nullptr;
         window != nullptr && !ours;
         window = window->parentWidget() != nullptr ? window->parentWidget()->window() : nullptr) {
        ours = window == this;
    }
    if (ours && idle_->active() &&
        (type == QEvent::KeyPress || type == QEvent::MouseButtonPress || type == QEvent::Wheel)) {
        idle_->stop();
        idle_->start();
    }
    return QWidget::eventFilter(watched, event);
}

void TSet_Form::showEvent(QShowEvent* event) {
    idle_->start();
    // A window restored from the task bar gets a spontaneous show; only a hidden window that is
    // shown again is refilled.
    if (!event->spontaneous()) {
        FormShow();
    }
}

void TSet_Form::FormShow() {
    const auto& rows = settingControls();
    for (QLineEdit* edit : edits_) {
        edit->setPalette(normalPalette_);
    }
    for (std::size_t index = 0; index < rows.size(); ++index) {
        edits_[index]->setText(fromCp1251(shownText(console_.variables(), *rows[index].parameter)));
    }
    // Once the window is on the screen, so that a port that cannot be opened is reported over
    // the window with its values already filled in. A port that is waited for (lost, or not
    // there at start-up) opens by itself: the label says so, and no box.
    showPortState();
    QMetaObject::invokeMethod(
        this, [this] { runPortAction([this] { console_.openLineUnlessWaitedFor(); }); },
        Qt::QueuedConnection);
}

// Green only for what was applied whole: a failure (of any step) leaves the edit plain, even
// when an earlier apply had made it green.
void TSet_Form::applyRow(std::size_t index) {
    edits_[index]->setPalette(normalPalette_);
    console_.applySetting(*settingControls()[index].parameter, toCp1251(edits_[index]->text()));
    edits_[index]->setPalette(appliedPalette_);
}

void TSet_Form::SpeedButton1Click() {
    console_.saveControllerSettings();
    close();
}

}  // namespace velkor
