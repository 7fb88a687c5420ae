// tocd's socket loop on its own, with real clients on 127.0.0.1.
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tcp_loop.h"

namespace tocd::testing {
namespace {

// A connection's slot is used again at once after an abort; whatever the old connection's
// handle still does must reach neither the new client nor the server as the new connection's.
TEST(TcpLoop, ASlotUsedAgainKeepsTheOldConnectionApartFromTheNewOne) {
    std::vector<std::unique_ptr<Connection>> connections;
    std::map<TcpLoop::ConnectionId, std::string> received;
    std::vector<TcpLoop::ConnectionId> ended;
    TcpLoop loop({[&](std::unique_ptr<Connection> c) {
                      connections.push_back(std::move(c));
                      return static_cast<TcpLoop::ConnectionId>(connections.size());
                  },
                  [&](TcpLoop::ConnectionId id, std::string_view bytes) { received[id] += bytes; },
                  [&](TcpLoop::ConnectionId id) { ended.push_back(id); }});
    QString error;
    ASSERT_TRUE(loop.listen(QHostAddress::LocalHost, 0, &error)) << error.toStdString();

    QTcpSocket first;
    first.connectToHost(QHostAddress::LocalHost, loop.port());
    ASSERT_TRUE(QTest::qWaitFor([&] { return connections.size() == 1; }));
    connections[0]->abort();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return first.state() == QAbstractSocket::UnconnectedState; }));

    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, loop.port());
    ASSERT_TRUE(QTest::qWaitFor([&] { return connections.size() == 2; }));
    EXPECT_EQ(loop.openConnections(), 1);
    connections[0]->write("stale");
    EXPECT_EQ(connections[0]->bytesToWrite(), 0);
    connections[1]->write("fresh");
    connections[0].reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return second.bytesAvailable() >= 5; }));
    QTest::qWait(50);
    EXPECT_EQ(second.readAll().toStdString(), "fresh");

    second.write("hello");
    ASSERT_TRUE(QTest::qWaitFor([&] { return received[2].size() >= 5; }));
    EXPECT_EQ(received[2], "hello");
    EXPECT_TRUE(received[1].empty());
    EXPECT_TRUE(ended.empty());
    EXPECT_EQ(second.state(), QAbstractSocket::ConnectedState);
    connections.clear();  // before the loop, which must outlive them
}

}  // namespace
}  // namespace tocd::testing
