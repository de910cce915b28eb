#pragma once

#include <QWidget>

#include "ConsoleState.h"

namespace velkor {

// The settings window, where a service person reads and changes the machine's parameters.
// Created hidden at program start right after the main window; it owns no data and works on
// the console's machine variables.
class TSet_Form : public QWidget {
    Q_OBJECT

  public:
    explicit TSet_Form(ConsoleState& state, QWidget* parent = nullptr);

  private:
    ConsoleState& state_;
};

}  // namespace velkor
