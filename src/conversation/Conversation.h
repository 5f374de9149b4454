#pragma once

#include "protocol/PeerMessageHandlers.h"

#include <QClipboard>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QInputMethodEvent;
class QKeyEvent;
class QLineEdit;
class QPrinter;
class QTextEdit;

namespace velmora {

class DialogService;
class Peer;

// What the conversation needs from the window around it.
struct ConversationHooks {
    // Whether the Classic mode item is checked.
    std::function<bool()> classicMode = [] { return false; };
    // A short notice in status panel 1.
    std::function<void(const QString&)> showNotice = [](const QString&) {};
    // Pausing the file sender thread around a modal dialog.
    std::function<void()> suspendSender = [] {};
    std::function<void()> resumeSender = [] {};
};

// The talk between the two users: the conversation view MessagesEdit, the message field
// EditMessage, sending typed lines, classic-mode keystrokes and their replay, clipboard, export
// and printing. It works on widgets the main window owns and lays out.
class Conversation : public QObject, public ConversationHandler {
public:
    static constexpr int MaxMessageLength = 65535;  // what a text message's length can carry
    // Said instead of sending when the session is open but nobody else is in it.
    static inline const QString NobodyThereLine = QStringLiteral(
        "Nobody is connected: your line was not sent. It is kept in the message "
        "field.");
    static inline const QString NobodyThereNotice =
        QStringLiteral("Nobody is connected: what you type is not sent.");

    Conversation(QTextEdit& messagesEdit, QLineEdit& editMessage, Peer& peer,
                 DialogService& dialogs, ConversationHooks hooks, QObject* parent = nullptr);
    ~Conversation() override;

    // A line of its own at the end of the view, the caret after it with no selection.
    void appendLine(const QString& line);

    void SendSpeedButtonClick();
    void ClearSpeedButtonClick();
    // The message field's prompt, shown while the field is empty and never part of its text.
    void setPrompt(const QString& prompt);
    // Chat mode: a read-only view; classic mode: the user types into the view.
    void setClassicMode(bool classic);
    // The keyboard focus and the caret where the user types in the current mode: the message
    // field in chat mode, the end of the view in classic mode.
    void focusInput();

    void EditUndo();
    void EditCut();
    void EditCopy();
    void EditPaste();

    void Exportmessageslog1Click();
    void FilePrint();
    void FilePrintSetup();

    bool replayPending() const { return m_replayPending; }

    // ConversationHandler: what arrives from the other side.
    void textReceived(const QString& senderName, const QString& text) override;
    void keyStrokeReceived(const KeyStroke& keyStroke) override;
    void typedTextReceived(const QString& text, std::uint16_t caret) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The view's key handler, before the view acts on the key; true swallows the key.
    bool messagesEditKey(const QKeyEvent& event);
    // Chat mode: a character typed while the read-only view has the focus goes to the field.
    bool forwardToField(QKeyEvent& event);
    // Classic mode: the mouse's ways of putting text into the view (middle-click paste, a
    // dropped text); true swallows the event.
    bool viewportEvent(QEvent& event);
    // Classic mode: whether typed text can go to the other side now; says so when it cannot.
    bool canType();
    // Classic mode: typed text goes where the other side shows it, at the end of the view.
    void moveCaretToEnd();
    // Classic mode: the text an input method commits is sent as typed; true swallows the event.
    bool messagesEditInput(const QInputMethodEvent& event);
    // Sent only while the session is open.
    void sendKeyStroke(std::uint16_t keyCode, std::uint8_t charCode, int caret);
    // The clipboard's text cut to what fits a message after lengthBefore characters.
    QString clipboardText(qsizetype lengthBefore,
                          QClipboard::Mode mode = QClipboard::Clipboard) const;
    // Classic mode: text put into the view (pasted, dropped) is typed at its end, and sent.
    void pasteIntoView(QClipboard::Mode mode = QClipboard::Clipboard);
    void typeIntoView(QString text);
    // A character typed here without a key event: sent, then fed to the view.
    void typeCharacter(std::uint8_t charCode);
    // Printable characters typed here: sent, then put into the view as the other side gets them.
    void typeText(const QString& text);
    // At the caret, replacing the selection, as typing does.
    void insertText(const QString& text);
    // Backspace: the selection, else the whole character before the caret as the user sees it.
    void removePreviousCharacter();
    // Whether a character goes on a new line: the first one typed at the end after a line was
    // appended, so that typed text never joins a chat line. Clears the pending new line.
    bool startsNewLine(char16_t charCode);
    // Feeds a key to the view as a replay, which the view's key handler does not send.
    void feedCharacter(std::uint8_t charCode);
    void feedToView(QKeyEvent& event);
    void writeLog(const QString& fileName) const;

    QTextEdit& m_view;
    QLineEdit& m_field;
    Peer& m_peer;
    DialogService& m_dialogs;
    ConversationHooks m_hooks;
    bool m_replayPending = false;
    bool m_lineAppended = false;
    std::shared_ptr<QPrinter> m_printer;  // shared with its dialog while one is open
};

}  // namespace velmora
