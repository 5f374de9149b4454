#pragma once

#include "base/IniFile.h"
#include "base/ScriptedDialogService.h"
#include "shell/ApplicationWindows.h"
#include "shell/MainForm.h"

#include "session/service/SessionService.h"

#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

namespace velmora::test {

// One run of the program's windows over folders of its own: data folder, help folder, XDG
// folders for the file association; dialogs answered by a script (an unexpected one fails the
// test) and web addresses recorded instead of opened.
class Shell {
public:
    struct Setup {
        QByteArray optionsIni{};  // written as options.ini when not empty
        QStringList arguments{};
        bool withHelp = true;
        bool associated = false;              // the .vmc association exists already
        QList<ProviderEntry> providers{};     // none: no session can be opened
        DesktopNotifier* notifier = nullptr;  // none: no desktop notifications
    };

    explicit Shell(const Setup& setup);
    explicit Shell(const QByteArray& optionsIni) : Shell(Setup{.optionsIni = optionsIni}) {}
    Shell() : Shell(Setup{}) {}

    // Creates the windows (the start-up steps run); false on the uninstall path.
    bool create();
    TMainForm& main() const { return windows->mainForm(); }
    IniFile optionsFile() const;
    QString optionsText() const;

    ScriptedDialogService dialogs;
    SessionService sessions;
    QString dataFolder;
    QString helpFolder;
    QString xdgData;
    QString xdgConfig;
    std::vector<QUrl> openedUrls;
    std::unique_ptr<ApplicationWindows> windows;
};

// Options text that skips the questions of the start: no association check, no start-up window.
QByteArray quietOptions(const QByteArray& more = {});

// The first argument of a signal when it is a text, else an empty one.
inline QString firstText() {
    return {};
}
template <typename T, typename... Rest>
QString firstText(const T& first, const Rest&...) {
    if constexpr (std::is_convertible_v<T, QString>) {
        return first;
    } else {
        return {};
    }
}

// Records each emission of the signal (its first text argument) for as long as the sender lives.
template <typename Sender, typename Signal>
std::shared_ptr<QStringList> record(Sender* sender, Signal signal) {
    auto calls = std::make_shared<QStringList>();
    QObject::connect(sender, signal, sender,
                     [calls](const auto&... arguments) { calls->append(firstText(arguments...)); });
    return calls;
}

// Runs the action on the next modal window to appear, from within its event loop; the test
// fails when none appears. Polls the modal stack, so it does not depend on timing.
class ModalWatcher : public QObject {
public:
    explicit ModalWatcher(std::function<void(QWidget*)> action);
    // Only a modal window for which matches is true counts.
    ModalWatcher(std::function<bool(QWidget*)> matches, std::function<void(QWidget*)> action);
    ~ModalWatcher() override;
    bool seen() const { return m_seen; }

private:
    std::function<bool(QWidget*)> m_matches;
    std::function<void(QWidget*)> m_action;
    QTimer m_timer;
    bool m_seen = false;
};

}  // namespace velmora::test
