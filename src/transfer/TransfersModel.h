#pragma once

#include "transfer/Transfer.h"
#include "transfer/TransferFormat.h"

#include <QAbstractTableModel>
#include <QByteArray>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace velmora {

// The transfers list: one row per transfer, outgoing or incoming. Each row owns its record and,
// through it, its open file; removing the row closes the file. The column texts are set when a
// row is added, as the bytes are counted and by the engine's refresh; the view shows them as
// they are. Once a row has ended its figures stand still and its Speed column says why it ended
// (also the row's tool tip).
class TransfersModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Role : int {
        StateImageRole = Qt::UserRole + 1,  // int: the StateImage of the row
        IconRole,                           // QByteArray: the file's 318-byte ICO icon
        IconIndexRole,                      // int: the row's index into icons()
        StateRole,                          // int: the TransferState
        OutgoingRole,                       // bool
    };

    // The figures are written in the locale's way.
    explicit TransfersModel(QLocale locale = QLocale(), QObject* parent = nullptr);
    ~TransfersModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The width a view gives a column; 0 for the last one, which fills the rest.
    static int columnWidth(int column);

    // Adds a row at the end with the record, the file's icon and the texts of a new line, and
    // gives it its state image. Returns the row.
    int addTransfer(std::unique_ptr<TTransfer> transfer, const QByteArray& icon);
    // Removes the row; its file closes with its record. A line without an outcome counts as
    // failed, unless it goes on in a new line (goesOn: a line held through a lost line).
    void removeTransfer(int row, bool goesOn = false);

    TTransfer& transfer(int row);
    const TTransfer& transfer(int row) const;
    int rowOf(const TTransfer& transfer) const;  // -1 when not listed

    // The first row whose record holds the identifier, optionally in one direction only; -1.
    int findById(std::uint8_t id, std::optional<bool> outgoing = std::nullopt) const;
    // Whether a row other than exceptRow holds the identifier.
    bool holdsId(std::uint8_t id, int exceptRow = -1) const;
    // The open lines of one direction with the participant: offered (an incoming line is an
    // offer taken) and not ended. kMaxOpenTransfersPerPeer bounds them.
    int openLines(std::uint32_t participant, bool outgoing) const;

    // Changes nothing once the row has ended.
    void setProgress(int row, const ProgressTexts& texts);
    // The row's figures from its record at the tick now: what it counted, its rate, its running
    // time (see liveProgressTexts).
    void showLive(int row, std::uint32_t now);
    // Sets the record's State and runs ChangeState for the row. A stopped line closes its file,
    // so that a later transfer can take it up.
    void setState(int row, TransferState state);
    // Ends the row: its clock stops at now, its figures stay, Left empties and Speed shows the
    // words; then the State as setState sets it. The outcome is recorded when given (an outgoing
    // line that awaits its verdict learns its outcome later). A row that has ended already takes
    // new words and state all the same: the verdict of an aborted line tells the truth.
    void endTransfer(int row, TransferState state, const QString& words, std::uint32_t now,
                     std::optional<TransferOutcome> outcome = TransferOutcome::Failed);
    // Whether any row has ended (Clear ended has something to do).
    bool anyEnded() const;
    int stateImage(int row) const;

    const ProgressTexts& progress(int row) const;

    // Records how the row's transfer ended, once: later calls for the row change nothing. A
    // row removed without an outcome is recorded as failed.
    void setOutcome(int row, TransferOutcome outcome);
    // Counts an offer refused on this side, which never got a row, as a failed transfer.
    void recordRefusedOffer();
    // How many transfers of this side ended each way since the model was made.
    struct Outcomes {
        int verifiedWhole = 0;
        int wholeUnverified = 0;
        int damaged = 0;
        int failed = 0;  // refused offers included
    };
    const Outcomes& outcomes() const { return m_outcomes; }

    // Every file icon given to a row so far, in order; a row's IconIndexRole points into it.
    const std::vector<QByteArray>& icons() const { return m_icons; }

signals:
    // A row's State changed (after its state image was set).
    void stateChanged(int row);
    // A row's progress texts changed.
    void progressChanged(int row);
    // A row's transfer ended, its outcome recorded (before the row goes, when it goes).
    void outcomeRecorded(int row, TransferOutcome outcome);

private:
    struct Row {
        std::unique_ptr<TTransfer> transfer;
        ProgressTexts texts;
        int stateImage = siSending;
        int iconIndex = 0;
    };

    void changeState(int row);

    const QLocale m_locale;
    std::vector<Row> m_rows;
    std::vector<QByteArray> m_icons;
    Outcomes m_outcomes;
};

}  // namespace velmora
