#include "base/DataFolder.h"
#include "conversation/Conversation.h"
#include "peer/Peer.h"
#include "shell/ApplicationWindows.h"
#include "shell/DesktopNotifier.h"
#include "shell/MainForm.h"
#include "shell/ModemDialog.h"
#include "shell/PassphraseDialog.h"
#include "shell/QtDialogService.h"
#include "shell/ScreenCapture.h"
#include "shell/SerialSettingsDialog.h"

#include "session/providers/InstalledProviders.h"
#include "session/service/SessionService.h"

#include <QApplication>
#include <QDesktopServices>
#include <QTimer>

#include <cstdio>
#include <string_view>

int main(int argc, char* argv[]) {
    // Answered before the application object, which needs a display.
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::printf("velmora %s\n", VELMORA_PACKAGE_VERSION);
        return 0;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setApplicationVersion(QStringLiteral(VELMORA_PACKAGE_VERSION));

    QStringList arguments = QApplication::arguments().mid(1);
    // Developer option, not shown to users: "--capture FOLDER" saves a picture of each window.
    QString captureFolder;
    if (arguments.size() >= 2 && arguments.constFirst() == QStringLiteral("--capture")) {
        captureFolder = arguments.at(1);
        arguments = arguments.mid(2);
    }

    const QString programFolder = QApplication::applicationDirPath();
    velmora::QtDialogService dialogs;
    velmora::SerialSettingsDialog serialPrompts(dialogs);
    velmora::ModemDialog modemPrompts(dialogs);
    velmora::PassphraseDialog networkPrompts(dialogs);
    velmora::MainFormContext context;
    context.dataFolder = velmora::dataFolder(programFolder);
    velmora::SessionService sessions(
        velmora::installedProviders({.dataFolder = context.dataFolder,
                                     .serialPrompts = &serialPrompts,
                                     .modemPrompts = &modemPrompts,
                                     .networkPrompts = &networkPrompts}));
    context.helpFolder = velmora::helpFolder(programFolder);
    context.programPath = QApplication::applicationFilePath();
    context.arguments = arguments;
    context.dialogs = &dialogs;
    context.sessionSystem = &sessions;
    context.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    context.quit = [] { QCoreApplication::quit(); };
    velmora::DesktopNotifier notifier(QDBusConnection::sessionBus());
    context.notifier = &notifier;

    velmora::ApplicationWindows windows(std::move(context));
    if (!windows.create()) {
        // The uninstall feedback question is open; its answer ends the program.
        return application.exec();
    }
    // A host's network line tells of the callers it turned away in the conversation.
    networkPrompts.setNotice([&windows](const QString& notice) {
        windows.mainForm().conversation().appendLine(notice);
    });
    velmora::Peer& peer = windows.mainForm().peer();
    serialPrompts.setQuiet([&peer] { return peer.reconnecting(); });
    peer.setCableDevice([&serialPrompts] { return serialPrompts.lastDevice(); });
    windows.show();
    if (!captureFolder.isEmpty()) {
        QTimer::singleShot(0, &application, [&windows, &captureFolder] {
            QApplication::exit(velmora::captureWindows(windows, captureFolder) ? 0 : 1);
        });
    }
    return application.exec();
}
