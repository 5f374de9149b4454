#include "shell/MainForm.h"

namespace velmora {

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Oskvale Velmora"));
    resize(550, 420);
}

}  // namespace velmora
