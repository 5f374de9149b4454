#include "shell/FileDrop.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace velmora {

FileDrop::FileDrop(const QList<QWidget*>& targets, Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)) {
    for (QWidget* target : targets) {
        target->setAcceptDrops(true);
        target->installEventFilter(this);
    }
}

QStringList FileDrop::localFiles(const QMimeData* data) {
    QStringList paths;
    if (data == nullptr || !data->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) {
            return {};
        }
        paths << url.toLocalFile();
    }
    return paths;
}

bool FileDrop::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (localFiles(drag->mimeData()).isEmpty()) {
                break;
            }
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QStringList paths = localFiles(drop->mimeData());
            if (paths.isEmpty()) {
                break;
            }
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            // After the drop has ended: the handler may ask or tell the user, and the program
            // the files came from waits for the drop's end.
            QMetaObject::invokeMethod(
                this, [this, paths] { m_handler(paths); }, Qt::QueuedConnection);
            return true;
        }
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace velmora
