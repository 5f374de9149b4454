#include "shell/TransfersListDelegate.h"

#include "shell/Icons.h"
#include "transfer/IcoCodec.h"
#include "transfer/TransfersModel.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>

namespace velmora {

namespace {

constexpr int IconSize = 16;

QIcon stateIcon(int stateImage) {
    switch (stateImage) {
        case siPaused:
            return commandIcon(CommandIcon::Pause);
        case siStopped:
            return commandIcon(CommandIcon::Abort);
        case siReceiving:
            return commandIcon(CommandIcon::ReceiveFile);
        default:
            return commandIcon(CommandIcon::SendFile);
    }
}

}  // namespace

const QPixmap& TransfersListDelegate::lineImage(const QModelIndex& index) const {
    const int stateImage = index.data(TransfersModel::StateImageRole).toInt();
    const qint64 key = index.data(TransfersModel::IconIndexRole).toLongLong() * 4 + stateImage;
    auto found = m_lineImages.find(key);
    if (found == m_lineImages.end()) {
        QPixmap pixmap(ImagesWidth, IconSize);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        stateIcon(stateImage).paint(&painter, QRect(0, 0, IconSize, IconSize));
        const QImage fileIcon = decodeIco16(index.data(TransfersModel::IconRole).toByteArray());
        if (!fileIcon.isNull()) {
            painter.drawImage(QPoint(IconSize + 2, 0), fileIcon);
        }
        painter.end();
        found = m_lineImages.insert(key, pixmap);
    }
    return *found;
}

int TransfersListDelegate::percentOf(const QString& text) {
    bool ok = false;
    const int value = text.section(QLatin1Char(' '), 0, 0).toInt(&ok);
    return ok ? std::clamp(value, 0, 100) : 0;
}

void TransfersListDelegate::initStyleOption(QStyleOptionViewItem* option,
                                            const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.column() == 0) {
        option->features |= QStyleOptionViewItem::HasDecoration;
        option->icon = QIcon(lineImage(index));
        option->decorationSize = QSize(ImagesWidth, IconSize);
    }
}

void TransfersListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    if (index.column() != PercentColumn) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    // The line's selection and background first, then the bar with the text on it.
    item.text.clear();
    const QStyle* style = item.widget != nullptr ? item.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, item.widget);

    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(1, 1, -1, -1);
    bar.minimum = 0;
    bar.maximum = 100;
    const QString text = index.data().toString();
    bar.progress = percentOf(text);
    bar.textVisible = false;
    bar.state = option.state | QStyle::State_Horizontal;
    bar.palette = option.palette;
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, item.widget);

    // The figure on a plate of the list's own colour, so that it reads the same over the fill,
    // over its edge and beside it (a style that colours the text by the fill's edge cuts the
    // digit the edge crosses).
    const QFontMetrics metrics(option.font);
    QRect plate = metrics.boundingRect(bar.rect, Qt::AlignCenter, text).adjusted(-2, 0, 2, 0);
    plate = plate.intersected(bar.rect.adjusted(1, 1, -1, -1));
    painter->save();
    QColor base = option.palette.color(QPalette::Base);
    base.setAlpha(220);
    painter->setPen(Qt::NoPen);
    painter->setBrush(base);
    painter->drawRoundedRect(plate, 2, 2);
    painter->setPen(option.palette.color(QPalette::Text));
    painter->setFont(option.font);
    painter->drawText(bar.rect, Qt::AlignCenter, text);
    painter->restore();
}

QSize TransfersListDelegate::sizeHint(const QStyleOptionViewItem& option,
                                      const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(std::max(size.height(), IconSize + 4));
    return size;
}

}  // namespace velmora
