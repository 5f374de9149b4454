#pragma once

// The dialogs' surroundings for their tests: the component over the fake service, a scripted
// dialog service that fails the test on an unexpected dialog, and a record of what the dialogs
// asked of the main window.

#include "ConnectFixture.h"

#include "base/Options.h"
#include "base/ScriptedDialogService.h"
#include "connections/ConnectionFormContext.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace velmora::test {

struct FormFixture : ConnectFixture {
    ScriptedDialogService dialogs{
        [](const QString& description) { ADD_FAILURE() << description.toStdString(); }};
    Options options;
    QString dataFolder = makeTempFolder("connections");
    int blockSizeCode = 0;
    int modifiedMarks = 0;
    QStringList helpTopics;
    QStringList errors;
    QString login = QStringLiteral("login");

    explicit FormFixture(const QStringList& modems = {"Internal Modem", "USB Modem"})
        : ConnectFixture(modems) {
        options.UserName = QStringLiteral("Ann");
        options.Speed = 3;
    }

    ConnectionFormContext context() {
        ConnectionFormContext c;
        c.peer = &peer;
        c.dialogs = &dialogs;
        c.options = &options;
        c.dataFolder = dataFolder;
        c.setBlockSizeCode = [this](int code) { blockSizeCode = code; };
        c.markConnectionModified = [this] { ++modifiedMarks; };
        c.showHelpTopic = [this](QWidget*, const QString& topic) { helpTopics << topic; };
        c.showError = [this](const QString& text) { errors << text; };
        c.loginName = [this] { return login; };
        return c;
    }

    // Runs the event loop until the attempt under way (if any) has ended.
    bool settle() {
        return pumpUntil([this] { return !peer.connecting() && !play.Busy(); });
    }

    QString phonesPath() const { return dataFolder + "/recents.phones"; }
};

}  // namespace velmora::test
