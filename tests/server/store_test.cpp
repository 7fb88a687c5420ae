#include "store.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tocd {
namespace {

TEST(Store, PasswordsAreCheckedAndNeverStoredInClear) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.db"));
    {
        AccountStore store;
        ASSERT_TRUE(store.open(file, nullptr));
        EXPECT_EQ(store.checkPassword("alice", "pw"), AccountStore::Check::NoAccount);
        ASSERT_TRUE(store.create("alice", "Sesame42"));
        EXPECT_FALSE(store.create("alice", "other"));
        EXPECT_EQ(store.checkPassword("alice", "Sesame42"), AccountStore::Check::Ok);
        EXPECT_EQ(store.checkPassword("alice", "sesame42"), AccountStore::Check::WrongPassword);
        ASSERT_TRUE(store.create("bob", "Sesame42"));
        ASSERT_TRUE(store.setPassword("bob", "Open\xff"));
        EXPECT_EQ(store.checkPassword("bob", "Open\xff"), AccountStore::Check::Ok);
        EXPECT_EQ(store.checkPassword("bob", "Sesame42"), AccountStore::Check::WrongPassword);
    }
    for (const QString& name : {file, file + QStringLiteral("-wal")}) {
        QFile f(name);
        EXPECT_FALSE(f.open(QIODevice::ReadOnly) && f.readAll().contains("Sesame42"))
            << name.toStdString();
    }
}

TEST(Store, ListsAndSettingsSurviveReopening) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.db"));
    {
        AccountStore store;
        ASSERT_TRUE(store.open(file, nullptr));
        ASSERT_TRUE(store.create("alice", "pw"));
        ASSERT_TRUE(store.setFormatted("alice", "Al Ice"));
        ASSERT_TRUE(store.setProfile("alice", "<b>caf\xe9</b>"));
        ASSERT_TRUE(store.setPdMode("alice", 4));
        for (const char* group : {"Work", "Friends \xe9", "Gone"})
            ASSERT_TRUE(store.addGroup("alice", group));
        ASSERT_TRUE(store.addBuddy("alice", "Friends \xe9", "Joe Smith", "Joey"));
        ASSERT_TRUE(store.addBuddy("alice", "Work", "bob", ""));
        ASSERT_TRUE(store.addBuddy("alice", "Work", "carol", ""));
        ASSERT_TRUE(store.addBuddy("alice", "Gone", "dave", ""));
        EXPECT_FALSE(store.addBuddy("alice", "Work", "bob", "again"));
        ASSERT_TRUE(store.removeBuddy("alice", "Work", "bob"));
        ASSERT_TRUE(store.removeGroup("alice", "Gone"));
        ASSERT_TRUE(store.addListEntry("alice", ListKind::Deny, "mallory"));
        ASSERT_TRUE(store.addListEntry("alice", ListKind::Permit, "bob"));
        ASSERT_TRUE(store.addListEntry("alice", ListKind::Permit, "carol"));
        ASSERT_TRUE(store.removeListEntry("alice", ListKind::Permit, "bob"));
    }
    AccountStore store;
    ASSERT_TRUE(store.open(file, nullptr));
    const auto a = store.load("alice");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->formatted, "Al Ice");
    EXPECT_EQ(a->profile, "<b>caf\xe9</b>");
    EXPECT_EQ(a->pdMode, 4);
    std::string groups;
    for (const auto& g : a->groups) {
        groups += "[" + g.name + "]";
        for (const auto& b : g.buddies)
            groups += b.name + "/" + b.alias + ";";
    }
    EXPECT_EQ(groups, "[Work]carol/;[Friends \xe9]Joe Smith/Joey;");
    EXPECT_EQ(a->denies, std::vector<std::string>{"mallory"});
    EXPECT_EQ(a->permits, std::vector<std::string>{"carol"});
    EXPECT_FALSE(store.load("nobody"));
}

}  // namespace
}  // namespace tocd
