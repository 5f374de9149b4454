#include "apps/velmora-cli/HeadlessPeer.h"

#include "base/ProgramTexts.h"
#include "base/TerminalText.h"
#include "connections/ConnectProcedure.h"

#include "protocol/ChatLine.h"
#include "protocol/PeerMessageDispatcher.h"
#include "protocol/PeerMessages.h"
#include "session/link/NetworkSerialPort.h"
#include "session/link/SerialPortOpener.h"
#include "session/link/SerialProvider.h"
#include "session/modem/ModemList.h"
#include "session/modem/ModemResults.h"
#include "session/net/NetworkProvider.h"
#include "session/ports/PortDiagnosis.h"
#include "session/providers/InstalledProviders.h"
#include "transfer/FileIcon.h"
#include "transfer/SendThreadLifetime.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTimer>

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace velmora {

namespace {

QString defaultPlayerName() {
    const QByteArray user = qgetenv("USER");
    return user.isEmpty() ? QStringLiteral("velmora-cli") : QString::fromLocal8Bit(user);
}

}  // namespace

HeadlessPeer::HeadlessPeer(CliOptions options, QString dataFolder, QTextStream& out,
                           QTextStream& err)
    : m_options(std::move(options)),
      m_dataFolder(std::move(dataFolder)),
      m_out(out),
      m_err(err),
      m_terminal(isatty(STDOUT_FILENO) == 1),
      m_prompts(err),
      m_service(installedProviders({m_dataFolder, &m_prompts, m_options.serial, &m_prompts,
                                    &m_prompts, m_options.passphrase})),
      m_peer(m_service, *this) {
    m_peer.setReconnect(m_options.reconnect);
    if (m_options.playerName.isEmpty()) {
        m_options.playerName = defaultPlayerName();
    }
    connectPeer();
}

HeadlessPeer::~HeadlessPeer() = default;

void HeadlessPeer::connectPeer() {
    connect(&m_peer, &Peer::playerAdded, this, [this](const TDXPlayPlayer& player) {
        if (player.RemotePlayer) {
            otherSideArrived(player);
        }
    });
    connect(&m_peer, &Peer::playerDeleted, this, [this](const TDXPlayPlayer& player) {
        printLine(QStringLiteral("%1 has left.").arg(player.Name));
        m_input->setEnabled(false);
        m_peerLeft = true;
        if (m_peer.isOpen() && !m_options.exitWhenDone) {
            // The session goes on on this line, this side hosting it now.
            printLine(texts::WaitingForRemoteUser);
        }
        QTimer::singleShot(0, this, [this] { checkDone(); });
    });
    connect(&m_peer, &Peer::lineLost, this, [this] {
        m_input->setEnabled(false);
        printLine(texts::LineLost.arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))));
    });
    connect(&m_peer, &Peer::lineBack, this, [this](int outgoing, int incoming) {
        printLine(texts::lineBack(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")),
                                  outgoing + incoming));
        if (incoming > 0) {
            // Their lines went; the other side offers those files again, together.
            m_offersArrived = false;
        }
        m_input->setEnabled(!m_inputEnded);
    });
    connect(&m_peer, &Peer::sessionLost, this, [this] {
        if (m_finished) {
            return;  // saying goodbye already: the other side hanging up meanwhile ends nothing
        }
        printLine(texts::ConnectionLost);
        QTimer::singleShot(0, this, [this] { finish(ExitConnectionLost); });
    });
    // What an attempt is doing goes to the error stream, beside the failures it may end in.
    connect(&m_peer, &Peer::connectStep, this, [this](ConnectStep step) {
        m_err << connectStepText(step, m_peer.connectRequest()) << Qt::endl;
    });
    connect(&m_peer, &Peer::connectFinished, this,
            [this](const ConnectResult& result) { connectFinished(result); });
    connect(&m_peer, &Peer::fileOfferReceived, this, [this] {
        // The other side offers its files together, at the start: whether taken or refused,
        // they are all known now.
        m_offersArrived = true;
        QTimer::singleShot(0, this, [this] { checkDone(); });
    });
    connect(&m_peer, &Peer::chatLineReceived, this,
            [this](const QString& senderName, const QString& text) {
                printLine(formatChatLine(senderName, text));
            });
    connect(&m_peer, &Peer::charactersReplaced, this,
            [this] { printLine(texts::CharactersNotSent); });
    // Keystrokes replay into a conversation view; there is none here.
    connect(&m_peer, &Peer::conversationLine, this,
            [this](const QString& line) { printLine(line); });
    // An empty notice takes an old one away: nothing to print.
    connect(&m_peer, &Peer::transferStatus, this, [this](const QString& text) {
        if (!text.isEmpty()) {
            printLine(text);
        }
    });
    connect(&m_peer, &Peer::userMessage, this, [this](const QString& text) { showMessage(text); });
    TransfersModel& model = m_peer.transfers().model();
    connect(&model, &TransfersModel::stateChanged, this,
            [this](int row) { transferStateChanged(row); });
    connect(&model, &TransfersModel::progressChanged, this, [this](int row) { showProgress(row); });
    connect(&model, &TransfersModel::rowsRemoved, this,
            [this] { QTimer::singleShot(0, this, [this] { checkDone(); }); });
}

std::optional<int> HeadlessPeer::checkLine() const {
    switch (m_options.line) {
        case LineKind::Serial:
            return checkDevice(m_options.serial.portName);
        case LineKind::Modem:
            return checkModem();
        case LineKind::Network:
            break;  // the provider says why an address cannot be used
    }
    return std::nullopt;
}

std::optional<int> HeadlessPeer::checkModem() const {
    QList<ModemEntry> modems;
    QString listError;
    readModemList(m_dataFolder, SerialProvider::systemPorts(), modems, listError);
    const std::optional<ModemEntry> listed = findModem(modems, m_options.modem);
    const QString device = listed ? listed->device : m_options.modem;
    if (listed || device.contains('/') || QFile::exists(serialDevicePath(device))) {
        return checkDevice(device);
    }
    m_err << "No such modem: " << m_options.modem << "." << Qt::endl;
    if (!listError.isEmpty()) {
        m_err << listError << Qt::endl;
    } else if (modems.isEmpty()) {
        m_err << "The modem list " << modemListPath(m_dataFolder) << " names no modem." << Qt::endl;
    } else {
        QStringList names;
        for (const ModemEntry& modem : modems) {
            names.append(modem.name);
        }
        m_err << "The modem list " << modemListPath(m_dataFolder)
              << " names: " << names.join(QStringLiteral(", ")) << "." << Qt::endl;
    }
    m_err << "Give the name of a modem in the list, or the modem's device path." << Qt::endl;
    return ExitNoDevice;
}

std::optional<int> HeadlessPeer::checkDevice(const QString& portName) const {
    if (isNetworkSerialPort(portName)) {
        return std::nullopt;  // the provider says why it cannot be reached
    }
    const QByteArray path = QFile::encodeName(serialDevicePath(portName));
    if (access(path.constData(), F_OK) != 0) {
        m_err << "No such device: " << portName << Qt::endl;
        return ExitNoDevice;
    }
    // A port this user may not open, or one another program holds: the cause and the command
    // that fixes it.
    const PortDiagnosis diagnosis = diagnosePortAccess(serialDevicePath(portName));
    if (diagnosis.usable() || diagnosis.kind == PortDiagnosis::Kind::Missing) {
        return std::nullopt;
    }
    m_err << diagnosis.message() << Qt::endl;
    return diagnosis.kind == PortDiagnosis::Kind::Held ? ExitLineBusy : ExitPermission;
}

ConnectRequest HeadlessPeer::connectRequest() const {
    ConnectRequest request;
    switch (m_options.line) {
        case LineKind::Serial:
            request.method = ConnectRequest::Method::Cable;
            request.device = serialDevicePath(m_options.serial.portName);
            break;
        case LineKind::Modem:
            request.method = ConnectRequest::Method::Modem;
            break;
        case LineKind::Network:
            request.method = ConnectRequest::Method::Network;
            request.hostName = m_options.hostName;
            request.port = m_options.port;
            break;
    }
    request.calling = !m_options.host;
    request.sessionName = m_options.sessionName;
    request.playerName = m_options.playerName;
    if (request.method == ConnectRequest::Method::Modem) {
        request.modemName = m_options.modem;
        request.phoneNumber = m_options.host ? QString() : m_options.phone;
    } else {
        // The host may start after us: look for it until the time given has passed.
        request.searchForMs = static_cast<std::int64_t>(m_options.waitSeconds) * 1000;
    }
    return request;
}

std::optional<int> HeadlessPeer::start() {
    if (const auto failure = checkLine()) {
        return failure;
    }
    m_input = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    m_input->setEnabled(false);
    connect(m_input.get(), &QSocketNotifier::activated, this, [this] { readStandardInput(); });
    m_peer.connectTo(connectRequest());
    return std::nullopt;
}

void HeadlessPeer::connectFinished(const ConnectResult& result) {
    switch (result.outcome) {
        case ConnectOutcome::Connected:
            if (m_options.host) {
                printLine(m_options.line == LineKind::Modem
                              ? QStringLiteral("Waiting for a call...")
                              : texts::WaitingForRemoteUser);
            } else if (const TDXPlayPlayer* host = m_peer.opponent();
                       host != nullptr && host->RemotePlayer) {
                // The host was there before us: no event announces it.
                otherSideArrived(*host);
            }
            return;
        case ConnectOutcome::Cancelled:
            m_err << "Cancelled: no connection was made." << Qt::endl;
            finish(ExitFailure);
            return;
        case ConnectOutcome::SearchFailed:
            finish(joinFailure(result.code));
            return;
        case ConnectOutcome::NoSession:
            m_err << texts::NoSessionsFound << Qt::endl;
            finish(ExitNoSession);
            return;
        case ConnectOutcome::OtherVersion:
            // The same words as the window's.
            m_err << (result.detail.isEmpty() ? OtherVersionMessage : result.detail) << Qt::endl;
            finish(ExitLineBusy);
            return;
        case ConnectOutcome::Failed:
            m_err << result.detail << Qt::endl;
            if (m_prompts.errorShown()) {
                // The provider could not open the port or the modem, and has said why.
                finish(m_options.line == LineKind::Modem ? ExitNoDevice : ExitLineBusy);
            } else {
                finish(ExitFailure);
            }
            return;
    }
}

int HeadlessPeer::joinFailure(HRESULT result) const {
    switch (result) {
        case MODEMERR_NODEVICE:
            return ExitNoDevice;  // the provider has said why
        case NETERR_WRONGPASSPHRASE:
            return ExitWrongPassphrase;  // the provider has said so
        case NETERR_UNREACHABLE:
        case NETERR_NOTVELMORA:
            return ExitLineBusy;  // the provider has said why
        case DPERR_CONNECTIONLOST:
            m_err << texts::ConnectionLost << Qt::endl;
            return ExitConnectionLost;
        case DPERR_NOCONNECTION:
            if (m_options.line == LineKind::Modem) {
                // The call came about, but nothing on the other side took part in the link.
                m_err << texts::NoSessionsFound << Qt::endl
                      << "The call was answered, but no Velmora answered on the line." << Qt::endl;
                return ExitNoSession;
            }
            break;  // the port could not be opened; the provider has said why
        default:
            break;
    }
    m_err << "Line is busy!" << Qt::endl;
    switch (result) {
        case MODEMERR_BUSY:
            m_err << "The number called is busy." << Qt::endl;
            break;
        case MODEMERR_NOCARRIER:
            m_err << "No carrier: no modem answered the call." << Qt::endl;
            break;
        case MODEMERR_NODIALTONE:
            m_err << "No dial tone: is the modem's telephone line plugged in?" << Qt::endl;
            break;
        case MODEMERR_NOANSWER:
            m_err << "No answer from the number called." << Qt::endl;
            break;
        case MODEMERR_ERROR:
            m_err << "The modem refused a command (ERROR): check its init string in the modem "
                     "list."
                  << Qt::endl;
            break;
        case MODEMERR_TIMEOUT:
            m_err << "The modem did not answer in time: is it switched on?" << Qt::endl;
            break;
        default:
            break;
    }
    return ExitLineBusy;
}

void HeadlessPeer::otherSideArrived(const TDXPlayPlayer& player) {
    printLine(QStringLiteral("Connected with %1.").arg(player.Name));
    m_input->setEnabled(!m_inputEnded);
    // Lines typed while waiting go first, before the files: with --exit-when-done the other
    // side may otherwise be gone once the files have crossed.
    pollfd waiting{STDIN_FILENO, POLLIN, 0};
    if (!m_inputEnded && poll(&waiting, 1, 0) == 1) {
        readStandardInput();
    }
    if (!m_offered && !m_options.files.isEmpty()) {
        m_offered = true;
        m_peer.sendFiles(m_options.files);
    }
}

void HeadlessPeer::readStandardInput() {
    char chunk[4096];
    const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (count <= 0) {
        m_inputEnded = true;
        m_input->setEnabled(false);  // end of input: keep running for the transfers
        return;
    }
    m_inputBuffer.append(chunk, count);
    qsizetype end = 0;
    while ((end = m_inputBuffer.indexOf('\n')) >= 0) {
        QByteArray line = m_inputBuffer.left(end);
        m_inputBuffer.remove(0, end + 1);
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        // Lines are read as UTF-8; a byte that is not becomes U+FFFD.
        sendChatLine(QString::fromUtf8(line));
    }
}

void HeadlessPeer::sendChatLine(const QString& line) {
    QString text = line.left(kMaxTextLength);
    if (text.size() < line.size() && text.back().isHighSurrogate()) {
        text.chop(1);  // never half of a character
    }
    if (m_peer.playerCount() < 2 || !m_peer.sendChatLine(text)) {
        m_err << "Not connected: the line was not sent." << Qt::endl;
    }
}

void HeadlessPeer::showMessage(const QString& text) {
    // Every message of the transfers says that a file was not sent or not received.
    ++m_failures;
    m_progressLinesDrawn = 0;
    m_err << TerminalText::visible(text) << Qt::endl;
}

void HeadlessPeer::transferStateChanged(int row) {
    const TTransfer& transfer = m_peer.transfers().model().transfer(row);
    if (transfer.State != tsStopped || m_peer.transfers().isHeld(row)) {
        return;  // a line held for the line to come back has not failed
    }
    ++m_failures;
    printLine(QStringLiteral("The transfer of %1 was stopped: %2.")
                  .arg(transfer.FileName, transfer.EndWords));
    // Stopped lines wait for the user to remove them; here nobody will.
    QTimer::singleShot(0, this, [this, id = transfer.Id, outgoing = transfer.Outgoing] {
        const int stoppedRow = m_peer.transfers().model().findById(id, outgoing);
        if (stoppedRow >= 0) {
            m_peer.transfers().abort({stoppedRow});
        }
    });
}

QString HeadlessPeer::progressLine(int row) const {
    const TransfersModel& model = m_peer.transfers().model();
    QStringList columns;
    for (int column = 0; column < model.columnCount(); ++column) {
        columns << model.data(model.index(row, column)).toString();
    }
    const QString direction =
        model.transfer(row).Outgoing ? QStringLiteral("send") : QStringLiteral("receive");
    return direction + "  " + columns.join(QStringLiteral("  "));
}

void HeadlessPeer::showProgress(int row) {
    if (!m_terminal) {
        return;  // plain output gets the start and the end of each transfer only
    }
    // One line per listed transfer, redrawn in place.
    if (m_progressLinesDrawn > 0) {
        m_out << "\x1b[" << m_progressLinesDrawn << "A";
    }
    const int rows = m_peer.transfers().model().rowCount();
    for (int r = 0; r < rows; ++r) {
        m_out << "\x1b[2K" << TerminalText::visible(progressLine(r)) << "\n";
    }
    m_out.flush();
    m_progressLinesDrawn = rows;
    Q_UNUSED(row);
}

void HeadlessPeer::printLine(const QString& line) {
    m_progressLinesDrawn = 0;
    // Names and lines from the other side may hold control characters: shown, never obeyed.
    m_out << TerminalText::visible(line) << Qt::endl;
}

int HeadlessPeer::unfinishedTransfers() const {
    const TransfersModel& model = m_peer.transfers().model();
    int unfinished = 0;
    for (int row = 0; row < model.rowCount(); ++row) {
        // A sent file the other side confirmed is done while its line is still shown.
        unfinished += model.transfer(row).State == tsFinished ? 0 : 1;
    }
    return unfinished;
}

int HeadlessPeer::outcomeExitCode() const {
    const TransfersModel::Outcomes& outcomes = m_peer.transfers().model().outcomes();
    if (m_failures > 0 || outcomes.damaged > 0 || outcomes.failed > 0 ||
        unfinishedTransfers() > 0) {
        return ExitFileRefused;
    }
    return outcomes.wholeUnverified > 0 ? ExitUnverified : ExitDone;
}

void HeadlessPeer::checkDone() {
    if (!m_options.exitWhenDone || m_finished || unfinishedTransfers() > 0) {
        return;
    }
    // Nothing pending: every file offered by either side has ended, received or not. The other
    // side may still offer files until its offers have come, or until it has gone.
    const bool ownOffersMade = m_options.files.isEmpty() || m_offered;
    if (ownOffersMade && (m_offersArrived || m_peerLeft)) {
        finish(outcomeExitCode());
    }
}

void HeadlessPeer::end() {
    if (m_peer.connecting()) {
        m_peer.cancelConnect();  // a modem hangs up; connectFinished says Cancelled
        return;
    }
    finish(outcomeExitCode());
}

void HeadlessPeer::finish(int code) {
    if (m_finished) {
        return;
    }
    m_finished = true;
    // The goodbye, after everything sent: the peer ends its sender thread before it closes.
    m_peer.close();
    if (m_peer.releasing()) {
        // The program ends once the goodbye is said and the port is let go.
        connect(&m_peer, &Peer::lineReleased, this, [this, code] {
            if (!m_peer.releasing()) {
                QCoreApplication::exit(code);
            }
        });
        return;
    }
    // Queued: an attempt may end before the event loop runs.
    QMetaObject::invokeMethod(
        this, [code] { QCoreApplication::exit(code); }, Qt::QueuedConnection);
}

}  // namespace velmora
