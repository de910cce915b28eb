#pragma once

#include <QPoint>
#include <QPushButton>
#include <QSize>
#include <QString>
#include <optional>
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

// Sizes a window to `wanted`, or smaller where its screen has less room, and places it at its
// design position (or in the middle) moved as far as it takes to be wholly on the screen. The
// window's contents must shrink or scroll for this to help.
void fitOnScreen(QWidget& window, QSize wanted, std::optional<QPoint> designPosition = {});

}  // namespace velkor
