#include "connections/ConnectionFile.h"
#include "connections/ConnectionModified.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(ConnectionFileTest, ExtensionIsAppendedUnlessFoundCaseSensitively) {
    EXPECT_EQ(ConnectionFile::withExtension("conn"), "conn.vmc");
    EXPECT_EQ(ConnectionFile::withExtension("/a/b/conn.vmc"), "/a/b/conn.vmc");
    EXPECT_EQ(ConnectionFile::withExtension("conn.VMC"), "conn.VMC.vmc");
    EXPECT_EQ(ConnectionFile::withExtension("a.vmc.old"), "a.vmc.old");
    EXPECT_EQ(ConnectionFile::withExtension("dir.vmc/x"), "dir.vmc/x");
    EXPECT_EQ(ConnectionFile::withExtension(""), ".vmc");
}

TEST(ConnectionFileTest, IntegersReadAsDecimalOrHexadecimalElseZero) {
    EXPECT_EQ(ConnectionFile::readInteger("1"), 1);
    EXPECT_EQ(ConnectionFile::readInteger(" 12 "), 12);
    EXPECT_EQ(ConnectionFile::readInteger("0x1F"), 31);
    EXPECT_EQ(ConnectionFile::readInteger("0X1f"), 31);
    EXPECT_EQ(ConnectionFile::readInteger("$10"), 16);
    EXPECT_EQ(ConnectionFile::readInteger("-3"), -3);
    EXPECT_EQ(ConnectionFile::readInteger(""), 0);
    EXPECT_EQ(ConnectionFile::readInteger("yes"), 0);
    EXPECT_EQ(ConnectionFile::readInteger("1x"), 0);
    EXPECT_EQ(ConnectionFile::readInteger("0x"), 0);
    EXPECT_EQ(ConnectionFile::readInteger("$"), 0);
    EXPECT_EQ(ConnectionFile::readInteger("0xZZ"), 0);
    EXPECT_EQ(ConnectionFile::readInteger("+1"), 0);
    EXPECT_EQ(ConnectionFile::readInteger("--1"), 0);
    EXPECT_EQ(ConnectionFile::readInteger("99999999999"), 0);
    EXPECT_EQ(ConnectionFile::readInteger("0xFFFFFFFFFF"), 0);
    EXPECT_EQ(ConnectionFile::readInteger("2147483647"), 2147483647);
}

TEST(ConnectionFileTest, WritesKeysInOrderAndReadsThemBack) {
    const QString folder = test::makeTempFolder("vmc");
    const QString path = folder + "/host.vmc";
    ConnectionSettings host;
    host.Provider = 0;
    host.SessionName = "VelmoraSession";
    host.ModemName = "Modem \xc3\xa9";
    host.IsHost = 0;
    ASSERT_TRUE(ConnectionFile::write(path, host));
    EXPECT_EQ(test::readFile(path),
              QByteArray("[Connection]\nProvider=0\nSessionName=VelmoraSession\n"
                         "ModemName=Modem \xc3\xa9\nPhoneNumber=\nIsHost=0\n"));

    ConnectionSettings caller;
    caller.Provider = 1;
    caller.SessionName = "Their session";
    caller.PhoneNumber = "555 1234";
    caller.IsHost = 1;
    ASSERT_TRUE(ConnectionFile::write(folder + "/caller.vmc", caller));
    const ConnectionSettings back = ConnectionFile::read(folder + "/caller.vmc");
    EXPECT_EQ(back.Provider, 1);
    EXPECT_EQ(back.SessionName, "Their session");
    EXPECT_EQ(back.ModemName, "");
    EXPECT_EQ(back.PhoneNumber, "555 1234");
    EXPECT_EQ(back.IsHost, 1);

    // A provider that is neither leaves the key out (and an earlier value in place).
    ConnectionSettings other = caller;
    other.Provider.reset();
    ASSERT_TRUE(ConnectionFile::write(folder + "/other.vmc", other));
    EXPECT_FALSE(test::readFile(folder + "/other.vmc").contains("Provider"));
    EXPECT_EQ(ConnectionFile::read(folder + "/other.vmc").Provider, 0);
}

TEST(ConnectionFileTest, ANetworkConnectionKeepsItsAddressAfterTheOldKeys) {
    const QString folder = test::makeTempFolder("vmc");
    ConnectionSettings network;
    network.Provider = NetworkProviderIndex;
    network.SessionName = "VelmoraSession";
    network.HostName = "ann.example";
    network.Port = 5700;
    network.IsHost = 1;
    ASSERT_TRUE(ConnectionFile::write(folder + "/net.vmc", network));
    // The keys a version with two methods reads come first, as they always did.
    EXPECT_EQ(test::readFile(folder + "/net.vmc"),
              QByteArray("[Connection]\nProvider=2\nSessionName=VelmoraSession\nModemName=\n"
                         "PhoneNumber=\nIsHost=1\nHostName=ann.example\nPort=5700\n"));
    const ConnectionSettings back = ConnectionFile::read(folder + "/net.vmc");
    EXPECT_EQ(back.Provider, NetworkProviderIndex);
    EXPECT_EQ(back.HostName, "ann.example");
    EXPECT_EQ(back.Port, 5700);
    EXPECT_EQ(back.IsHost, 1);

    // A port that is no port reads as none.
    ASSERT_TRUE(test::writeFile(folder + "/bad.vmc", "[Connection]\nProvider=2\nPort=70000\n"));
    EXPECT_EQ(ConnectionFile::read(folder + "/bad.vmc").Port, 0);
    ASSERT_TRUE(test::writeFile(folder + "/neg.vmc", "[Connection]\nProvider=2\nPort=-5\n"));
    EXPECT_EQ(ConnectionFile::read(folder + "/neg.vmc").Port, 0);
    // The cable's and the modem's files carry no network keys.
    ConnectionSettings cable;
    cable.Provider = 1;
    cable.HostName = "ignored";
    ASSERT_TRUE(ConnectionFile::write(folder + "/cable.vmc", cable));
    EXPECT_FALSE(test::readFile(folder + "/cable.vmc").contains("HostName"));
}

TEST(ConnectionFileTest, SavingOverAFileKeepsItsOtherContent) {
    const QString path = test::makeTempFolder("vmc") + "/mixed.vmc";
    ASSERT_TRUE(test::writeFile(
        path,
        "; made by hand\r\n[Before]\r\nA=1\r\n[Connection]\r\nIsHost=1\r\nExtra=keep\r\n"
        "Provider=1\r\n[After]\r\nB=2\r\n"));
    ConnectionSettings settings;
    settings.Provider = 0;
    settings.SessionName = "S";
    settings.IsHost = 0;
    ASSERT_TRUE(ConnectionFile::write(path, settings));
    const QByteArray bytes = test::readFile(path);
    EXPECT_TRUE(bytes.startsWith("; made by hand"));
    EXPECT_TRUE(bytes.contains("[Before]"));
    EXPECT_TRUE(bytes.contains("A=1"));
    EXPECT_TRUE(bytes.contains("Extra=keep"));
    EXPECT_TRUE(bytes.contains("[After]"));
    EXPECT_TRUE(bytes.contains("B=2"));
    EXPECT_FALSE(bytes.contains("IsHost=1"));
    EXPECT_FALSE(bytes.contains("Provider=1"));
    const ConnectionSettings back = ConnectionFile::read(path);
    EXPECT_EQ(back.Provider, 0);
    EXPECT_EQ(back.IsHost, 0);
    EXPECT_EQ(back.SessionName, "S");
}

TEST(ConnectionFileTest, BadFilesReadAsDefaults) {
    const QString folder = test::makeTempFolder("vmc");
    const auto expectDefaults = [](const ConnectionSettings& s) {
        EXPECT_EQ(s.Provider, 0);
        EXPECT_EQ(s.IsHost, 0);
        EXPECT_TRUE(s.SessionName.isEmpty());
        EXPECT_TRUE(s.ModemName.isEmpty());
        EXPECT_TRUE(s.PhoneNumber.isEmpty());
    };
    expectDefaults(ConnectionFile::read(folder + "/missing.vmc"));

    QByteArray binary;
    for (int i = 0; i < 4096; ++i) {
        binary.append(static_cast<char>((i * 37) & 0xFF));
    }
    ASSERT_TRUE(test::writeFile(folder + "/binary.vmc", binary));
    const ConnectionSettings fromBinary = ConnectionFile::read(folder + "/binary.vmc");
    EXPECT_EQ(fromBinary.Provider, 0);

    ASSERT_TRUE(
        test::writeFile(folder + "/truncated.vmc", "[Connection]\r\nProvider=1\r\nSessionNa"));
    EXPECT_EQ(ConnectionFile::read(folder + "/truncated.vmc").Provider, 1);

    ASSERT_TRUE(test::writeFile(folder + "/numbers.vmc",
                                "[Connection]\nProvider=-7\nIsHost=0x7FFFFFFFFF\n"));
    const ConnectionSettings numbers = ConnectionFile::read(folder + "/numbers.vmc");
    EXPECT_EQ(numbers.Provider, -7);
    EXPECT_EQ(numbers.IsHost, 0);

    QByteArray enormous("[Connection]\nProvider=1\n");
    enormous.append(QByteArray(9 * 1024 * 1024, 'x'));
    ASSERT_TRUE(test::writeFile(folder + "/enormous.vmc", enormous));
    expectDefaults(ConnectionFile::read(folder + "/enormous.vmc"));
}

TEST(ConnectionFileTest, WritingIntoAFolderThatCannotBeWrittenFails) {
    const QString base = test::makeTempFolder("vmc");
    ConnectionSettings settings;
    settings.Provider = 1;
    EXPECT_FALSE(ConnectionFile::write(base + "/missing/x.vmc", settings));
    ASSERT_TRUE(QDir().mkpath(base + "/folder.vmc"));
    EXPECT_FALSE(ConnectionFile::write(base + "/folder.vmc", settings));

    const QString folder = base + "/locked";
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    if (QFile file(folder + "/probe"); file.open(QIODevice::WriteOnly)) {
        GTEST_SKIP() << "running with rights that ignore folder permissions";
    }
    EXPECT_FALSE(ConnectionFile::write(folder + "/x.vmc", settings));
}

TEST(ConnectionFileTest, ConnectionModifiedFollowsItsEvents) {
    for (const bool before : {false, true}) {
        EXPECT_FALSE(connectionModifiedAfter(ConnectionEvent::ProgramStart, before));
        EXPECT_TRUE(connectionModifiedAfter(ConnectionEvent::DialogFieldChanged, before));
        EXPECT_TRUE(connectionModifiedAfter(ConnectionEvent::WizardNext, before));
        EXPECT_TRUE(connectionModifiedAfter(ConnectionEvent::StartWindowLink, before));
        EXPECT_FALSE(connectionModifiedAfter(ConnectionEvent::OpenedFromMenuOrToolbar, before));
        EXPECT_FALSE(connectionModifiedAfter(ConnectionEvent::Saved, before));
        EXPECT_FALSE(connectionModifiedAfter(ConnectionEvent::Disconnected, before));
        EXPECT_EQ(connectionModifiedAfter(ConnectionEvent::OpenedRecentOrCommandLine, before),
                  before);
    }
}

}  // namespace
}  // namespace velmora
