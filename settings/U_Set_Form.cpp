#include "U_Set_Form.h"

namespace velkor {

TSet_Form::TSet_Form(ConsoleState& state, QWidget* parent)
    : QWidget(parent, Qt::Window), state_(state) {
    setObjectName(QStringLiteral("Set_Form"));
    setWindowTitle(QString::fromUtf8("Настрока"));
    resize(810, 535);
}

}  // namespace velkor
