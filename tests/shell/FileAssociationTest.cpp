#include "shell/FileAssociation.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <optional>

namespace velmora {
namespace {

bool haveTool(const char* name) {
    return !QStandardPaths::findExecutable(name).isEmpty();
}

QByteArray entry(const QByteArray& mimeTypes, const QByteArray& extra = {}) {
    return "[Desktop Entry]\nType=Application\nName=X\nExec=x %f\nMimeType=" + mimeTypes + "\n" +
           extra;
}

TEST(FileAssociation, ExecQuotesAProgramPathWithReservedCharacters) {
    EXPECT_EQ(FileAssociation::execProgram("/usr/bin/velmora"), "/usr/bin/velmora");
    EXPECT_EQ(FileAssociation::execProgram("/opt/My Programs/velmora"),
              "\"/opt/My Programs/velmora\"");
    // '$' and '"' take a backslash inside the quotes; every backslash is then doubled as the
    // file's string escape.
    EXPECT_EQ(FileAssociation::execProgram("/opt/a$b \"c\"/v"), "\"/opt/a\\\\$b \\\\\"c\\\\\"/v\"");
    EXPECT_EQ(FileAssociation::execProgram("/opt/back\\slash/v"), "\"/opt/back\\\\\\\\slash/v\"");
    EXPECT_EQ(FileAssociation::execProgram("/opt/100%/v"), "/opt/100%%/v");
}

TEST(FileAssociation, AssociatesThroughTheDatabasesAndKeepsOtherDefaults) {
    if (!haveTool("update-mime-database")) {
        GTEST_SKIP() << "update-mime-database (shared-mime-info) is not installed";
    }
    const QString root = test::makeTempFolder("assoc");
    const FileAssociation association(root + "/data", root + "/config");
    EXPECT_FALSE(association.isAssociated());
    ASSERT_TRUE(test::writeFile(association.mimeAppsPath(),
                                "[Default Applications]\ntext/plain=editor.desktop\n"
                                "application/x-velmora-connection=velmora.desktop\n"));
    ASSERT_TRUE(test::writeFile(association.desktopEntryPath(),
                                entry("application/x-velmora-connection;")));
    EXPECT_FALSE(association.isAssociated())
        << "a default in mimeapps.list is not enough while the MIME database has no *.vmc";

    const QString program = root + "/My Programs/velmora";
    std::optional<bool> updated;
    ASSERT_TRUE(association.associate(program, [&updated](bool well) { updated = well; }));
    ASSERT_TRUE(test::pumpUntil([&updated] { return updated.has_value(); }));
    EXPECT_TRUE(*updated);
    EXPECT_TRUE(association.isAssociated());
    EXPECT_EQ(association.mimeTypeOfFileName("Bob.VMC"), FileAssociation::MimeType);
    EXPECT_TRUE(test::readFile(association.mimeAppsPath()).contains("text/plain=editor.desktop\n"));
    EXPECT_TRUE(test::readFile(association.desktopEntryPath())
                    .contains("Exec=\"" + program.toUtf8() + "\" %f\n"));
    if (haveTool("update-desktop-database")) {
        EXPECT_TRUE(test::readFile(root + "/data/applications/mimeinfo.cache")
                        .contains("application/x-velmora-connection=velmora.desktop;"));
    }
    if (haveTool("desktop-file-validate")) {
        QProcess validate;
        validate.start("desktop-file-validate", {association.desktopEntryPath()});
        ASSERT_TRUE(validate.waitForFinished());
        EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString();
    }
}

TEST(FileAssociation, FindsTheDefaultApplicationAsTheDesktopDoes) {
    const QString root = test::makeTempFolder("mimeapps");
    XdgFolders folders{root + "/home-data",
                       {root + "/local", root + "/usr"},
                       root + "/home-config",
                       {root + "/etc"},
                       {"kde"}};
    const FileAssociation association(folders);
    const QString type = FileAssociation::MimeType;
    EXPECT_EQ(association.defaultApplication(type), "");

    // Entries that take the type name it themselves; a hidden one counts as deleted.
    ASSERT_TRUE(
        test::writeFile(root + "/usr/applications/velmora.desktop", entry(type.toUtf8() + ";")));
    ASSERT_TRUE(test::writeFile(root + "/usr/applications/other.desktop",
                                entry("text/plain;" + type.toUtf8())));
    ASSERT_TRUE(
        test::writeFile(root + "/local/applications/vendor/viewer.desktop", entry("text/plain;")));
    ASSERT_TRUE(test::writeFile(root + "/home-data/applications/other.desktop",
                                entry(type.toUtf8(), "Hidden=true\n")));
    EXPECT_EQ(association.defaultApplication(type), "velmora.desktop");
    ASSERT_TRUE(test::writeFile(root + "/etc/mimeapps.list",
                                "[Removed Associations]\n" + type.toUtf8() +
                                    "=velmora.desktop\n[Added Associations]\n" + type.toUtf8() +
                                    "=vendor-viewer.desktop\n"));
    EXPECT_EQ(association.defaultApplication(type), "vendor-viewer.desktop")
        << "added associations come first; removed ones are passed over";

    // A default wins; one that is not installed is passed over; the user's level comes first,
    // and within a level the current desktop's list.
    ASSERT_TRUE(test::writeFile(root + "/usr/applications/mimeapps.list",
                                "[Default Applications]\n" + type.toUtf8() + "=velmora.desktop\n"));
    EXPECT_EQ(association.defaultApplication(type), "velmora.desktop");
    ASSERT_TRUE(test::writeFile(
        root + "/home-config/mimeapps.list",
        "[Default Applications]\n" + type.toUtf8() + "=missing.desktop;other.desktop\n"));
    EXPECT_EQ(association.defaultApplication(type), "velmora.desktop");
    ASSERT_TRUE(
        test::writeFile(root + "/home-config/mimeapps.list",
                        "[Default Applications]\n" + type.toUtf8() + "=vendor-viewer.desktop\n"));
    EXPECT_EQ(association.defaultApplication(type), "vendor-viewer.desktop");
    ASSERT_TRUE(test::writeFile(root + "/home-config/kde-mimeapps.list",
                                "[Default Applications]\n" + type.toUtf8() + "=velmora.desktop\n"));
    EXPECT_EQ(association.defaultApplication(type), "velmora.desktop");
}

TEST(FileAssociation, TheHeaviestGlobGivesTheType) {
    const QString root = test::makeTempFolder("globs");
    const FileAssociation association(
        XdgFolders{root + "/home", {root + "/usr"}, root + "/config", {}, {}});
    ASSERT_TRUE(
        test::writeFile(root + "/usr/mime/globs2",
                        "# comment\n50:text/x-other:*.vmc\n50:application/x-case:*.Vmc:cs\n"));
    EXPECT_EQ(association.mimeTypeOfFileName("a.vmc"), "text/x-other");
    EXPECT_EQ(association.mimeTypeOfFileName("a.Vmc"), "text/x-other") << "first of equals";
    ASSERT_TRUE(
        test::writeFile(root + "/home/mime/globs2", "60:application/x-velmora-connection:*.vmc\n"));
    EXPECT_EQ(association.mimeTypeOfFileName("A.VMC"), FileAssociation::MimeType);
    EXPECT_EQ(association.mimeTypeOfFileName("a.vmc.txt"), "");
}

}  // namespace
}  // namespace velmora
