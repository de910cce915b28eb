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

// What a list offers for its setting, reads from the port and writes to it.
struct PropertyBinding {
    std::function<QStringList()> entries;
    std::function<std::string(TCustomComPort&)> current;
    std::function<void(TCustomComPort&, const std::string&)> apply;
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
             ListSerialPorts(ports);
             return ports;
         },
         [](TCustomComPort& p) { return p.Port(); },
         [](TCustomComPort& p, const std::string& v) { p.SetPort(v); }},
        {[] { return textsOf(br256000, &BaudRateToText); },
         [](TCustomComPort& p) { return BaudRateToText(p.BaudRate()); },
         [](TCustomComPort& p, const std::string& v) { p.SetBaudRate(TextToBaudRate(v)); }},
        {[] { return textsOf(dbEight, &DataBitsToText); },
         [](TCustomComPort& p) { return DataBitsToText(p.DataBits()); },
         [](TCustomComPort& p, const std::string& v) { p.SetDataBits(TextToDataBits(v)); }},
        {[] { return textsOf(sbTwoStopBits, &StopBitsToText); },
         [](TCustomComPort& p) { return StopBitsToText(p.StopBits()); },
         [](TCustomComPort& p, const std::string& v) { p.SetStopBits(TextToStopBits(v)); }},
        {[] { return textsOf(prSpace, &ParityToText); },
         [](TCustomComPort& p) { return ParityToText(p.Parity().Bits()); },
         [](TCustomComPort& p, const std::string& v) { p.Parity().SetBits(TextToParity(v)); }},
        {[] { return textsOf(fcCustom, &FlowControlToText); },
         [](TCustomComPort& p) { return FlowControlToText(p.FlowControl().FlowControl()); },
         [](TCustomComPort& p, const std::string& v) {
             p.FlowControl().SetFlowControl(TextToFlowControl(v));
         }},
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

void TComComboBox::SetComProperty(TComProperty property) {
    comProperty_ = property;
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

void TComComboBox::UpdateSettings() {
    const PropertyBinding* binding = bindingOf(comProperty_);
    if (binding == nullptr || comPort_ == nullptr) {
        return;
    }
    updating_ = true;
    setCurrentIndex(findText(QString::fromStdString(binding->current(*comPort_))));
    updating_ = false;
}

void TComComboBox::ApplySettings() {
    const PropertyBinding* binding = bindingOf(comProperty_);
    if (binding == nullptr || comPort_ == nullptr || currentIndex() < 0) {
        return;
    }
    binding->apply(*comPort_, currentText().toStdString());
}

TComSetupFrm::TComSetupFrm(TCustomComPort& port, QWidget* parent) : QDialog(parent) {
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
        list->SetComPort(&port);
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

void TComSetupFrm::ApplySettings() {
    for (TComComboBox* list : lists_) {
        list->ApplySettings();
    }
}

void TCustomComPort::RunSetupDialog() {
    TComSetupFrm form(*this, QApplication::activeWindow());
    if (form.exec() != QDialog::Accepted) {
        return;
    }
    BeginSettingsUpdate();
    try {
        form.ApplySettings();
    } catch (...) {
        EndSettingsUpdate();
        throw;
    }
    EndSettingsUpdate();
}

}  // namespace velkor
