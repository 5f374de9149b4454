#include "protocol/PeerMessages.h"
#include "transfer/TransfersModel.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QPointer>

using namespace velmora;

namespace {

std::unique_ptr<TTransfer> record(std::uint8_t id, bool outgoing, std::int32_t size = 20000) {
    auto transfer = std::make_unique<TTransfer>();
    transfer->Id = id;
    transfer->Outgoing = outgoing;
    transfer->Size = size;
    transfer->FileName = QStringLiteral("file%1").arg(id);
    if (outgoing) {
        transfer->Waiting = {1};
    }
    transfer->Recipients = {7};
    return transfer;
}

QString text(const TransfersModel& model, int row, int column) {
    return model.data(model.index(row, column)).toString();
}

}  // namespace

TEST(TransfersModel, ColumnsCaptionsAndWidths) {
    const TransfersModel model;
    ASSERT_EQ(model.columnCount(), 7);
    const QStringList captions{"File name", "Size", "Completed", "Percent",
                               "Elapsed",   "Left", "Speed"};
    const std::vector<int> widths{100, 50, 70, 60, 60, 50, 0};
    for (int column = 0; column < 7; ++column) {
        EXPECT_EQ(model.headerData(column, Qt::Horizontal).toString(), captions[column]);
        EXPECT_EQ(TransfersModel::columnWidth(column), widths[column]);
    }
    EXPECT_FALSE(model.headerData(7, Qt::Horizontal).isValid());
    EXPECT_FALSE(model.headerData(0, Qt::Vertical).isValid());
}

TEST(TransfersModel, RowsOwnTheirRecordsAndFiles) {
    TransfersModel model(QLocale::c());
    int inserted = 0;
    int removed = 0;
    std::vector<int> stateChanges;
    QObject::connect(&model, &QAbstractItemModel::rowsInserted, [&] { ++inserted; });
    QObject::connect(&model, &QAbstractItemModel::rowsRemoved, [&] { ++removed; });
    QObject::connect(&model, &TransfersModel::stateChanged,
                     [&](int row) { stateChanges.push_back(row); });

    const QString folder = test::makeTempFolder(QStringLiteral("model"));
    auto sending = record(4, true);
    sending->Source = std::make_unique<QFile>(folder + QStringLiteral("/a"));
    ASSERT_TRUE(sending->Source->open(QIODevice::WriteOnly));
    const QPointer<QFile> source = sending->Source.get();
    const QByteArray iconA(kIconFieldSize, 'a');
    const QByteArray iconB(kIconFieldSize, 'b');
    EXPECT_EQ(model.addTransfer(std::move(sending), iconA), 0);
    EXPECT_EQ(model.addTransfer(record(9, false), iconB), 1);
    EXPECT_EQ(model.addTransfer(record(4, false), iconA), 2);
    EXPECT_EQ(inserted, 3);
    EXPECT_EQ(stateChanges, (std::vector<int>{0, 1, 2}));

    EXPECT_EQ(text(model, 0, colFileName), "file4");
    EXPECT_EQ(text(model, 0, colSize), "20 KB");
    EXPECT_EQ(text(model, 0, colCompleted), "0 B");
    EXPECT_EQ(text(model, 0, colPercent), "0 %");
    EXPECT_EQ(text(model, 0, colElapsed), "0");
    EXPECT_EQ(text(model, 0, colLeft), "?");
    EXPECT_EQ(text(model, 0, colSpeed), "?");
    EXPECT_EQ(model.stateImage(0), siSending);
    EXPECT_EQ(model.stateImage(1), siReceiving);
    // Files of one type share one icon.
    EXPECT_EQ(model.icons().size(), 2U);
    EXPECT_EQ(model.data(model.index(2, 0), TransfersModel::IconIndexRole).toInt(), 0);
    EXPECT_EQ(model.data(model.index(1, 0), TransfersModel::IconRole).toByteArray(), iconB);

    EXPECT_EQ(model.findById(4), 0);
    EXPECT_EQ(model.findById(4, false), 2);
    EXPECT_EQ(model.findById(9, true), -1);
    EXPECT_TRUE(model.holdsId(9));
    EXPECT_FALSE(model.holdsId(9, 1));
    EXPECT_TRUE(model.holdsId(4, 0));

    model.setState(1, tsPaused);
    EXPECT_EQ(model.stateImage(1), siPaused);
    model.setState(1, tsAborted);
    EXPECT_EQ(model.stateImage(1), siPaused);
    EXPECT_EQ(model.data(model.index(1, 3), TransfersModel::StateRole).toInt(), tsAborted);
    model.setState(1, tsStopped);
    EXPECT_EQ(model.stateImage(1), siStopped);

    ProgressTexts progress = initialProgressTexts(20000, 0, QLocale::c());
    progress[colPercent - 1] = QStringLiteral("50 %");
    model.setProgress(2, progress);
    EXPECT_EQ(text(model, 2, colPercent), "50 %");

    const TTransfer& third = model.transfer(2);
    model.removeTransfer(0);
    EXPECT_TRUE(source.isNull());  // the file closed with its record
    EXPECT_EQ(removed, 1);
    EXPECT_EQ(model.rowOf(third), 1);
    model.removeTransfer(5);
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_FALSE(model.data(model.index(5, 0)).isValid());
}
