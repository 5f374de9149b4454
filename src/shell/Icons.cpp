#include "shell/Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace velmora {

namespace {

// Every picture is drawn on a 16 x 16 grid, scaled to the pixmap's size.
void drawPage(QPainter& p, const QRectF& r) {
    QPainterPath page;
    page.moveTo(r.left(), r.top());
    page.lineTo(r.right() - 3, r.top());
    page.lineTo(r.right(), r.top() + 3);
    page.lineTo(r.right(), r.bottom());
    page.lineTo(r.left(), r.bottom());
    page.closeSubpath();
    p.setPen(QPen(QColor(70, 70, 70), 1));
    p.setBrush(Qt::white);
    p.drawPath(page);
}

void drawArrow(QPainter& p, const QPointF& from, const QPointF& to, const QColor& color) {
    p.setPen(QPen(color, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    const QPointF d = (to - from) / std::max(1.0, std::hypot((to - from).x(), (to - from).y()));
    const QPointF n(-d.y(), d.x());
    p.drawLine(to, to - d * 3.5 + n * 3);
    p.drawLine(to, to - d * 3.5 - n * 3);
}

void drawFolder(QPainter& p) {
    p.setPen(QPen(QColor(140, 100, 20), 1));
    p.setBrush(QColor(245, 200, 80));
    QPainterPath folder;
    folder.moveTo(1.5, 3.5);
    folder.lineTo(6, 3.5);
    folder.lineTo(7.5, 5);
    folder.lineTo(14.5, 5);
    folder.lineTo(14.5, 13.5);
    folder.lineTo(1.5, 13.5);
    folder.closeSubpath();
    p.drawPath(folder);
    p.setBrush(QColor(255, 222, 120));
    p.drawRect(QRectF(1.5, 7, 13, 6.5));
}

void drawPicture(QPainter& p, CommandIcon icon) {
    const QColor blue(30, 90, 190);
    const QColor green(30, 150, 60);
    const QColor red(200, 40, 40);
    switch (icon) {
        case CommandIcon::Wizard:
            p.setPen(QPen(QColor(90, 60, 30), 2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(2, 14), QPointF(10, 6));
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(240, 180, 0));
            {
                QPainterPath star;
                star.moveTo(12, 1);
                star.lineTo(13, 4);
                star.lineTo(16, 4.5);
                star.lineTo(13.5, 6.5);
                star.lineTo(14.5, 9.5);
                star.lineTo(12, 7.5);
                star.lineTo(9.5, 9.5);
                star.lineTo(10.5, 6.5);
                star.lineTo(8, 4.5);
                star.lineTo(11, 4);
                star.closeSubpath();
                p.drawPath(star);
            }
            break;
        case CommandIcon::NewConnection:
            drawPage(p, QRectF(3.5, 1.5, 10, 13));
            p.setPen(QPen(green, 2));
            p.drawLine(QPointF(8.5, 5.5), QPointF(8.5, 11.5));
            p.drawLine(QPointF(5.5, 8.5), QPointF(11.5, 8.5));
            break;
        case CommandIcon::OpenConnection:
            drawFolder(p);
            break;
        case CommandIcon::Save:
            p.setPen(QPen(QColor(20, 40, 90), 1));
            p.setBrush(blue);
            p.drawRect(QRectF(1.5, 1.5, 13, 13));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(4, 1.5, 8, 5));
            p.setBrush(QColor(200, 200, 200));
            p.drawRect(QRectF(4, 9.5, 8, 5));
            break;
        case CommandIcon::Disconnect:
            p.setPen(QPen(QColor(80, 80, 80), 2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(1, 8), QPointF(5, 8));
            p.drawLine(QPointF(11, 8), QPointF(15, 8));
            p.setBrush(QColor(150, 150, 150));
            p.drawRect(QRectF(4, 5, 2.5, 6));
            p.drawRect(QRectF(9.5, 5, 2.5, 6));
            p.setPen(QPen(red, 2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(6, 2), QPointF(10, 14));
            break;
        case CommandIcon::Options: {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(110, 110, 120));
            for (int tooth = 0; tooth < 8; ++tooth) {
                p.save();
                p.translate(8, 8);
                p.rotate(tooth * 45.0);
                p.drawRect(QRectF(-1.5, -7.5, 3, 4));
                p.restore();
            }
            p.drawEllipse(QPointF(8, 8), 5, 5);
            p.setBrush(Qt::white);
            p.drawEllipse(QPointF(8, 8), 2, 2);
            break;
        }
        case CommandIcon::Cut:
            p.setPen(QPen(QColor(60, 60, 60), 1.5));
            p.drawLine(QPointF(4, 1), QPointF(10, 11));
            p.drawLine(QPointF(12, 1), QPointF(6, 11));
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(red, 1.5));
            p.drawEllipse(QPointF(4.5, 12.5), 2.5, 2.5);
            p.drawEllipse(QPointF(11.5, 12.5), 2.5, 2.5);
            break;
        case CommandIcon::Copy:
            drawPage(p, QRectF(1.5, 1.5, 8, 10));
            drawPage(p, QRectF(6.5, 4.5, 8, 10));
            break;
        case CommandIcon::Paste:
            p.setPen(QPen(QColor(100, 70, 30), 1));
            p.setBrush(QColor(190, 140, 70));
            p.drawRect(QRectF(1.5, 2.5, 10, 12));
            p.setBrush(QColor(170, 170, 170));
            p.drawRect(QRectF(4.5, 1.5, 4, 2.5));
            drawPage(p, QRectF(7.5, 6.5, 7, 8));
            break;
        case CommandIcon::SendFile:
            drawPage(p, QRectF(1.5, 1.5, 9, 12));
            drawArrow(p, QPointF(6, 10), QPointF(15, 10), green);
            break;
        case CommandIcon::ReceiveFile:
            drawPage(p, QRectF(5.5, 1.5, 9, 12));
            drawArrow(p, QPointF(1, 10), QPointF(10, 10), blue);
            break;
        case CommandIcon::TransfersList:
            p.setPen(QPen(QColor(80, 80, 80), 1));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(1.5, 1.5, 13, 13));
            p.setPen(QPen(blue, 2));
            for (const double y : {5.0, 8.0, 11.0}) {
                p.drawLine(QPointF(4, y), QPointF(12, y));
            }
            break;
        case CommandIcon::Help: {
            p.setPen(Qt::NoPen);
            p.setBrush(blue);
            p.drawEllipse(QRectF(1, 1, 14, 14));
            QFont font = p.font();
            font.setBold(true);
            font.setPixelSize(11);
            p.setFont(font);
            p.setPen(Qt::white);
            p.drawText(QRectF(1, 1, 14, 14), Qt::AlignCenter, QStringLiteral("?"));
            break;
        }
        case CommandIcon::Abort:
            p.setPen(QPen(QColor(120, 20, 20), 1));
            p.setBrush(red);
            p.drawRect(QRectF(3.5, 3.5, 9, 9));
            break;
        case CommandIcon::Pause:
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(210, 150, 0));
            p.drawRect(QRectF(3.5, 3, 3.5, 10));
            p.drawRect(QRectF(9, 3, 3.5, 10));
            break;
        case CommandIcon::Resume: {
            p.setPen(Qt::NoPen);
            p.setBrush(green);
            QPainterPath play;
            play.moveTo(4, 2.5);
            play.lineTo(13, 8);
            play.lineTo(4, 13.5);
            play.closeSubpath();
            p.drawPath(play);
            break;
        }
        case CommandIcon::Send:
            drawArrow(p, QPointF(2, 8), QPointF(14, 8), green);
            break;
        case CommandIcon::Clear:
            p.setPen(QPen(red, 2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(4, 4), QPointF(12, 12));
            p.drawLine(QPointF(12, 4), QPointF(4, 12));
            break;
        case CommandIcon::Print:
            p.setPen(QPen(QColor(60, 60, 60), 1));
            p.setBrush(QColor(180, 180, 180));
            p.drawRect(QRectF(1.5, 6.5, 13, 6));
            drawPage(p, QRectF(4.5, 1.5, 7, 5));
            drawPage(p, QRectF(4.5, 10.5, 7, 4));
            break;
        case CommandIcon::Link:
            p.setPen(QPen(blue, 1.5));
            p.setBrush(QColor(200, 220, 255));
            p.drawEllipse(QRectF(2, 2, 12, 12));
            drawArrow(p, QPointF(5, 8), QPointF(11.5, 8), blue);
            break;
        case CommandIcon::Application:
            p.setPen(QPen(QColor(20, 50, 110), 1));
            p.setBrush(QColor(60, 120, 210));
            p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
            p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawLine(QPointF(4, 4), QPointF(8, 12));
            p.drawLine(QPointF(8, 12), QPointF(12, 4));
            break;
    }
}

QPixmap render(CommandIcon icon, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);
    drawPicture(painter, icon);
    return pixmap;
}

// The grey image of a disabled command: the picture's lightness, washed out.
QPixmap grey(const QPixmap& pixmap) {
    QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int level = 128 + qGray(line[x]) / 3;
            line[x] = qRgba(level, level, level, qAlpha(line[x]) * 2 / 3);
        }
    }
    return QPixmap::fromImage(image);
}

}  // namespace

QIcon commandIcon(CommandIcon icon) {
    QIcon result;
    for (const int size : {16, 24, 32}) {
        const QPixmap picture = render(icon, size);
        result.addPixmap(picture, QIcon::Normal);
        result.addPixmap(grey(picture), QIcon::Disabled);
    }
    return result;
}

}  // namespace velmora
