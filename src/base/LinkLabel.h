#pragma once

#include <QLabel>

namespace velmora {

// A label that acts as a link: blue, underlined, with the hand cursor; a left click emits
// clicked, a right click emits rightClicked with the screen point. It takes the focus by Tab
// like a button, shows a focus frame, and Enter, Return or Space emit clicked; the context menu
// key and Shift+F10 emit rightClicked below the link. Disabled, it is grey and has no hand
// cursor.
class LinkLabel : public QLabel {
    Q_OBJECT

public:
    explicit LinkLabel(const QString& text, QWidget* parent = nullptr);

signals:
    void clicked();
    void rightClicked(const QPoint& globalPosition);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
};

}  // namespace velmora
