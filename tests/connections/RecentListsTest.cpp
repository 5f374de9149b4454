#include "connections/RecentLists.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

QStringList numbered(int count) {
    QStringList names;
    for (int i = 1; i <= count; ++i) {
        names << QStringLiteral("/c/%1.vmc").arg(i);
    }
    return names;
}

TEST(RecentListsTest, ListFilesAreCrLfLinesNewestFirst) {
    const QString folder = test::makeTempFolder("recent");
    const QString path = folder + "/recents.phones";
    EXPECT_FALSE(RecentLists::readPhones(path).has_value());
    const QStringList entries{"555 1234", "", "Caf\u00e9 & Bar"};
    ASSERT_TRUE(RecentLists::writePhones(path, entries));
    EXPECT_EQ(test::readFile(path), QByteArray("555 1234\r\n\r\nCaf\xc3\xa9 & Bar\r\n"));
    EXPECT_EQ(RecentLists::readPhones(path), entries);

    // An empty file is an empty list, not a missing one.
    ASSERT_TRUE(test::writeFile(path, ""));
    EXPECT_EQ(RecentLists::readPhones(path), QStringList());

    EXPECT_FALSE(RecentLists::writePhones(folder + "/no/such/folder/recents.list", entries));
}

TEST(RecentListsTest, ConnectionListSkipsBlankLinesAndTakesLongAndManyLines) {
    const QString path = test::makeTempFolder("recent") + "/recents.list";
    EXPECT_TRUE(RecentLists::readConnections(path).isEmpty());
    const QString longName = "/" + QString(5000, u'n') + ".vmc";
    QByteArray bytes = "\r\n" + longName.toUtf8() + "\r\n   \r\n/x/&Sales.vmc\r\n";
    for (int i = 0; i < 3000; ++i) {
        bytes += QByteArray("/many/") + QByteArray::number(i) + ".vmc\r\n";
    }
    ASSERT_TRUE(test::writeFile(path, bytes));
    const QStringList names = RecentLists::readConnections(path);
    ASSERT_EQ(names.size(), 3002);
    EXPECT_EQ(names[0], longName);
    EXPECT_EQ(names[1], "/x/&Sales.vmc");
    EXPECT_EQ(names.last(), "/many/2999.vmc");
}

TEST(RecentListsTest, OpenedConnectionsMoveToTopAndTheListShrinksByOneEntryAtMost) {
    QStringList list;
    RecentLists::addOpenedConnection(list, "/a.vmc");
    RecentLists::addOpenedConnection(list, "/b.vmc");
    RecentLists::addOpenedConnection(list, "/a.vmc");
    EXPECT_EQ(list, (QStringList{"/a.vmc", "/b.vmc"}));
    // Letter case makes a different entry.
    RecentLists::addOpenedConnection(list, "/A.vmc");
    EXPECT_EQ(list, (QStringList{"/A.vmc", "/a.vmc", "/b.vmc"}));

    // Ten entries: a new one drops the tenth.
    list = numbered(10);
    RecentLists::addOpenedConnection(list, "/new.vmc");
    ASSERT_EQ(list.size(), 10);
    EXPECT_EQ(list.first(), "/new.vmc");
    EXPECT_EQ(list.last(), "/c/9.vmc");
    RecentLists::addOpenedConnection(list, "/c/5.vmc");
    EXPECT_EQ(list.size(), 10);
    EXPECT_EQ(list.first(), "/c/5.vmc");

    // Fifteen from a hand-made file: a new name keeps 15, a listed one shrinks the list by one.
    list = numbered(15);
    RecentLists::addOpenedConnection(list, "/new.vmc");
    ASSERT_EQ(list.size(), 15);
    EXPECT_EQ(list.first(), "/new.vmc");
    EXPECT_EQ(list.last(), "/c/14.vmc");
    RecentLists::addOpenedConnection(list, "/c/3.vmc");
    ASSERT_EQ(list.size(), 14);
    EXPECT_EQ(list.first(), "/c/3.vmc");
    EXPECT_EQ(list.last(), "/c/13.vmc");
}

TEST(RecentListsTest, PhoneNumbersAreAddedOnceWithoutRegardToCase) {
    QStringList phones{"555-ABC"};
    EXPECT_FALSE(RecentLists::addPhoneNumber(phones, "555-abc"));
    EXPECT_TRUE(RecentLists::addPhoneNumber(phones, "12"));
    EXPECT_TRUE(RecentLists::addPhoneNumber(phones, ""));
    EXPECT_FALSE(RecentLists::addPhoneNumber(phones, ""));
    EXPECT_EQ(phones, (QStringList{"", "12", "555-ABC"}));
    for (int i = 0; i < 500; ++i) {
        RecentLists::addPhoneNumber(phones, QString::number(1000 + i));
    }
    EXPECT_EQ(phones.size(), 503);
    EXPECT_EQ(phones.first(), "1499");
}

}  // namespace
}  // namespace velmora
