#include "base/HelpTopic.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <gtest/gtest.h>

namespace velmora {
namespace {

const QString HelpSource = QStringLiteral(VELMORA_HELP_SOURCE);

// The quick start's page explains what a first cable connection asks and needs.
TEST(HelpPages, EstablishingAConnectionExplainsThePortPrompt) {
    QFile file(HelpTopic::pageFile(HelpSource, HelpTopic::QuickStart));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(file.readAll());
    for (const char* needed : {"Serial Connection", "/dev/ttyUSB0", "/dev/ttyS0",
                               "/dev/serial/by-id/", "dialout", "serial.ini"}) {
        EXPECT_TRUE(html.contains(QLatin1String(needed))) << needed;
    }
}

TEST(HelpPages, EveryTopicHasItsPageAndEveryLinkLeadsToAPage) {
    for (const QString& topic :
         {HelpTopic::Introduction, HelpTopic::QuickStart, HelpTopic::OptionsDialog,
          HelpTopic::NewConnectionDialog, HelpTopic::ModemNotFound, HelpTopic::ConnectionWizard}) {
        EXPECT_TRUE(QFileInfo(HelpTopic::pageFile(HelpSource, topic)).isFile())
            << topic.toStdString();
    }

    const QRegularExpression link(QStringLiteral("href=\"([^\"]+)\""));
    int pages = 0;
    QDirIterator it(HelpSource, {QStringLiteral("*.htm")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString page = it.next();
        ++pages;
        QFile file(page);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(file.readAll());
        EXPECT_TRUE(html.contains(QStringLiteral("<h1>"))) << page.toStdString();
        for (const QRegularExpressionMatch& match : link.globalMatch(html)) {
            const QString target = QUrl::fromPercentEncoding(match.captured(1).toUtf8());
            const QString resolved = QFileInfo(page).dir().filePath(target);
            EXPECT_TRUE(QFileInfo(resolved).isFile())
                << page.toStdString() << " links to " << target.toStdString();
        }
    }
    EXPECT_GE(pages, 6);
}

}  // namespace
}  // namespace velmora
