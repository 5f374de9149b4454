#include "ShellFixture.h"

#include "shell/FileAssociation.h"
#include "shell/MainFormContext.h"

#include "support/TestEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <optional>

namespace velmora::test {

namespace {}  // namespace

QByteArray quietOptions(const QByteArray& more) {
    return "[Common]\nCheckExtension=0\nShowloader=0\n" + more;
}

Shell::Shell(const Setup& setup)
    : dialogs([](const QString& what) { ADD_FAILURE() << what.toStdString(); }),
      sessions(setup.providers),
      dataFolder(makeTempFolder("data")),
      helpFolder(makeTempFolder("help")),
      xdgData(makeTempFolder("xdg-data")),
      xdgConfig(makeTempFolder("xdg-config")) {
    if (setup.withHelp) {
        EXPECT_TRUE(test::writeFile(helpFolder + "/Source/Introducing the Velmora/Introduction.htm",
                                    "<html><body><h1>Introduction</h1></body></html>"));
    } else {
        QDir(helpFolder).removeRecursively();
    }
    if (!setup.optionsIni.isEmpty()) {
        EXPECT_TRUE(test::writeFile(dataFolder + "/options.ini", setup.optionsIni));
    }
    FileAssociation association(xdgData, xdgConfig);
    if (setup.associated) {
        std::optional<bool> updated;
        EXPECT_TRUE(association.associate("/opt/velmora/velmora",
                                          [&updated](bool well) { updated = well; }));
        EXPECT_TRUE(test::pumpUntil([&updated] { return updated.has_value(); }));
    }
    MainFormContext context;
    context.dataFolder = dataFolder;
    context.helpFolder = helpFolder;
    context.programPath = "/opt/velmora/velmora";
    context.arguments = setup.arguments;
    context.dialogs = &dialogs;
    context.sessionSystem = &sessions;
    context.association = association;
    context.openUrl = [this](const QUrl& url) { openedUrls.push_back(url); };
    context.notifier = setup.notifier;
    windows = std::make_unique<ApplicationWindows>(std::move(context));
}

bool Shell::create() {
    return windows->create();
}

IniFile Shell::optionsFile() const {
    return IniFile::load(dataFolder + "/options.ini");
}

QString Shell::optionsText() const {
    QFile file(dataFolder + "/options.ini");
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

ModalWatcher::ModalWatcher(std::function<void(QWidget*)> action)
    : ModalWatcher([](QWidget*) { return true; }, std::move(action)) {}

ModalWatcher::ModalWatcher(std::function<bool(QWidget*)> matches,
                           std::function<void(QWidget*)> action)
    : m_matches(std::move(matches)), m_action(std::move(action)) {
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (QWidget* modal = QApplication::activeModalWidget();
            modal && modal->isVisible() && m_matches(modal)) {
            m_timer.stop();
            m_seen = true;
            m_action(modal);
        }
    });
    m_timer.start();
}

ModalWatcher::~ModalWatcher() {
    m_timer.stop();
}

}  // namespace velmora::test
