#include "base/IniFile.h"

#include "support/TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(IniFile, ReadsWithProfileRules) {
    const IniFile ini = IniFile::fromBytes(
        "; a comment\r\n"
        "[Common]\r\n"
        "  AskExit = 0 \r\n"
        "askexit=5\r\n"
        "line without equals\r\n"
        "Path=\"/tmp/in coming/\"\r\n"
        "Speed=three\r\n"
        "Mode=12abc\r\n"
        "[common]\r\n"
        "View=0\r\n"
        "[Other]\r\n"
        "Key=value=with=equals\r\n");
    EXPECT_EQ(ini.intValue("COMMON", "AskExit", 1), 0) << "first duplicate wins, any case";
    EXPECT_EQ(ini.stringValue("Common", "Path", {}), "/tmp/in coming/");
    EXPECT_EQ(ini.intValue("Common", "Speed", 4), 4) << "not a number gives the default";
    EXPECT_EQ(ini.intValue("Common", "Mode", 1), 1);
    EXPECT_EQ(ini.intValue("Common", "View", 1), 1) << "a second [common] section is not read";
    EXPECT_FALSE(ini.value("Common", "line without equals"));
    EXPECT_EQ(ini.stringValue("Other", "Key", {}), "value=with=equals");
    EXPECT_FALSE(ini.value("Missing", "Key"));
}

TEST(IniFile, WritingAKeyKeepsEverythingElse) {
    const QByteArray original =
        "; keep me\n[Common]\nAskExit=1\ngarbage line\nUnknown=7\n\n[URL]\nSiteURL=x\n";
    IniFile ini = IniFile::fromBytes(original);
    ini.setValue("Common", "AskExit", 0);
    ini.setValue("Common", "Mode", 1);
    ini.setValue("New", "Key", "v");
    EXPECT_EQ(ini.toBytes(),
              "; keep me\n[Common]\nAskExit=0\ngarbage line\nUnknown=7\nMode=1\n\n[URL]\n"
              "SiteURL=x\n\n[New]\nKey=v\n");
    // Reading back what was written gives the values.
    const IniFile again = IniFile::fromBytes(ini.toBytes());
    EXPECT_EQ(again.intValue("Common", "Mode", -1), 1);
    EXPECT_EQ(again.stringValue("New", "Key", {}), "v");
    EXPECT_EQ(again.stringValue("URL", "SiteURL", {}), "x");
}

TEST(IniFile, ReadsPastAByteOrderMarkAndKeepsIt) {
    const QByteArray marked = "\xEF\xBB\xBF[Common]\r\nAskExit=0\r\n";
    IniFile ini = IniFile::fromBytes(marked);
    EXPECT_EQ(ini.intValue("Common", "AskExit", 1), 0) << "the first section is found";
    EXPECT_EQ(ini.toBytes(), marked);
    ini.setValue("Common", "AskExit", 1);
    EXPECT_EQ(ini.toBytes(), "\xEF\xBB\xBF[Common]\r\nAskExit=1\r\n");

    IniFile markOnly = IniFile::fromBytes("\xEF\xBB\xBF");
    markOnly.setValue("Common", "Key", "v");
    EXPECT_EQ(markOnly.toBytes(), "\xEF\xBB\xBF[Common]\nKey=v\n");
    // A mark anywhere else is no mark: the line stays unreadable as a section.
    EXPECT_FALSE(
        IniFile::fromBytes("\n\xEF\xBB\xBF[Common]\nAskExit=0\n").value("Common", "AskExit"));
}

TEST(IniFile, WritesNoLineBreaksIntoValues) {
    // A name from the other computer must not add keys or sections to a saved file.
    IniFile ini = IniFile::fromBytes("[Session]\nName=old\n[Serial]\nPort=/dev/ttyS0\n");
    ini.setValue("Session", "Name", "Bob\r\n[Serial]\r\nPort=/dev/evil\nSpeed=1\rEnd");
    ini.setValue("New", "Name", "a\n[Other]\nKey=x");
    const IniFile reread = IniFile::fromBytes(ini.toBytes());
    EXPECT_EQ(reread.stringValue("Session", "Name", {}), "Bob [Serial] Port=/dev/evil Speed=1 End");
    EXPECT_EQ(reread.stringValue("Serial", "Port", {}), "/dev/ttyS0");
    EXPECT_FALSE(reread.value("Session", "Speed"));
    EXPECT_EQ(reread.stringValue("New", "Name", {}), "a [Other] Key=x");
    EXPECT_FALSE(reread.value("Other", "Key"));
    EXPECT_EQ(ini.toBytes().count('\n'), 7) << ini.toBytes().toStdString();
}

TEST(IniFile, SurvivesBinaryTruncatedAndHugeFiles) {
    QByteArray binary;
    for (int i = 0; i < 4096; ++i) {
        binary += static_cast<char>(i * 37 % 256);
    }
    IniFile fromBinary = IniFile::fromBytes(binary);
    EXPECT_EQ(fromBinary.intValue("Common", "AskExit", 3), 3);
    fromBinary.setValue("Common", "AskExit", 0);
    const QByteArray written = fromBinary.toBytes();
    EXPECT_TRUE(written.startsWith(binary)) << "unknown bytes are kept";
    EXPECT_EQ(IniFile::fromBytes(written).intValue("Common", "AskExit", 3), 0);

    const IniFile truncated = IniFile::fromBytes("[Common]\nAskExit=0\nSpe");
    EXPECT_EQ(truncated.intValue("Common", "AskExit", 1), 0);
    EXPECT_FALSE(truncated.value("Common", "Spe"));

    const QString folder = test::makeTempFolder("ini");
    const QString hugePath = folder + "/huge.ini";
    QFile huge(hugePath);
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    huge.write("[Common]\nAskExit=0\n");
    huge.resize(IniFile::MaximumSize + 1);
    huge.close();
    EXPECT_EQ(IniFile::load(hugePath).intValue("Common", "AskExit", 1), 1);
    EXPECT_EQ(IniFile::load(folder + "/missing.ini").intValue("Common", "AskExit", 1), 1);
}

TEST(IniFile, SaveReplacesTheFileWhole) {
    const QString path = test::makeTempFolder("ini-save") + "/a.ini";
    IniFile ini = IniFile::load(path);
    ini.setValue("Common", "Key", "first");
    ASSERT_TRUE(ini.save(path));
    IniFile reread = IniFile::load(path);
    EXPECT_EQ(reread.stringValue("Common", "Key", {}), "first");
    reread.setValue("Common", "Key", "second");
    ASSERT_TRUE(reread.save(path));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "[Common]\nKey=second\n");
    EXPECT_FALSE(ini.save(path + "/not-a-folder/x.ini"));
}

}  // namespace
}  // namespace velmora
