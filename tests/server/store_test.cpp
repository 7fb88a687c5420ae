// The store on its own; what it keeps of lists and settings is checked through a restarted
// tocd (session_test.cpp).
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

}  // namespace
}  // namespace tocd
