#include "base/DataFolder.h"
#include "base/IniFile.h"
#include "base/Options.h"
#include "shell/FileAssociation.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(Options, MissingFileGivesDefaultsAndTheFirstWriteCreatesIt) {
    const QString folder = test::makeTempFolder("options");
    const OptionsFile file(folder);
    const Options options = file.load();
    EXPECT_EQ(options.CheckExtension, 1);
    EXPECT_EQ(options.AskExit, 1);
    EXPECT_EQ(options.View, 1);
    EXPECT_EQ(options.Mode, 1);
    EXPECT_EQ(options.Speed, 4);
    EXPECT_EQ(options.Showloader, 1);
    EXPECT_EQ(options.TransfersList, 1);
    EXPECT_EQ(options.InternalLoop, 0);
    EXPECT_EQ(options.Reconnect, 1);
    EXPECT_EQ(options.UserName, "");
    EXPECT_EQ(options.Path, folder + "/Incoming/");
    ASSERT_TRUE(file.save(options));
    EXPECT_EQ(test::readFile(file.path()),
              "[Common]\nCheckExtension=1\nAskExit=1\nAskStop=1\nPath=" + folder.toUtf8() +
                  "/Incoming/\nUserName=\nInternalLoop=0\nView=1\nc_Help=0\nc_Connections1=1\n"
                  "c_Editor1=1\nc_View2=0\nc_ransfer1=0\nTransfersList=1\nUsersList=0\nMode=1\n"
                  "Speed=4\nShowloader=1\nReconnect=1\n\n[Desktop]\nNotify=1\nSendFolder=\n");
}

TEST(Options, UrlSectionIsReadAndKeptAndBadValuesTakeDefaults) {
    const QString folder = test::makeTempFolder("options-url");
    const OptionsFile file(folder);
    ASSERT_TRUE(test::writeFile(
        file.path(),
        "[URL]\nSupportEmail=help@example.org\nSiteURL=http://example.org\n"
        "[Common]\nSpeed=fast\nMode=5\nPath=/srv/in\nView=2\nc_Help=9\nExtra=kept\n"));
    Options options = file.load();
    EXPECT_EQ(options.SupportEmail, "help@example.org");
    EXPECT_EQ(options.SiteURL, "http://example.org");
    EXPECT_EQ(options.Speed, 4);
    EXPECT_EQ(options.Mode, 5);
    EXPECT_EQ(options.View, 2);
    EXPECT_EQ(options.Path, "/srv/in/") << "the separator is appended at load";
    options.Path = "/srv/other";
    ASSERT_TRUE(file.save(options));
    const QByteArray written = test::readFile(file.path());
    EXPECT_TRUE(written.startsWith("[URL]\nSupportEmail=help@example.org\n"));
    EXPECT_TRUE(written.contains("Extra=kept\n"));
    EXPECT_TRUE(written.contains("c_Help=0\n"));
    EXPECT_TRUE(written.contains("Path=/srv/other\n")) << "stored unchanged";
    EXPECT_EQ(file.load().SupportEmail, "help@example.org");
}

TEST(Options, EmptyPathBecomesTheDefaultFolder) {
    const QString folder = test::makeTempFolder("options-empty");
    ASSERT_TRUE(test::writeFile(folder + "/options.ini", "[Common]\nPath=\n"));
    EXPECT_EQ(OptionsFile(folder).load().Path, folder + "/Incoming/");
}

TEST(DataFolder, ChoosesTheVariableThenTheProgramFolderThenXdg) {
    const QByteArray saved = qgetenv("VELMORA_HOME");
    const QString program = test::makeTempFolder("program");
    EXPECT_EQ(dataFolder(program), QDir(QString::fromLocal8Bit(saved)).absolutePath());
    qunsetenv("VELMORA_HOME");
    EXPECT_EQ(dataFolder(program), program);
    // A folder that cannot take the settings (here: one that does not exist, as root can
    // write any existing folder).
    const QString installed = dataFolder(program + "/missing");
    qputenv("VELMORA_HOME", saved);
    const QString expected = qEnvironmentVariable("XDG_DATA_HOME") + "/velmora";
    EXPECT_EQ(installed, expected);
    EXPECT_TRUE(QFileInfo(expected).isDir());
}

TEST(DataFolder, LoginNameIsTheEffectiveUser) {
    EXPECT_FALSE(loginName().isEmpty());
}

TEST(Options, WindowPlacementHasASectionOfItsOwnThatTheOptionsKeep) {
    const QString folder = test::makeTempFolder("options");
    const OptionsFile file(folder);
    EXPECT_TRUE(file.loadPlacement().geometry.isEmpty()) << "first run: nothing remembered";

    ASSERT_TRUE(test::writeFile(file.path(), "[Common]\r\nMode=0\r\n"));
    const WindowPlacement placement{QByteArray("\x01\xD9\xD0\xCB\0\x03", 6), "splitter"};
    ASSERT_TRUE(file.savePlacement(placement));
    EXPECT_EQ(file.load().Mode, 0) << "the options are kept";
    Options options = file.load();
    options.Speed = 2;
    ASSERT_TRUE(file.save(options));
    EXPECT_EQ(file.loadPlacement().geometry, placement.geometry) << "kept by the options";
    EXPECT_EQ(file.loadPlacement().splitter, placement.splitter);
    EXPECT_EQ(file.load().Speed, 2);
    const QByteArray text = test::readFile(file.path());
    EXPECT_TRUE(text.contains("[Window]") && text.contains("Geometry=01d9d0cb0003")) << text.data();

    // A damaged value restores nothing.
    ASSERT_TRUE(test::writeFile(file.path(), "[Window]\r\nGeometry=01d9z0\r\nSplitter=abc\r\n"));
    EXPECT_TRUE(file.loadPlacement().geometry.isEmpty());
    EXPECT_TRUE(file.loadPlacement().splitter.isEmpty());
}

}  // namespace
}  // namespace velmora
