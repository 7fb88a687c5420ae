// tocd's server inside the test process, each session on a connection that keeps what the
// server writes. Each client read is followed by the server's turns until no command waits, so
// every answer of the commands sent, and every delivery they cause to other sessions, is written
// when send() or say() returns: a test reads "nothing else came" at once, without
// waiting, and no clock decides a result (tests that need time give the server a clock of their
// own). Sign-on waits for the password check (worker threads).
//
// Threading: the thread that owns the QCoreApplication.
#pragma once

#include <QCoreApplication>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "connection.h"
#include "harness.h"
#include "server.h"

namespace tocd::testing {

class InProcessServer {
public:
    static Options optionsForTests() {
        Options options;
        options.passwordCost = PasswordCost::Minimum;
        options.registrationsPerHour = 0;
        options.rateBurst = 0;
        options.keepAliveSeconds = 0;
        return options;
    }

    explicit InProcessServer(Options options = optionsForTests()) : server_(std::move(options)) {
        QString error;
        EXPECT_TRUE(server_.openStore(&error)) << error.toStdString();
    }

    // A new session of `name` (password "pw"), signed on; without `initDone` it stops before
    // toc_init_done, so it never becomes visible. `commands` go in the same read as the
    // sign-on. Returns the user's index.
    int signOn(const std::string& name, bool initDone = true,
               const std::vector<std::string>& commands = {}) {
        const int user = connect();
        std::string bytes = signOnBytes(name);
        if (!initDone)
            bytes.resize(bytes.size() - clientFrame(2, std::string(14, '\0'), 0).size());
        users_[user]->sequence = initDone ? 3 : 2;
        for (const auto& c : commands)
            bytes += frame(*users_[user], c);
        send(user, bytes);
        finishChecks();
        return user;
    }

    // A connection from `from` that has sent nothing yet; returns the user's index.
    int connect(const std::string& from = "127.0.0.1") {
        auto user = std::make_unique<User>();
        user->index = static_cast<int>(users_.size());
        user->session = server_.openSession(std::make_unique<Wire>(*user, answerOrder_, from));
        users_.push_back(std::move(user));
        return users_.back()->index;
    }

    // Every byte written to `user` so far, frames or not (an HTTP answer).
    const std::string& written(int user) const { return users_[user]->written; }

    // Bytes from the client, in one read; a sign-on's password check is left running.
    void send(int user, const std::string& bytes) {
        server_.receive(users_[user]->session, bytes);
        server_.finishTurns();
    }

    // `lines` from the client in one read, handled only as far as the read itself goes: the
    // commands left for later turns wait for runTurns().
    void arrive(int user, const std::vector<std::string>& lines) {
        std::string bytes;
        for (const auto& line : lines)
            bytes += frame(*users_[user], line);
        server_.receive(users_[user]->session, bytes);
    }
    void runTurns() { server_.finishTurns(); }

    // Runs every password check, queued or under way, to its answer.
    void finishChecks() {
        server_.finishPasswordChecks();
        server_.finishTurns();
        QCoreApplication::processEvents();
    }

    // Users in the order their first answer to a sign-on (SIGN_ON or ERROR) was written.
    const std::vector<int>& answerOrder() const { return answerOrder_; }

    Server& server() { return server_; }

    void say(int user, const std::string& line) {
        server_.receive(users_[user]->session, frame(*users_[user], line));
        server_.finishTurns();
    }

    // The messages of the data frames written to `user` since the last call.
    std::vector<std::string> take(int user) {
        User& u = *users_[user];
        std::vector<std::string> out;
        std::string_view rest = std::string_view(u.written).substr(u.read);
        while (rest.size() >= lantry::wire::kFrameHeaderSize &&
               rest.size() >= lantry::wire::frameLength(rest)) {
            const auto length = lantry::wire::frameLength(rest);
            if (rest[1] == lantry::wire::kFrameData)
                out.emplace_back(rest.substr(lantry::wire::kFrameHeaderSize,
                                             length - lantry::wire::kFrameHeaderSize));
            rest.remove_prefix(length);
            u.read += length;
        }
        return out;
    }

    // The client goes away, and nothing else runs until the event loop does.
    void hangUp(int user) { server_.closeSession(users_[user]->session); }

    // The client goes away; the others are told when the event loop next runs, as here.
    void leave(int user) {
        server_.closeSession(users_[user]->session);
        QCoreApplication::processEvents();
    }

private:
    struct User {
        int index = 0;
        bool answered = false;
        Server::SessionId session = 0;
        std::string written;
        std::size_t read = 0;
        std::uint16_t sequence = 0;
    };

    class Wire final : public Connection {
    public:
        Wire(User& user, std::vector<int>& answerOrder, const std::string& from)
            : user_(user), answerOrder_(answerOrder), from_(QString::fromStdString(from)) {}
        void write(std::string_view bytes) override {
            user_.written.append(bytes);
            // The server writes one whole frame at a time.
            const auto message =
                bytes.substr(std::min(bytes.size(), lantry::wire::kFrameHeaderSize));
            if (!user_.answered &&
                (message.starts_with("SIGN_ON:") || message.starts_with("ERROR:"))) {
                user_.answered = true;
                answerOrder_.push_back(user_.index);
            }
        }
        qint64 bytesToWrite() const override { return 0; }
        void close() override {}
        void abort() override {}
        void holdInput(bool) override {}
        QHostAddress localAddress() const override { return QHostAddress(QHostAddress::LocalHost); }
        quint16 localPort() const override { return 5190; }
        QHostAddress peerAddress() const override { return from_; }

    private:
        User& user_;
        std::vector<int>& answerOrder_;
        QHostAddress from_;
    };

    static std::string frame(User& u, const std::string& line) {
        return clientFrame(lantry::wire::kFrameData, line + '\0', u.sequence++);
    }

    std::vector<std::unique_ptr<User>> users_;  // outlives the server, which writes to them
    std::vector<int> answerOrder_;
    Server server_;
};

// The messages of `messages` that start with `prefix`.
inline std::vector<std::string> starting(const std::vector<std::string>& messages,
                                         const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& m : messages) {
        if (m.starts_with(prefix))
            out.push_back(m);
    }
    return out;
}

}  // namespace tocd::testing
