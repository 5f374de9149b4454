#include "transfer/TransfersModel.h"

#include <algorithm>
#include <array>

namespace velmora {

namespace {

constexpr std::array<const char*, kTransferColumnCount> kCaptions{
    "File name", "Size", "Completed", "Percent", "Elapsed", "Left", "Speed"};
constexpr std::array<int, kTransferColumnCount> kWidths{100, 50, 70, 60, 60, 50, 0};

}  // namespace

TransfersModel::TransfersModel(QLocale locale, QObject* parent)
    : QAbstractTableModel(parent), m_locale(std::move(locale)) {}

TransfersModel::~TransfersModel() = default;

int TransfersModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TransfersModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kTransferColumnCount;
}

QVariant TransfersModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) {
        return {};
    }
    const Row& row = m_rows[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            if (index.column() == colFileName) {
                return row.transfer->FileName;
            }
            return row.texts[static_cast<std::size_t>(index.column() - 1)];
        case StateImageRole:
            return row.stateImage;
        case IconRole:
            return m_icons[static_cast<std::size_t>(row.iconIndex)];
        case IconIndexRole:
            return row.iconIndex;
        case StateRole:
            return static_cast<int>(row.transfer->State);
        case OutgoingRole:
            return row.transfer->Outgoing;
        case Qt::ToolTipRole:
            return row.transfer->ended() ? QVariant(row.transfer->EndWords) : QVariant();
        default:
            return {};
    }
}

QVariant TransfersModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kTransferColumnCount) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return QString::fromLatin1(kCaptions[static_cast<std::size_t>(section)]);
    }
    return {};
}

int TransfersModel::columnWidth(int column) {
    if (column < 0 || column >= kTransferColumnCount) {
        return 0;
    }
    return kWidths[static_cast<std::size_t>(column)];
}

int TransfersModel::addTransfer(std::unique_ptr<TTransfer> transfer, const QByteArray& icon) {
    // Lines of files of one type share their icon.
    auto known = std::find(m_icons.begin(), m_icons.end(), icon);
    if (known == m_icons.end()) {
        known = m_icons.insert(m_icons.end(), icon);
    }
    const int row = rowCount();
    beginInsertRows({}, row, row);
    Row added;
    added.texts = initialProgressTexts(transfer->Size, transfer->Done, m_locale);
    added.transfer = std::move(transfer);
    added.iconIndex = static_cast<int>(known - m_icons.begin());
    m_rows.push_back(std::move(added));
    endInsertRows();
    changeState(row);
    return row;
}

void TransfersModel::removeTransfer(int row, bool goesOn) {
    if (row < 0 || row >= rowCount()) {
        return;
    }
    if (!goesOn) {
        setOutcome(row, TransferOutcome::Failed);
    }
    beginRemoveRows({}, row, row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
}

TTransfer& TransfersModel::transfer(int row) {
    return *m_rows.at(static_cast<std::size_t>(row)).transfer;
}

const TTransfer& TransfersModel::transfer(int row) const {
    return *m_rows.at(static_cast<std::size_t>(row)).transfer;
}

int TransfersModel::rowOf(const TTransfer& transfer) const {
    const auto found = std::find_if(m_rows.begin(), m_rows.end(), [&](const Row& row) {
        return row.transfer.get() == &transfer;
    });
    return found == m_rows.end() ? -1 : static_cast<int>(found - m_rows.begin());
}

int TransfersModel::findById(std::uint8_t id, std::optional<bool> outgoing) const {
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        const TTransfer& record = *m_rows[row].transfer;
        if (record.Id == id && (!outgoing || record.Outgoing == *outgoing)) {
            return static_cast<int>(row);
        }
    }
    return -1;
}

bool TransfersModel::holdsId(std::uint8_t id, int exceptRow) const {
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        if (static_cast<int>(row) != exceptRow && m_rows[row].transfer->Id == id) {
            return true;
        }
    }
    return false;
}

int TransfersModel::openLines(std::uint32_t participant, bool outgoing) const {
    return static_cast<int>(std::count_if(m_rows.begin(), m_rows.end(), [&](const Row& row) {
        const TTransfer& transfer = *row.transfer;
        return transfer.Outgoing == outgoing && (!outgoing || transfer.Offered) &&
               transfer.Recipients.front() == participant && !transfer.ended();
    }));
}

void TransfersModel::setProgress(int row, const ProgressTexts& texts) {
    Row& line = m_rows.at(static_cast<std::size_t>(row));
    if (line.transfer->ended()) {
        return;
    }
    line.texts = texts;
    emit dataChanged(index(row, colSize), index(row, colSpeed), {Qt::DisplayRole});
    emit progressChanged(row);
}

void TransfersModel::showLive(int row, std::uint32_t now) {
    const TTransfer& record = transfer(row);
    setProgress(row, liveProgressTexts({record.Size, record.counted(), record.Window.rate(),
                                        record.elapsedMs(now), record.State == tsPaused},
                                       m_locale));
}

const ProgressTexts& TransfersModel::progress(int row) const {
    return m_rows.at(static_cast<std::size_t>(row)).texts;
}

void TransfersModel::setOutcome(int row, TransferOutcome outcome) {
    TTransfer& record = transfer(row);
    if (record.Outcome) {
        return;
    }
    record.Outcome = outcome;
    switch (outcome) {
        case TransferOutcome::VerifiedWhole:
            ++m_outcomes.verifiedWhole;
            break;
        case TransferOutcome::WholeUnverified:
            ++m_outcomes.wholeUnverified;
            break;
        case TransferOutcome::Damaged:
            ++m_outcomes.damaged;
            break;
        case TransferOutcome::Failed:
            ++m_outcomes.failed;
            break;
    }
    emit outcomeRecorded(row, outcome);
}

void TransfersModel::endTransfer(int row, TransferState state, const QString& words,
                                 std::uint32_t now, std::optional<TransferOutcome> outcome) {
    Row& line = m_rows.at(static_cast<std::size_t>(row));
    line.transfer->stopClock(now);
    line.transfer->EndWords = words;
    line.texts[colLeft - 1].clear();
    line.texts[colSpeed - 1] = words;
    emit dataChanged(index(row, colSize), index(row, colSpeed), {Qt::DisplayRole});
    if (outcome) {
        setOutcome(row, *outcome);
    }
    setState(row, state);
}

bool TransfersModel::anyEnded() const {
    return std::any_of(m_rows.begin(), m_rows.end(),
                       [](const Row& row) { return row.transfer->ended(); });
}

void TransfersModel::recordRefusedOffer() {
    ++m_outcomes.failed;
}

void TransfersModel::setState(int row, TransferState state) {
    TTransfer& record = transfer(row);
    record.State = state;
    if (state == tsStopped) {
        record.Source.reset();
        record.Target.reset();
    }
    changeState(row);
}

int TransfersModel::stateImage(int row) const {
    return m_rows.at(static_cast<std::size_t>(row)).stateImage;
}

void TransfersModel::changeState(int row) {
    Row& line = m_rows.at(static_cast<std::size_t>(row));
    line.stateImage = velmora::changeState(*line.transfer, line.stateImage);
    emit dataChanged(index(row, colFileName), index(row, kTransferColumnCount - 1),
                     {StateImageRole, StateRole, Qt::ToolTipRole});
    emit stateChanged(row);
}

}  // namespace velmora
