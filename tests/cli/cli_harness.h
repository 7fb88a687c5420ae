// Test harness for the command line: the `ondrel` binary as a child process with line I/O, a
// scripted TOC2 peer on 127.0.0.1 that plays the server side byte for byte, and a bounded
// wait that keeps the test's own event loop running (the peer lives in it).
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>

#ifndef ONDREL_CLI_PATH
#error "ONDREL_CLI_PATH must name the ondrel binary"
#endif

// Failure messages show byte strings as text.
inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << '"' << bytes.toStdString() << '"';
}

namespace lantry::testing {

// Runs the event loop until `done` holds or `timeoutMs` passes; returns done().
inline bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

// One FLAP frame as a server sends it (data frames without a trailing NUL).
inline QByteArray flap(int type, const QByteArray& payload, int sequence = 0) {
    QByteArray f("*");
    for (int byte : {type, sequence >> 8, sequence, int(payload.size()) >> 8, int(payload.size())})
        f += static_cast<char>(byte & 0xFF);
    return f + payload;
}

struct ClientFrame {
    int type = -1;
    QByteArray payload;
};

// The server side of one TOC2 connection at a time, scripted by the test.
class ScriptedPeer {
public:
    ScriptedPeer() { server_.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return server_.serverPort(); }

    bool accept() {
        if (!pumpUntil([&] { return server_.hasPendingConnections(); }))
            return false;
        conn_.reset(server_.nextPendingConnection());
        conn_->setParent(nullptr);
        buffer_.clear();
        return true;
    }
    // Exactly n bytes, or nullopt when they do not come in time.
    std::optional<QByteArray> read(int n) {
        if (!pumpUntil([&] { return (buffer_ += conn_->readAll()).size() >= n; }))
            return std::nullopt;
        QByteArray out = buffer_.left(n);
        buffer_.remove(0, n);
        return out;
    }
    std::optional<ClientFrame> readFrame() {
        auto header = read(6);
        if (!header || (*header)[0] != '*')
            return std::nullopt;
        const auto byte = [&](int i) { return static_cast<unsigned char>((*header)[i]); };
        auto payload = read(byte(4) * 256 + byte(5));
        if (!payload)
            return std::nullopt;
        return ClientFrame{byte(1), *payload};
    }
    // The command line of the next data frame (its NUL checked and removed), or "" on failure.
    QByteArray readCommand() {
        auto f = readFrame();
        if (!f || f->type != 2 || !f->payload.endsWith('\0'))
            return {};
        return f->payload.chopped(1);
    }
    // Plays a whole sign-on on the newest connection: the client's greeting, sign-on frame and
    // login line, then SIGN_ON and CONFIG2 with `configuration`, up to toc_init_done. False
    // when the client strays from it.
    bool serveSignOn(const QByteArray& configuration) {
        if (!accept() || read(8) != QByteArray("FLAPON\n\n"))
            return false;
        send(flap(1, QByteArray("\0\0\0\1", 4)));
        const auto frame = readFrame();
        if (!frame || frame->type != 1 || !readCommand().startsWith("toc2_login "))
            return false;
        sendData("SIGN_ON:TOC2.0");
        sendData("CONFIG2:" + configuration);
        return readCommand() == "toc_init_done";
    }
    // True when nothing more arrives within ms.
    bool quietFor(int ms) {
        pumpUntil([] { return false; }, ms);
        buffer_ += conn_->readAll();
        return buffer_.isEmpty();
    }
    void send(const QByteArray& bytes) {
        conn_->write(bytes);
        conn_->flush();
    }
    void sendData(const QByteArray& message) { send(flap(2, message, serverSequence_++)); }
    void close() {
        conn_->disconnectFromHost();
        pumpUntil([&] { return conn_->state() == QAbstractSocket::UnconnectedState; }, 2000);
    }
    bool closedByClient() {
        return pumpUntil([&] {
            buffer_ += conn_->readAll();
            return conn_->state() == QAbstractSocket::UnconnectedState;
        });
    }

private:
    QTcpServer server_;
    std::unique_ptr<QTcpSocket> conn_;
    QByteArray buffer_;
    int serverSequence_ = 1;
};

// `ondrel ARGS` with stdin and stdout as pipes; stderr is kept apart for the test to read.
class CliProcess {
public:
    explicit CliProcess(const QStringList& args,
                        const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
        process_.setProcessEnvironment(env);
        process_.start(QStringLiteral(ONDREL_CLI_PATH), args);
        process_.waitForStarted(10000);
    }
    ~CliProcess() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    void write(const QByteArray& line) { process_.write(line + '\n'); }
    void closeInput() { process_.closeWriteChannel(); }
    // The next stdout line without its LF, or nullopt when none comes in time.
    std::optional<QByteArray> nextLine(int timeoutMs = 5000) {
        pumpUntil(
            [&] {
                out_ += process_.readAllStandardOutput();
                return out_.contains('\n') || process_.state() == QProcess::NotRunning;
            },
            timeoutMs);
        out_ += process_.readAllStandardOutput();
        const auto end = out_.indexOf('\n');
        if (end < 0)
            return std::nullopt;
        QByteArray line = out_.left(end);
        out_.remove(0, end + 1);
        return line;
    }
    // The next line that contains `needle`, skipping others; nullopt when none comes in time.
    std::optional<QByteArray> lineContaining(const QByteArray& needle) {
        for (const QDeadlineTimer deadline(5000); !deadline.hasExpired();) {
            auto line = nextLine(static_cast<int>(deadline.remainingTime()));
            if (!line || line->contains(needle))
                return line;
        }
        return std::nullopt;
    }
    // Exit code once the process has ended by itself, or nullopt when it is still running.
    std::optional<int> waitExit() {
        if (!pumpUntil([&] { return process_.state() == QProcess::NotRunning; }, 10000))
            return std::nullopt;
        out_ += process_.readAllStandardOutput();
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    QByteArray remainingOutput() { return out_ + process_.readAllStandardOutput(); }
    QByteArray errorOutput() { return process_.readAllStandardError(); }

private:
    QProcess process_;
    QByteArray out_;
};

}  // namespace lantry::testing
