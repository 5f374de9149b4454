#pragma once

#include <QLabel>

namespace velmora {

// A label that acts as a link: blue, underlined, with the hand cursor; a left click emits
// clicked, a right click emits rightClicked with the screen point.
class LinkLabel : public QLabel {
    Q_OBJECT

public:
    explicit LinkLabel(const QString& text, QWidget* parent = nullptr);

signals:
    void clicked();
    void rightClicked(const QPoint& globalPosition);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace velmora
