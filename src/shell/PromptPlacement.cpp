#include "shell/PromptPlacement.h"

#include <QApplication>
#include <QWidget>
#include <QWindow>

namespace velmora {

void placeOverActiveWindow(QWidget& prompt) {
    QWidget* const owner = QApplication::activeWindow();
    if (owner == nullptr || owner == &prompt) {
        return;
    }
    prompt.adjustSize();
    prompt.move(owner->frameGeometry().center() - prompt.rect().center());
    if (QWindow* const ownerWindow = owner->windowHandle()) {
        prompt.winId();
        prompt.windowHandle()->setTransientParent(ownerWindow);
    }
}

}  // namespace velmora
