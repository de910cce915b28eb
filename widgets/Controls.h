#pragma once

#include <QPushButton>
#include <QString>
#include <string_view>

namespace velkor {

// A caption or message written in the source as UTF-8.
inline QString ru(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// Every control carries its manual name as its object name, so that it can be found.
template <typename Widget>
Widget* named(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// Speed buttons: clicking one never takes the keyboard focus from where the operator typed.
inline QPushButton* speedButton(const char* name, const QString& caption) {
    auto* button = named(new QPushButton(caption), name);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

}  // namespace velkor
