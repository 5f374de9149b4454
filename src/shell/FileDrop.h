#pragma once

#include <QList>
#include <QObject>
#include <QStringList>

#include <functional>

class QMimeData;
class QWidget;

namespace velmora {

// Takes files dropped from a file manager on the given widgets: a drag that carries local files
// is accepted there (a drag of text still goes to a widget that takes text), and a drop hands
// the files' paths, in the order dragged, to the handler. Nothing else of the drag is taken.
class FileDrop : public QObject {
public:
    using Handler = std::function<void(const QStringList& paths)>;

    FileDrop(const QList<QWidget*>& targets, Handler handler, QObject* parent = nullptr);

    // The local files a drag carries; empty when it carries anything else as well, or nothing.
    static QStringList localFiles(const QMimeData* data);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Handler m_handler;
};

}  // namespace velmora
