#include "conversation/Conversation.h"

#include "base/DialogService.h"
#include "base/ProgramTexts.h"
#include "conversation/RtfWriter.h"
#include "conversation/VirtualKeys.h"
#include "peer/Peer.h"
#include "protocol/ChatLine.h"
#include "protocol/PeerMessages.h"
#include "session/Windows1252.h"
#include "transfer/FileSender.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPrinter>
#include <QSaveFile>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextEdit>

#include <stdexcept>

namespace velmora {

namespace {

constexpr std::uint8_t SpaceCharCode = 32;
const std::uint16_t VirtualKeyBackspace = *virtualKeyFromQtKey(Qt::Key_Backspace);
const std::uint16_t VirtualKeyDelete = *virtualKeyFromQtKey(Qt::Key_Delete);
const std::uint16_t VirtualKeyReturn = *virtualKeyFromQtKey(Qt::Key_Return);

// The character a key typed, as the wire's single byte; nothing for keys that type none.
std::optional<std::uint8_t> typedCharacter(const QKeyEvent& event) {
    switch (event.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return '\r';
        case Qt::Key_Backspace:
            return '\b';
        case Qt::Key_Tab:
            return '\t';
        default:
            break;
    }
    const QString text = event.text();
    if (text.isEmpty() || !text.at(0).isPrint()) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(toWindows1252(text.left(1)).at(0));
}

struct KeyOfCharacter {
    int key = Qt::Key_unknown;
    QString text;
};

// The key event a view gets for a typed character.
KeyOfCharacter keyOfCharacter(std::uint8_t charCode) {
    switch (charCode) {
        case '\r':
            return {Qt::Key_Return, QStringLiteral("\r")};
        case '\b':
            return {Qt::Key_Backspace, QStringLiteral("\b")};
        case '\t':
            return {Qt::Key_Tab, QStringLiteral("\t")};
        default:
            break;
    }
    const QString text = fromWindows1252(QByteArray(1, static_cast<char>(charCode)));
    const QChar character = text.at(0);
    // A printable character's Qt key is its upper-case code; the text view ignores an unknown
    // key even when it carries text.
    return {character.isPrint() ? character.toUpper().unicode() : int(Qt::Key_unknown), text};
}

}  // namespace

Conversation::Conversation(QTextEdit& messagesEdit, QLineEdit& editMessage, Peer& peer,
                           DialogService& dialogs, ConversationHooks hooks, QObject* parent)
    : QObject(parent),
      m_view(messagesEdit),
      m_field(editMessage),
      m_peer(peer),
      m_dialogs(dialogs),
      m_hooks(std::move(hooks)),
      m_printer(std::make_unique<QPrinter>()) {
    m_view.setAcceptRichText(false);
    // An undo would change this view alone; the other side's view could not follow it.
    m_view.setUndoRedoEnabled(false);
    m_field.setMaxLength(MaxMessageLength);
    m_field.clear();
    setPrompt(texts::ConnectPrompt);
    m_view.installEventFilter(this);
    m_field.installEventFilter(this);
    connect(&m_field, &QLineEdit::returnPressed, this, [this] { SendSpeedButtonClick(); });
    setClassicMode(false);
}

Conversation::~Conversation() = default;

void Conversation::appendLine(const QString& line) {
    m_lineAppended = true;
    QTextCursor cursor(m_view.document());
    cursor.movePosition(QTextCursor::End);
    if (!m_view.document()->isEmpty()) {
        cursor.insertBlock();
    }
    cursor.insertText(line, QTextCharFormat());
    m_view.setTextCursor(cursor);
    m_view.verticalScrollBar()->setValue(m_view.verticalScrollBar()->maximum());
}

void Conversation::SendSpeedButtonClick() {
    if (!m_peer.sendChatLine(m_field.text())) {
        m_dialogs.showMessage(FileSender::NotConnectedMessage);
        return;
    }
    m_field.clear();
}

void Conversation::ClearSpeedButtonClick() {
    m_field.clear();
}

void Conversation::setPrompt(const QString& prompt) {
    m_field.setPlaceholderText(prompt);
}

void Conversation::setClassicMode(bool classic) {
    m_view.setReadOnly(!classic);
    // A read-only view still lets the keyboard move its caret, also for replayed keys.
    if (!classic) {
        m_view.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }
}

void Conversation::EditUndo() {
    m_field.undo();
}

void Conversation::EditCut() {
    if (m_hooks.classicMode()) {
        cutFromView();
    } else {
        m_field.cut();
    }
}

void Conversation::EditCopy() {
    if (m_field.hasFocus()) {
        m_field.copy();
    } else {
        m_view.copy();
    }
}

void Conversation::EditPaste() {
    if (m_hooks.classicMode()) {
        pasteIntoView();
        return;
    }
    m_field.insert(clipboardText(m_field.text().size() - m_field.selectedText().size()));
}

QString Conversation::clipboardText(qsizetype lengthBefore) const {
    const QString pasted = QApplication::clipboard()->text();
    const qsizetype room = MaxMessageLength - lengthBefore;
    if (pasted.size() > room) {
        m_hooks.showNotice(
            QStringLiteral("The message is limited to %1 characters: the pasted text was cut.")
                .arg(MaxMessageLength));
    }
    return pasted.left(room);
}

void Conversation::pasteIntoView() {
    deleteSelectionAsKeys();
    // Line ends become Enter; other control characters type nothing.
    QString text = clipboardText(0);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\r")).replace(u'\n', u'\r');
    for (const char byte : toWindows1252(text)) {
        const auto charCode = static_cast<std::uint8_t>(byte);
        if (charCode >= SpaceCharCode || charCode == '\r' || charCode == '\t') {
            typeCharacter(charCode);
        }
    }
}

void Conversation::cutFromView() {
    const QTextCursor cursor = m_view.textCursor();
    if (cursor.hasSelection()) {
        QApplication::clipboard()->setText(cursor.selection().toPlainText());
        deleteSelectionAsKeys();
    }
}

void Conversation::deleteSelectionAsKeys() {
    QTextCursor cursor = m_view.textCursor();
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    // The other view has no selection, only a caret where this view's caret is: Backspace
    // deletes the characters when the caret ends the selection, Delete when it starts it.
    if (cursor.position() == end) {
        for (int caret = end; caret > start; --caret) {
            sendKeyStroke(VirtualKeyBackspace, SpaceCharCode, caret);
            sendKeyStroke(0, '\b', caret);
        }
    } else {
        for (int i = start; i < end; ++i) {
            sendKeyStroke(VirtualKeyDelete, SpaceCharCode, start);
        }
    }
    cursor.removeSelectedText();
    m_view.setTextCursor(cursor);
}

void Conversation::typeCharacter(std::uint8_t charCode) {
    if (startsNewLine(charCode)) {
        typeCharacter('\r');
    }
    sendKeyStroke(0, charCode, m_view.textCursor().selectionStart());
    feedCharacter(charCode);
}

bool Conversation::startsNewLine(std::uint8_t charCode) {
    const bool newLine = m_lineAppended && charCode != '\r' && m_view.textCursor().atEnd();
    m_lineAppended = false;
    return newLine;
}

void Conversation::feedCharacter(std::uint8_t charCode) {
    const auto [key, text] = keyOfCharacter(charCode);
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
    feedToView(event);
}

void Conversation::feedToView(QKeyEvent& event) {
    m_replayPending = true;
    QCoreApplication::sendEvent(&m_view, &event);
    m_replayPending = false;
}

void Conversation::Exportmessageslog1Click() {
    m_hooks.suspendSender();
    const auto resume = qScopeGuard([this] { m_hooks.resumeSender(); });
    FileDialogRequest request;
    request.title = QStringLiteral("Export messages log");
    request.filter = QStringLiteral("Text file (*.txt);;All files (*)");
    request.defaultSuffix = QStringLiteral("txt");
    const QString fileName = m_dialogs.saveFileName(request);
    if (fileName.isEmpty()) {
        return;
    }
    try {
        writeLog(fileName);
    } catch (const std::exception& error) {
        m_dialogs.showMessage(QString::fromUtf8(error.what()));
    }
}

void Conversation::writeLog(const QString& fileName) const {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(plainTextToRtf(m_view.toPlainText())) < 0 ||
        !file.commit()) {
        throw std::runtime_error(QStringLiteral("Cannot create file \"%1\". %2")
                                     .arg(fileName, file.errorString())
                                     .toStdString());
    }
}

void Conversation::FilePrint() {
    m_hooks.suspendSender();
    const auto resume = qScopeGuard([this] { m_hooks.resumeSender(); });
    if (m_dialogs.print(*m_printer)) {
        m_printer->setDocName(m_peer.sessionName());
        m_view.document()->print(m_printer.get());
    }
}

void Conversation::FilePrintSetup() {
    m_hooks.suspendSender();
    const auto resume = qScopeGuard([this] { m_hooks.resumeSender(); });
    m_dialogs.pageSetup(*m_printer);
}

void Conversation::textReceived(const QString& senderName, const QByteArray& text) {
    appendLine(formatChatLine(senderName, text));
}

void Conversation::keyStrokeReceived(const KeyStroke& keyStroke) {
    // Every keystroke is replayed at this view's own caret. (Dropping the ones whose caret
    // equals the local selection start would drop every key while both views agree.)
    m_view.setFocus();
    // What the other side types shows here also in chat mode, whose view the user cannot edit.
    const bool readOnly = m_view.isReadOnly();
    m_view.setReadOnly(false);
    const auto restoreMode = qScopeGuard([this, readOnly] { setClassicMode(!readOnly); });
    if (keyStroke.keyCode != 0) {
        const auto key = qtKeyFromVirtualKey(keyStroke.keyCode);
        QKeyEvent event(QEvent::KeyPress, key.value_or(Qt::Key_unknown), Qt::NoModifier);
        m_swallowReplayedKey = virtualKeyTypesCharacter(keyStroke.keyCode) || !key;
        feedToView(event);
        m_swallowReplayedKey = false;
    } else {
        if (startsNewLine(keyStroke.charCode)) {
            feedCharacter('\r');
        }
        feedCharacter(keyStroke.charCode);
    }
}

bool Conversation::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return QObject::eventFilter(watched, event);
    }
    const auto& key = static_cast<const QKeyEvent&>(*event);
    if (watched == &m_field) {
        if (key.matches(QKeySequence::Paste)) {
            EditPaste();
            return true;
        }
        return false;
    }
    return watched == &m_view && messagesEditKey(key);
}

bool Conversation::messagesEditKey(const QKeyEvent& event) {
    const bool swallow = std::exchange(m_swallowReplayedKey, false);
    if (m_replayPending || !m_hooks.classicMode()) {
        return swallow;  // a replayed key is never sent back
    }
    // Every change of the text goes to the other side as the keys that make it there.
    if (event.matches(QKeySequence::Paste)) {
        pasteIntoView();
        return true;
    }
    if (event.matches(QKeySequence::Cut)) {
        cutFromView();
        return true;
    }
    const auto character = typedCharacter(event);
    if (m_view.textCursor().hasSelection() && (character || event.key() == Qt::Key_Delete)) {
        deleteSelectionAsKeys();
        if (character == '\b' || event.key() == Qt::Key_Delete) {
            return true;
        }
    }
    if (character && startsNewLine(*character)) {
        sendKeyStroke(VirtualKeyReturn, SpaceCharCode, m_view.textCursor().selectionStart());
        typeCharacter('\r');
    }
    // One Qt key event stands for both the key going down and the character it types.
    const int caret = m_view.textCursor().selectionStart();
    if (const auto virtualKey = virtualKeyFromQtKey(event.key())) {
        sendKeyStroke(*virtualKey, SpaceCharCode, caret);
    }
    if (character) {
        sendKeyStroke(0, *character, caret);
    }
    return swallow;
}

void Conversation::sendKeyStroke(std::uint16_t keyCode, std::uint8_t charCode, int caret) {
    if (!m_peer.isOpen()) {
        return;
    }
    m_peer.sendKeyStroke({keyCode, charCode, static_cast<std::uint16_t>(caret & 0xFFFF)});
}

}  // namespace velmora
