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
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPrinter>
#include <QSaveFile>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBoundaryFinder>
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

// What a key typed: the control characters "\r", "\b" and "\t" that travel as KeyStrokes,
// or the printable characters it carries, whole; nothing for keys that type nothing.
std::optional<QString> typedText(const QKeyEvent& event) {
    switch (event.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return QStringLiteral("\r");
        case Qt::Key_Backspace:
            return QStringLiteral("\b");
        case Qt::Key_Tab:
            return QStringLiteral("\t");
        default:
            break;
    }
    const QString text = event.text();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    // The first character decides, as for the view itself: a printable one, a private-use one
    // or an invisible formatting one (joiners, direction marks) types the key's whole text.
    const char32_t first = text.toUcs4().constFirst();
    const QChar::Category category = QChar::category(first);
    if (QChar::isPrint(first) || category == QChar::Other_PrivateUse ||
        category == QChar::Other_Format) {
        return text;
    }
    return std::nullopt;
}

bool isKeyStrokeCharacter(const QString& text) {
    return text.size() == 1 && text.at(0).unicode() < SpaceCharCode;
}

// The characters as the user sees them (graphemes: a letter with its combining marks, an emoji
// with its modifiers and joiners), in order.
QStringList graphemesOf(const QString& text) {
    QStringList graphemes;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (finder.toNextBoundary() > 0) {
        graphemes.append(text.mid(start, finder.position() - start));
        start = finder.position();
    }
    return graphemes;
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
    for (const QString& grapheme : graphemesOf(text)) {
        if (grapheme == u'\r' || grapheme == u'\t') {
            typeCharacter(static_cast<std::uint8_t>(grapheme.at(0).unicode()));
        } else if (!isKeyStrokeCharacter(grapheme)) {
            typeText(grapheme);
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
    // deletes the characters when the caret ends the selection, Delete when it starts it. Both
    // take one character as the user sees it.
    const QStringList graphemes = graphemesOf(cursor.selectedText());
    if (cursor.position() == end) {
        int caret = end;
        for (auto grapheme = graphemes.crbegin(); grapheme != graphemes.crend(); ++grapheme) {
            sendKeyStroke(VirtualKeyBackspace, SpaceCharCode, caret);
            sendKeyStroke(0, '\b', caret);
            caret -= static_cast<int>(grapheme->size());
        }
    } else {
        for (qsizetype i = 0; i < graphemes.size(); ++i) {
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

void Conversation::typeText(const QString& text) {
    if (startsNewLine(0)) {
        typeCharacter('\r');
    }
    const auto caret = static_cast<std::uint16_t>(m_view.textCursor().selectionStart() & 0xFFFF);
    // The own view shows what the other side gets: an older peer gets '?' for some characters.
    insertText(m_peer.isOpen() ? m_peer.sendTypedText(text, caret) : text);
}

bool Conversation::startsNewLine(char16_t charCode) {
    const bool newLine = m_lineAppended && charCode != '\r' && m_view.textCursor().atEnd();
    m_lineAppended = false;
    return newLine;
}

void Conversation::feedCharacter(std::uint8_t charCode) {
    if (charCode == '\b') {
        removePreviousCharacter();
        return;
    }
    const auto [key, text] = keyOfCharacter(charCode);
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
    feedToView(event);
}

void Conversation::insertText(const QString& text) {
    QTextCursor cursor = m_view.textCursor();
    cursor.insertText(text);
    m_view.setTextCursor(cursor);
    m_view.ensureCursorVisible();
}

void Conversation::removePreviousCharacter() {
    QTextCursor cursor = m_view.textCursor();
    if (cursor.hasSelection()) {
        cursor.removeSelectedText();
    } else if (!cursor.atBlockStart()) {
        // The whole grapheme before the caret: the view itself would leave an accent or half
        // of an emoji sequence behind.
        const QString block = cursor.block().text();
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, block);
        finder.setPosition(cursor.positionInBlock());
        const qsizetype start = std::max<qsizetype>(finder.toPreviousBoundary(), 0);
        cursor.setPosition(cursor.block().position() + static_cast<int>(start),
                           QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    } else {
        cursor.deletePreviousChar();  // joins the line with the one before
    }
    m_view.setTextCursor(cursor);
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

void Conversation::textReceived(const QString& senderName, const QString& text) {
    appendLine(formatChatLine(senderName, text));
}

void Conversation::typedTextReceived(const QString& text, std::uint16_t /*caret*/) {
    // Replayed at this view's own caret, as every keystroke is.
    m_view.setFocus();
    if (startsNewLine(0)) {
        feedCharacter('\r');
    }
    insertText(text);
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
    if (event->type() == QEvent::InputMethod && watched == &m_view) {
        return messagesEditInput(static_cast<const QInputMethodEvent&>(*event));
    }
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
    const auto typed = typedText(event);
    const bool deletes = typed == u'\b' || event.key() == Qt::Key_Delete;
    if (m_view.textCursor().hasSelection() && (typed || event.key() == Qt::Key_Delete)) {
        deleteSelectionAsKeys();
        if (deletes) {
            return true;
        }
    }
    if (typed && startsNewLine(typed->size() == 1 ? typed->at(0).unicode() : 0)) {
        sendKeyStroke(VirtualKeyReturn, SpaceCharCode, m_view.textCursor().selectionStart());
        typeCharacter('\r');
    }
    // One Qt key event stands for both the key going down and the character it types.
    const int caret = m_view.textCursor().selectionStart();
    if (const auto virtualKey = virtualKeyFromQtKey(event.key())) {
        sendKeyStroke(*virtualKey, SpaceCharCode, caret);
    }
    if (!typed) {
        return swallow;
    }
    if (isKeyStrokeCharacter(*typed)) {
        sendKeyStroke(0, static_cast<std::uint8_t>(typed->at(0).unicode()), caret);
        if (typed == u'\b') {
            removePreviousCharacter();  // a whole grapheme, as the other side removes it
            return true;
        }
        return swallow;
    }
    // Printable text is put into the view here, as the other side gets it.
    typeText(*typed);
    return true;
}

bool Conversation::messagesEditInput(const QInputMethodEvent& event) {
    if (m_replayPending || !m_hooks.classicMode() || event.commitString().isEmpty()) {
        return false;
    }
    // What an input method commits is typed text; its composing text stays the view's own.
    deleteSelectionAsKeys();
    for (const QString& grapheme : graphemesOf(event.commitString())) {
        if (!isKeyStrokeCharacter(grapheme)) {
            typeText(grapheme);
        }
    }
    QInputMethodEvent composing(event.preeditString(), event.attributes());
    QCoreApplication::sendEvent(&m_view, &composing);
    return true;
}

void Conversation::sendKeyStroke(std::uint16_t keyCode, std::uint8_t charCode, int caret) {
    if (!m_peer.isOpen()) {
        return;
    }
    m_peer.sendKeyStroke({keyCode, charCode, static_cast<std::uint16_t>(caret & 0xFFFF)});
}

}  // namespace velmora
