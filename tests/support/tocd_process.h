// A private tocd server for one test: started on a free port of 127.0.0.1, stopped on
// destruction.
//
// How to use it:
//   CMake:  target_link_libraries(t PRIVATE Qt6::Core)
//           target_compile_definitions(t PRIVATE TOCD_PATH="$<TARGET_FILE:tocd>")
//           add_dependencies(t tocd)
//   Test:   lantry::testing::TocdProcess tocd;
//           ASSERT_TRUE(tocd.start()) << tocd.errorText();
//           control.Login("alice", "secret", tocd.host(), tocd.port());
//
// start() takes extra tocd arguments, e.g. {"--db", dir.filePath("accounts.db")} for a database
// that survives a restart (the default is an in-memory database, empty at every start), or
// {"--signon-burst", "0"} for a test that signs on more than about a hundred times within a
// minute from 127.0.0.1 (tocd answers ERROR:983 past its sign-on limit). `tocd --help` lists
// every option.
//
// Threading: the thread that owns the QCoreApplication. start() and stop() block (bounded by
// their timeouts) and run no event loop. tocd's log (stderr) is forwarded to the test's own
// stderr, so it shows up in ctest's output next to a failure.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <string>

#ifndef TOCD_PATH
#error "TOCD_PATH must name the tocd binary: target_compile_definitions(... TOCD_PATH=...)"
#endif

namespace lantry::testing {

class TocdProcess {
public:
    TocdProcess() = default;
    TocdProcess(const TocdProcess&) = delete;
    TocdProcess& operator=(const TocdProcess&) = delete;
    ~TocdProcess() { stop(); }

    // Starts tocd with `--listen 127.0.0.1:0` and `extraArgs`, and waits until it reports the
    // port. False (with errorText()) when it does not start, exits, or stays silent for
    // timeoutMs. A running instance is stopped first.
    bool start(const QStringList& extraArgs = {}, int timeoutMs = 15000) {
        stop();
        args_ = extraArgs;
        error_.clear();
        port_ = 0;
        process_ = std::make_unique<QProcess>();
        process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_->start(
            QStringLiteral(TOCD_PATH),
            QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")} + extraArgs);
        if (!process_->waitForStarted(timeoutMs)) {
            return fail(QStringLiteral("tocd did not start: ") + process_->errorString());
        }
        QElapsedTimer clock;
        clock.start();
        QByteArray out;
        while (!out.contains('\n')) {
            const auto left = timeoutMs - clock.elapsed();
            if (left <= 0)
                return fail(QStringLiteral("tocd printed no listening line in time"));
            if (!process_->waitForReadyRead(static_cast<int>(left)) &&
                process_->state() != QProcess::Running) {
                return fail(QStringLiteral("tocd exited before listening, code %1")
                                .arg(process_->exitCode()));
            }
            out += process_->readAllStandardOutput();
        }
        const QByteArray line = out.left(out.indexOf('\n'));
        const QByteArray prefix = "tocd listening on ";
        const auto colon = line.lastIndexOf(':');
        bool ok = false;
        const int port = colon > 0 ? line.mid(colon + 1).toInt(&ok) : 0;
        if (!line.startsWith(prefix) || !ok || port <= 0 || port > 65535) {
            return fail(QStringLiteral("unexpected first line from tocd: ") +
                        QString::fromLatin1(line));
        }
        port_ = port;
        return true;
    }

    // Stops and starts again with the same extra arguments (a new port).
    bool restart(int timeoutMs = 15000) {
        const QStringList args = args_;
        return start(args, timeoutMs);
    }

    // SIGTERM, then SIGKILL when tocd has not ended within timeoutMs. Returns tocd's exit code
    // (-1 when it had to be killed or was not running).
    int stop(int timeoutMs = 5000) {
        if (!process_)
            return -1;
        int code = -1;
        if (process_->state() != QProcess::NotRunning) {
            process_->terminate();
            if (process_->waitForFinished(timeoutMs)) {
                code = process_->exitStatus() == QProcess::NormalExit ? process_->exitCode() : -1;
            } else {
                process_->kill();
                process_->waitForFinished(timeoutMs);
            }
        } else if (process_->exitStatus() == QProcess::NormalExit) {
            code = process_->exitCode();
        }
        process_.reset();
        port_ = 0;
        return code;
    }

    bool running() const { return process_ && process_->state() == QProcess::Running; }
    std::int32_t port() const { return port_; }
    std::string host() const { return "127.0.0.1"; }
    QString errorText() const { return error_; }
    // The process itself, for tests that signal it or read its state.
    QProcess* process() const { return process_.get(); }

private:
    bool fail(const QString& why) {
        error_ = why;
        if (process_ && process_->state() != QProcess::NotRunning) {
            process_->kill();
            process_->waitForFinished(5000);
        }
        process_.reset();
        return false;
    }

    std::unique_ptr<QProcess> process_;
    QStringList args_;
    QString error_;
    std::int32_t port_ = 0;
};

}  // namespace lantry::testing
