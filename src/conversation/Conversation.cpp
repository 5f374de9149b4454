#include "conversation/Conversation.h"

#include "base/DialogService.h"
#include "base/ModalDialog.h"
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
#include <QMimeData>
#include <QMouseEvent>
#include <QPrinter>
#include <QSaveFile>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QValidator>

#include <stdexcept>

namespace velmora {

namespace {

constexpr std::uint8_t SpaceCharCode = 32;
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
    // A shortcut (Ctrl+K) types nothing, whatever text the key carries.
    if (text.isEmpty() || (event.modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) != 0) {
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

// Keys the view would act on by changing its text in place (the history both sides saw) rather
// than typing at the end: in classic mode they do nothing.
bool editsInPlace(const QKeyEvent& event) {
    for (const QKeySequence::StandardKey key :
         {QKeySequence::Delete, QKeySequence::DeleteEndOfLine, QKeySequence::DeleteEndOfWord,
          QKeySequence::DeleteStartOfWord, QKeySequence::DeleteCompleteLine, QKeySequence::Undo,
          QKeySequence::Redo}) {
        if (event.matches(key)) {
            return true;
        }
    }
    return event.key() == Qt::Key_Delete;
}

// The message field holds one line: a line break that comes in by a paste, a middle-click or a
// drop becomes a space, so that the field shows the text as it goes out.
class OneLineValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& position) const override {
        QString line;
        line.reserve(input.size());
        int newPosition = position;
        for (qsizetype i = 0; i < input.size(); ++i) {
            const QChar c = input.at(i);
            const bool pair = c == u'\r' && i + 1 < input.size() && input.at(i + 1) == u'\n';
            if (pair && i < position) {
                --newPosition;  // the pair becomes one space
            }
            if (pair) {
                continue;  // the '\n' that follows stands for both
            }
            const bool lineBreak = c == u'\r' || c == u'\n' || c == QChar::LineSeparator ||
                                   c == QChar::ParagraphSeparator;
            line.append(lineBreak ? QChar(u' ') : c);
        }
        input = line;
        position = newPosition;
        return Acceptable;
    }
};

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
      m_printer(std::make_shared<QPrinter>()) {
    m_view.setAcceptRichText(false);
    // An undo would change this view alone; the other side's view could not follow it.
    m_view.setUndoRedoEnabled(false);
    m_field.setMaxLength(MaxMessageLength);
    m_field.setValidator(new OneLineValidator(&m_field));
    m_field.clear();
    setPrompt(texts::ConnectPrompt);
    m_view.installEventFilter(this);
    m_view.viewport()->installEventFilter(this);
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
    const QString text = m_field.text();
    if (!m_peer.isOpen()) {
        m_dialogs.showMessage(FileSender::NotConnectedMessage);
        return;
    }
    if (text.trimmed().isEmpty()) {
        // A blank line says nothing: not sent, and its spaces do not start the next line.
        m_field.clear();
        return;
    }
    if (m_peer.playerCount() < 2) {
        // Nobody would get it: not shown as sent, and kept for when someone joins.
        appendLine(NobodyThereLine);
        return;
    }
    m_peer.sendChatLine(text);
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
        m_view.copy();  // the history both sides saw is not cut from this side alone
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

QString Conversation::clipboardText(qsizetype lengthBefore, QClipboard::Mode mode) const {
    const QString pasted = QApplication::clipboard()->text(mode);
    const qsizetype room = MaxMessageLength - lengthBefore;
    if (pasted.size() > room) {
        m_hooks.showNotice(
            QStringLiteral("The message is limited to %1 characters: the pasted text was cut.")
                .arg(MaxMessageLength));
    }
    return pasted.left(room);
}

void Conversation::pasteIntoView(QClipboard::Mode mode) {
    typeIntoView(clipboardText(0, mode));
}

void Conversation::typeIntoView(QString text) {
    if (!canType()) {
        return;
    }
    moveCaretToEnd();
    // Line ends become Enter; other control characters type nothing.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\r")).replace(u'\n', u'\r');
    for (const QString& grapheme : graphemesOf(text)) {
        if (grapheme == u'\r' || grapheme == u'\t') {
            typeCharacter(static_cast<std::uint8_t>(grapheme.at(0).unicode()));
        } else if (!isKeyStrokeCharacter(grapheme)) {
            typeText(grapheme);
        }
    }
}

bool Conversation::canType() {
    if (m_peer.isOpen() && m_peer.playerCount() >= 2) {
        return true;
    }
    m_hooks.showNotice(NobodyThereNotice);
    return false;
}

void Conversation::moveCaretToEnd() {
    QTextCursor cursor = m_view.textCursor();
    cursor.movePosition(QTextCursor::End);
    m_view.setTextCursor(cursor);
}

void Conversation::focusInput() {
    if (m_hooks.classicMode()) {
        moveCaretToEnd();
        m_view.ensureCursorVisible();
        m_view.setFocus();
    } else {
        m_field.setFocus();
    }
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
    FileDialogRequest request;
    request.title = QStringLiteral("Export messages log");
    request.filter = QStringLiteral("Text file (*.txt);;All files (*)");
    request.defaultSuffix = QStringLiteral("txt");
    m_dialogs.saveFileName(request, whileAlive(this, [this](const QString& fileName) {
                               const auto resume = qScopeGuard([this] { m_hooks.resumeSender(); });
                               if (fileName.isEmpty()) {
                                   return;
                               }
                               try {
                                   writeLog(fileName);
                               } catch (const std::exception& error) {
                                   m_dialogs.showMessage(QString::fromUtf8(error.what()));
                               }
                           }));
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
    m_dialogs.print(m_printer, whileAlive(this, [this](bool confirmed) {
                        if (confirmed) {
                            m_printer->setDocName(m_peer.sessionName());
                            m_view.document()->print(m_printer.get());
                        }
                        m_hooks.resumeSender();
                    }));
}

void Conversation::FilePrintSetup() {
    m_hooks.suspendSender();
    m_dialogs.pageSetup(m_printer, whileAlive(this, [this](bool) { m_hooks.resumeSender(); }));
}

void Conversation::textReceived(const QString& senderName, const QString& text) {
    appendLine(formatChatLine(senderName, text));
}

void Conversation::typedTextReceived(const QString& text, std::uint16_t /*caret*/) {
    // At the end of the view, where this side's own typing goes too (see keyStrokeReceived).
    moveCaretToEnd();
    if (startsNewLine(0)) {
        feedCharacter('\r');
    }
    insertText(text);
}

void Conversation::keyStrokeReceived(const KeyStroke& keyStroke) {
    // A key-down: the character it types comes in a message of its own. A key that types none
    // (an arrow, Delete) moved the caret or edited the history there; here both sides type at
    // the end only, and the user's own caret and focus stay where they are.
    if (keyStroke.keyCode != 0) {
        return;
    }
    // What the other side types shows here also in chat mode, whose view the user cannot edit.
    const bool readOnly = m_view.isReadOnly();
    m_view.setReadOnly(false);
    const auto restoreMode = qScopeGuard([this, readOnly] { setClassicMode(!readOnly); });
    moveCaretToEnd();
    if (startsNewLine(keyStroke.charCode)) {
        feedCharacter('\r');
    }
    feedCharacter(keyStroke.charCode);
}

bool Conversation::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::InputMethod && watched == &m_view) {
        return messagesEditInput(static_cast<const QInputMethodEvent&>(*event));
    }
    if (watched == m_view.viewport()) {
        return !m_replayPending && viewportEvent(*event);
    }
    if (event->type() != QEvent::KeyPress) {
        return QObject::eventFilter(watched, event);
    }
    auto& key = static_cast<QKeyEvent&>(*event);
    if (watched == &m_field) {
        if (key.matches(QKeySequence::Paste)) {
            EditPaste();
            return true;
        }
        return false;
    }
    if (watched != &m_view) {
        return false;
    }
    if (!m_replayPending && !m_hooks.classicMode() && forwardToField(key)) {
        return true;
    }
    return messagesEditKey(key);
}

bool Conversation::forwardToField(QKeyEvent& event) {
    const QString text = event.text();
    const bool typesText =
        !text.isEmpty() && text.at(0).isPrint() &&
        (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) == 0;
    if (!typesText || !m_field.isVisible() || !m_field.isEnabled()) {
        return false;
    }
    m_field.setFocus();
    QCoreApplication::sendEvent(&m_field, &event);
    return true;
}

bool Conversation::viewportEvent(QEvent& event) {
    if (!m_hooks.classicMode()) {
        return false;
    }
    switch (event.type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick: {
            // The selection's middle-click paste is typed at the end and sent, as Ctrl+V is.
            if (static_cast<const QMouseEvent&>(event).button() != Qt::MiddleButton) {
                return false;
            }
            if (event.type() == QEvent::MouseButtonRelease &&
                QApplication::clipboard()->supportsSelection()) {
                pasteIntoView(QClipboard::Selection);
            }
            return true;
        }
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop: {
            auto& drop = static_cast<QDropEvent&>(event);
            const QMimeData* data = drop.mimeData();
            if (data == nullptr || data->hasUrls() || !data->hasText()) {
                drop.ignore();  // files are for the window around the view
                return true;
            }
            drop.acceptProposedAction();
            if (event.type() == QEvent::Drop) {
                typeIntoView(data->text());
            }
            return true;
        }
        default:
            return false;
    }
}

bool Conversation::messagesEditKey(const QKeyEvent& event) {
    if (m_replayPending || !m_hooks.classicMode()) {
        return false;  // a replayed key is never sent back
    }
    // The history stays as both sides saw it: typed and pasted text goes in at the end, where
    // the other side shows it, and keys that would change the text in place do nothing.
    if (event.matches(QKeySequence::Paste)) {
        pasteIntoView();
        return true;
    }
    if (event.matches(QKeySequence::Cut)) {
        m_view.copy();
        return true;
    }
    if (editsInPlace(event)) {
        return true;
    }
    const auto typed = typedText(event);
    if (!typed) {
        // Keys that move the caret or the selection, or copy, act here alone and send nothing;
        // one that carries other text (a control character) is not put into the view either.
        return !event.text().isEmpty() && !event.matches(QKeySequence::Copy) &&
               !event.matches(QKeySequence::SelectAll);
    }
    if (!canType()) {
        return true;
    }
    moveCaretToEnd();
    if (startsNewLine(typed->size() == 1 ? typed->at(0).unicode() : 0)) {
        sendKeyStroke(VirtualKeyReturn, SpaceCharCode, m_view.textCursor().selectionStart());
        typeCharacter('\r');
    }
    // One Qt key event stands for both the key going down and the character it types.
    const int caret = m_view.textCursor().selectionStart();
    if (const auto virtualKey = virtualKeyFromQtKey(event.key())) {
        sendKeyStroke(*virtualKey, SpaceCharCode, caret);
    }
    if (isKeyStrokeCharacter(*typed)) {
        const auto charCode = static_cast<std::uint8_t>(typed->at(0).unicode());
        sendKeyStroke(0, charCode, caret);
        // Backspace takes a whole character, as the other side does; Enter and Tab go in as
        // the other side puts them.
        feedCharacter(charCode);
        return true;
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
    if (!canType()) {
        return true;
    }
    typeIntoView(event.commitString());
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
