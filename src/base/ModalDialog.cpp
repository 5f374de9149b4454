#include "base/ModalDialog.h"

#include <QDialog>

namespace velmora {

void showModal(QDialog& dialog, std::function<void()> closed) {
    if (closed) {
        QObject::connect(
            &dialog, &QDialog::finished, &dialog, [closed = std::move(closed)] { closed(); },
            Qt::SingleShotConnection);
    }
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
}

}  // namespace velmora
