#include "connections/WizardPicture.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace velmora {

namespace {

// A computer of the picture: a monitor on a foot, its screen lit, a keyboard in front. Drawn
// in a box of 80 x 70 units with its top left at the origin.
void drawComputer(QPainter& painter) {
    painter.setPen(QPen(QColor(70, 70, 80), 1.5));
    painter.setBrush(QColor(222, 222, 214));
    painter.drawRoundedRect(QRectF(8, 0, 64, 46), 4, 4);
    QLinearGradient screen(0, 4, 0, 40);
    screen.setColorAt(0, QColor(90, 150, 230));
    screen.setColorAt(1, QColor(20, 60, 140));
    painter.setBrush(screen);
    painter.drawRect(QRectF(14, 5, 52, 34));
    painter.setPen(QPen(QColor(230, 240, 255), 1.5));
    for (int line = 0; line < 3; ++line) {
        painter.drawLine(QPointF(19, 12 + line * 8), QPointF(19 + 30 - line * 8, 12 + line * 8));
    }
    painter.setPen(QPen(QColor(70, 70, 80), 1.5));
    painter.setBrush(QColor(200, 200, 192));
    painter.drawRect(QRectF(34, 46, 12, 8));
    painter.drawRoundedRect(QRectF(0, 58, 80, 12), 3, 3);
    painter.setPen(QPen(QColor(150, 150, 145), 1));
    for (int key = 0; key < 9; ++key) {
        painter.drawLine(QPointF(6 + key * 8, 61), QPointF(6 + key * 8, 67));
    }
}

// A modem: a flat box with its lights.
void drawModem(QPainter& painter) {
    painter.setPen(QPen(QColor(70, 70, 80), 1.5));
    painter.setBrush(QColor(60, 60, 66));
    painter.drawRoundedRect(QRectF(0, 0, 44, 14), 3, 3);
    const QColor lights[] = {QColor(90, 220, 90), QColor(90, 220, 90), QColor(250, 190, 40)};
    painter.setPen(Qt::NoPen);
    for (int light = 0; light < 3; ++light) {
        painter.setBrush(lights[light]);
        painter.drawEllipse(QPointF(8 + light * 8, 7), 2, 2);
    }
}

}  // namespace

WizardPicture::WizardPicture(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("Image1"));
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Sunken);
    setMinimumSize(120, 220);
}

void WizardPicture::setModem(bool modem) {
    if (m_modem != modem) {
        m_modem = modem;
        update();
    }
}

void WizardPicture::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect area = contentsRect();
    QLinearGradient sky(0, area.top(), 0, area.bottom());
    sky.setColorAt(0, QColor(235, 242, 252));
    sky.setColorAt(1, QColor(190, 210, 240));
    painter.fillRect(area, sky);

    // The picture is laid out on 100 x 220 units and scaled to the panel, kept in proportion.
    const qreal scale = std::min(area.width() / 100.0, area.height() / 220.0);
    painter.translate(area.center());
    painter.scale(scale, scale);
    painter.translate(-50, -110);

    // The line between the two computers' ports, drawn first so that the boxes cover its ends.
    QPainterPath line;
    if (m_modem) {
        line.moveTo(78, 58);
        line.cubicTo(96, 58, 96, 80, 84, 88);
        line.lineTo(84, 92);
        // The telephone line: a wavy wire down the side.
        for (int wave = 0; wave < 4; ++wave) {
            const qreal y = 92 + wave * 9;
            line.cubicTo(92, y + 2, 76, y + 7, 84, y + 9);
        }
        line.cubicTo(96, 140, 96, 168, 78, 172);
    } else {
        line.moveTo(78, 44);
        line.cubicTo(100, 44, 100, 186, 78, 186);
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(40, 40, 45), 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawPath(line);

    painter.save();
    painter.translate(10, 10);
    drawComputer(painter);
    painter.restore();
    painter.save();
    painter.translate(10, 140);
    drawComputer(painter);
    painter.restore();
    if (m_modem) {
        for (const qreal y : {50.0, 164.0}) {
            painter.save();
            painter.translate(46, y);
            drawModem(painter);
            painter.restore();
        }
    }
}

}  // namespace velmora
