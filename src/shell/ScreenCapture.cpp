#include "shell/ScreenCapture.h"

#include "base/LinkLabel.h"
#include "connections/ConnectionForm.h"
#include "connections/WizardForm.h"
#include "shell/AboutBox.h"
#include "shell/ApplicationWindows.h"
#include "shell/HelpWindow.h"
#include "shell/MainForm.h"
#include "shell/OptionsForm.h"
#include "shell/Welcome.h"

#include <QAction>
#include <QDir>
#include <QRadioButton>
#include <QTabWidget>

namespace velmora {

namespace {

bool save(QWidget* window, const QString& folder, const QString& name) {
    window->show();
    window->raise();
    return window->grab().save(QDir(folder).filePath(name + QStringLiteral(".png")));
}

}  // namespace

bool captureWindows(ApplicationWindows& windows, const QString& folder) {
    QDir().mkpath(folder);
    TMainForm& main = windows.mainForm();
    bool saved = save(&main, folder, QStringLiteral("main-window"));

    TOptionsForm* options = windows.optionsForm();
    options->FormActivate();
    options->move(main.frameGeometry().center() - options->rect().center());
    options->PageControl1->setCurrentIndex(0);
    saved &= save(options, folder, QStringLiteral("options-general"));
    options->PageControl1->setCurrentIndex(1);
    saved &= save(options, folder, QStringLiteral("options-appearance"));
    options->hide();

    // Hiding the start-up window stores its check box: it is left checked as it was made.
    saved &= save(windows.welcome(), folder, QStringLiteral("welcome"));
    windows.welcome()->hide();

    TWizardForm* wizard = windows.wizardForm();
    wizard->Modem->setChecked(true);
    saved &= save(wizard, folder, QStringLiteral("wizard-modem"));
    wizard->Nullmodem->setChecked(true);
    saved &= save(wizard, folder, QStringLiteral("wizard-null-modem"));
    wizard->hide();

    TConnectionForm* connection = windows.connectionForm();
    saved &= save(connection, folder, QStringLiteral("new-connection"));
    connection->hide();

    TAboutBox* about = windows.aboutBox();
    about->Label5->setText(main.options().SiteURL);
    saved &= save(about, folder, QStringLiteral("about"));
    about->hide();

    main.HelpContents();
    if (auto* help = main.findChild<THelpWindow*>()) {
        saved &= save(help, folder, QStringLiteral("help"));
        help->close();
    }

    main.runCommand(QStringLiteral("raditionalview1"));
    main.runCommand(QStringLiteral("Classicmode1"));
    saved &= save(&main, folder, QStringLiteral("main-window-classic-traditional"));
    return saved;
}

}  // namespace velmora
