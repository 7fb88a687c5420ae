// Starts a private tocd (or any server that prints "... listening on ADDR:PORT" first) on a
// free port of 127.0.0.1 and reads its resident memory from /proc, for the load generator and
// the hostile-client tests. Blocking calls, bounded by their timeouts; stops the server on
// destruction.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

namespace ondrel_bench {

class ServerProcess {
public:
    ServerProcess() = default;
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    ~ServerProcess() { stop(); }

    // False with errorText() when the server does not report its port within timeoutMs. A quiet
    // server's log (stderr) is dropped, else it goes to ours.
    bool start(const QString& program, const QStringList& args, bool quiet = false,
               int timeoutMs = 15000) {
        stop();
        process_ = std::make_unique<QProcess>();
        if (quiet)
            process_->setStandardErrorFile(QProcess::nullDevice());
        else
            process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_->start(program, args);
        if (!process_->waitForStarted(timeoutMs))
            return fail("did not start: " + process_->errorString());
        QElapsedTimer clock;
        clock.start();
        QByteArray out;
        while (!out.contains('\n')) {
            const auto left = timeoutMs - clock.elapsed();
            if (left <= 0)
                return fail("printed no listening line in time");
            if (!process_->waitForReadyRead(static_cast<int>(left)) &&
                process_->state() != QProcess::Running)
                return fail("exited before listening");
            out += process_->readAllStandardOutput();
        }
        const QByteArray line = out.left(out.indexOf('\n'));
        bool ok = false;
        port_ = line.mid(line.lastIndexOf(':') + 1).toInt(&ok);
        if (!line.contains("listening on ") || !ok || port_ <= 0)
            return fail("unexpected first line: " + QString::fromLatin1(line));
        return true;
    }

    void stop() {
        if (!process_)
            return;
        if (process_->state() != QProcess::NotRunning) {
            process_->terminate();
            if (!process_->waitForFinished(5000)) {
                process_->kill();
                process_->waitForFinished(5000);
            }
        }
        process_.reset();
    }

    bool running() const { return process_ && process_->state() == QProcess::Running; }
    std::int32_t port() const { return port_; }
    QString errorText() const { return error_; }

    // Resident memory in bytes (VmRSS), 0 when unknown.
    std::int64_t residentBytes() const { return statusField("VmRSS:"); }
    // Peak resident memory in bytes (VmHWM), 0 when unknown.
    std::int64_t peakResidentBytes() const { return statusField("VmHWM:"); }

    // Open file descriptors (sockets included), -1 when unknown.
    int openDescriptors() const {
        if (!running())
            return -1;
        return static_cast<int>(
            QDir(QStringLiteral("/proc/%1/fd").arg(process_->processId()))
                .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)
                .size());
    }

private:
    std::int64_t statusField(const QByteArray& name) const {
        if (!running())
            return 0;
        QFile status(QStringLiteral("/proc/%1/status").arg(process_->processId()));
        if (!status.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith(name))
                return line.mid(name.size()).trimmed().split(' ').value(0).toLongLong() * 1024;
        }
        return 0;
    }
    bool fail(const QString& why) {
        error_ = why;
        stop();
        return false;
    }

    std::unique_ptr<QProcess> process_;
    std::int32_t port_ = 0;
    QString error_;
};

}  // namespace ondrel_bench
