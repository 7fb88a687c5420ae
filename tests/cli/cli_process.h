// `ondrel` as a child process with piped stdin and stdout (the scripted TOC2 peer it talks to is
// in scripted_peer.h). Every wait blocks for a bounded time and runs no event loop.
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QDeadlineTimer>
#include <QProcess>

#include <optional>

#include "scripted_peer.h"

namespace lantry::testing {

// `ondrel ARGS` with stdin and stdout as pipes; stderr is kept apart for the test to read.
class CliProcess {
public:
    explicit CliProcess(const QStringList& args,
                        const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
        process_.setProcessEnvironment(env);
        process_.start(QStringLiteral(ONDREL_CLI_PATH), args);
        process_.waitForStarted(10000);
    }
    void write(const QByteArray& line) {
        process_.write(line + '\n');
        process_.waitForBytesWritten(5000);
    }
    void closeInput() { process_.closeWriteChannel(); }
    // SIGTERM, as a service manager stops a daemon.
    void terminate() { process_.terminate(); }
    // The next stdout line without its LF, or nullopt when none comes in time.
    std::optional<QByteArray> nextLine() {
        const QDeadlineTimer deadline(5000);
        while (!process_.canReadLine() && process_.waitForReadyRead(deadline.remainingTime())) {
        }
        if (!process_.canReadLine())
            return std::nullopt;
        return process_.readLine().chopped(1);
    }
    std::optional<QByteArray> lineContaining(const QByteArray& needle) {
        auto line = nextLine();
        for (int skipped = 0; line && !line->contains(needle) && skipped < 200; ++skipped)
            line = nextLine();
        return line && line->contains(needle) ? line : std::nullopt;
    }
    // The lines before the first one containing `needle`, that one included; empty when it
    // does not come.
    QByteArrayList linesThrough(const QByteArray& needle) {
        QByteArrayList lines;
        for (auto line = nextLine(); line && lines.size() < 200; line = nextLine()) {
            lines.append(*line);
            if (line->contains(needle))
                return lines;
        }
        return {};
    }
    // Exit code once the process has ended by itself (-1 for a crash), nullopt if it runs on.
    std::optional<int> waitExit() {
        if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(10000))
            return std::nullopt;
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    QByteArray remainingOutput() { return process_.readAllStandardOutput(); }
    QByteArray errorOutput() { return process_.readAllStandardError(); }
    // Waits for stderr to hold `needle`; all of stderr read so far, or nullopt when it does not
    // come in time.
    std::optional<QByteArray> errorContaining(const QByteArray& needle) {
        const QDeadlineTimer deadline(5000);
        process_.setReadChannel(QProcess::StandardError);
        while (!stderr_.contains(needle) && (process_.bytesAvailable() > 0 ||
                                             process_.waitForReadyRead(deadline.remainingTime())))
            stderr_ += process_.readAll();
        process_.setReadChannel(QProcess::StandardOutput);
        return stderr_.contains(needle) ? std::optional(stderr_) : std::nullopt;
    }

private:
    QProcess process_;
    QByteArray stderr_;
};

}  // namespace lantry::testing
