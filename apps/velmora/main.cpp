#include "shell/ApplicationWindows.h"
#include "base/DataFolder.h"
#include "shell/MainForm.h"
#include "shell/ModemDialog.h"
#include "shell/QtDialogService.h"
#include "shell/ScreenCapture.h"
#include "shell/SerialSettingsDialog.h"

#include "session/providers/InstalledProviders.h"
#include "session/service/SessionService.h"

#include <QApplication>
#include <QDesktopServices>
#include <QTimer>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));

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
    velmora::MainFormContext context;
    context.dataFolder = velmora::dataFolder(programFolder);
    velmora::SessionService sessions(velmora::installedProviders(
        {context.dataFolder, &serialPrompts, std::nullopt, &modemPrompts}));
    context.helpFolder = velmora::helpFolder(programFolder);
    context.programPath = QApplication::applicationFilePath();
    context.arguments = arguments;
    context.dialogs = &dialogs;
    context.sessionSystem = &sessions;
    context.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };

    velmora::ApplicationWindows windows(std::move(context));
    if (!windows.create()) {
        return 0;
    }
    windows.show();
    if (!captureFolder.isEmpty()) {
        QTimer::singleShot(0, &application, [&windows, &captureFolder] {
            QApplication::exit(velmora::captureWindows(windows, captureFolder) ? 0 : 1);
        });
    }
    return application.exec();
}
