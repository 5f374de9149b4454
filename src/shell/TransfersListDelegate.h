#pragma once

#include <QHash>
#include <QPixmap>
#include <QStyledItemDelegate>

namespace velmora {

// Draws a line of the transfers list: the state image and the file's own icon before the file
// name, and a progress bar under the text of the Percent column.
class TransfersListDelegate : public QStyledItemDelegate {
public:
    static constexpr int PercentColumn = 3;
    // The state image and the file's icon before a line's name.
    static constexpr int ImagesWidth = 34;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The percentage a Percent text such as "42 %" shows; 0 when it shows none ("?").
    static int percentOf(const QString& text);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    // The state image and the file's icon side by side, drawn once for each pair: lines are
    // repainted after every block.
    const QPixmap& lineImage(const QModelIndex& index) const;

    mutable QHash<qint64, QPixmap> m_lineImages;
};

}  // namespace velmora
