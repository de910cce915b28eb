#include "ComSetupDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <functional>

#include "ComPortText.h"

namespace velkor {
namespace {

// What a list offers for its setting, and how it reads and writes it in a LineChoices value.
struct PropertyBinding {
    std::function<QStringList()> entries;
    std::function<std::string(const LineChoices&)> current;
    std::function<void(LineChoices&, const std::string&)> choose;
};

// The text forms of every value of an enumeration, in declaration order.
template <typename Enum>
QStringList textsOf(Enum last, std::string (*toText)(Enum)) {
    QStringList texts;
    for (int v = 0; v <= static_cast<int>(last); ++v) {
        texts << QString::fromStdString(toText(static_cast<Enum>(v)));
    }
    return texts;
}

const PropertyBinding* bindingOf(TComProperty property) {
    static const PropertyBinding bindings[] = {
        {},  // cpNone
        {[] {
             QStringList ports;
             ListSerialPortChoices(ports);
             return ports;
         },
         [](const LineChoices& c) { return c.port; },
         [](LineChoices& c, const std::string& v) { c.port = v; }},
        {[] { return textsOf(br256000, &BaudRateToText); },
         [](const LineChoices& c) { return BaudRateToText(c.baudRate); },
         [](LineChoices& c, const std::string& v) { c.baudRate = TextToBaudRate(v); }},
        {[] { return textsOf(dbEight, &DataBitsToText); },
         [](const LineChoices& c) { return DataBitsToText(c.dataBits); },
         [](LineChoices& c, const std::string& v) { c.dataBits = TextToDataBits(v); }},
        {[] { return textsOf(sbTwoStopBits, &StopBitsToText); },
         [](const LineChoices& c) { return StopBitsToText(c.stopBits); },
         [](LineChoices& c, const std::string& v) { c.stopBits = TextToStopBits(v); }},
        {[] { return textsOf(prSpace, &ParityToText); },
         [](const LineChoices& c) { return ParityToText(c.parity); },
         [](LineChoices& c, const std::string& v) { c.parity = TextToParity(v); }},
        {[] { return textsOf(fcCustom, &FlowControlToText); },
         [](const LineChoices& c) { return FlowControlToText(c.flowControl); },
         [](LineChoices& c, const std::string& v) { c.flowControl = TextToFlowControl(v); }},
    };
    return property == cpNone ? nullptr : &bindings[property];
}

}  // namespace

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent) {
    connect(this, &QComboBox::currentIndexChanged, this, [this] {
        if (autoApply_ && !updating_) {
            ApplySettings();
        }
    });
}

void TComComboBox::SetComPort(TCustomComPort* port) {
    comPort_ = port;
    UpdateSettings();
}

// A port may also be typed: a device path the lists do not show (a pseudo-terminal, a link of
// the site's own).
void TComComboBox::SetComProperty(TComProperty property) {
    comProperty_ = property;
    setEditable(property == cpPort);
    fillEntries();
}

void TComComboBox::fillEntries() {
    updating_ = true;
    clear();
    if (const PropertyBinding* binding = bindingOf(comProperty_)) {
        addItems(binding->entries());
    }
    updating_ = false;
    UpdateSettings();
}

void TComComboBox::ShowChoice(const LineChoices& choices) {
    const PropertyBinding* binding = bindingOf(comProperty_);
    if (binding == nullptr) {
        return;
    }
    updating_ = true;
    const QString current = QString::fromStdString(binding->current(choices));
    setCurrentIndex(findText(current));
    if (isEditable()) {
        setEditText(current);
    }
    updating_ = false;
}

void TComComboBox::TakeChoice(LineChoices& choices) const {
    const PropertyBinding* binding = bindingOf(comProperty_);
    const QString chosen = currentText().trimmed();
    if (binding != nullptr && (currentIndex() >= 0 || (isEditable() && !chosen.isEmpty()))) {
        binding->choose(choices, chosen.toStdString());
    }
}

void TComComboBox::UpdateSettings() {
    if (comPort_ != nullptr) {
        ShowChoice(lineChoicesOf(*comPort_));
    }
}

void TComComboBox::ApplySettings() {
    if (comPort_ == nullptr) {
        return;
    }
    LineChoices choices = lineChoicesOf(*comPort_);
    TakeChoice(choices);
    setLineChoices(*comPort_, choices);
}

TComSetupFrm::TComSetupFrm(const LineChoices& current, QWidget* parent)
    : QDialog(parent), current_(current) {
    setObjectName(QStringLiteral("ComSetupFrm"));
    setWindowTitle(QStringLiteral("Setup"));
    auto* group = new QGroupBox(QStringLiteral(" Settings "), this);
    auto* rows = new QFormLayout(group);
    const std::pair<TComProperty, const char*> lists[] = {
        {cpPort, "Port"},          {cpBaudRate, "Baud rate"}, {cpDataBits, "Data bits"},
        {cpStopBits, "Stop bits"}, {cpParity, "Parity"},      {cpFlowControl, "Flow control"}};
    for (std::size_t i = 0; i < lists_.size(); ++i) {
        auto* list = new TComComboBox(group);
        list->setObjectName(QString::fromLatin1(lists[i].second).remove(QLatin1Char(' ')));
        list->SetComProperty(lists[i].first);
        if (lists[i].first == cpPort) {  // wide enough for a /dev/serial/by-id path
            list->setMinimumContentsLength(40);
            list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        }
        list->ShowChoice(current_);
        rows->addRow(QString::fromLatin1(lists[i].second), list);
        lists_[i] = list;
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);
}

LineChoices TComSetupFrm::Choices() const {
    LineChoices choices = current_;
    for (const TComComboBox* list : lists_) {
        list->TakeChoice(choices);
    }
    return choices;
}

void RunSetupDialog(TCustomComPort& port) {
    TComSetupFrm form(lineChoicesOf(port), QApplication::activeWindow());
    if (form.exec() == QDialog::Accepted) {
        applyLineChoices(port, form.Choices());
    }
}

}  // namespace velkor
