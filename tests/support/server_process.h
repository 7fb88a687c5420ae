// A server run as a child process for one test or benchmark: any program that prints
// "... listening on ADDR:PORT" as its first line of standard output (tocd, or an echo server),
// stopped on destruction. It also reads the child's memory and descriptors from /proc.
//
// Threading: the thread that owns the QCoreApplication. start() and stop() block (bounded by
// their timeouts) and run no event loop.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <memory>

namespace lantry::testing {

class ServerProcess {
public:
    ServerProcess() = default;
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    ~ServerProcess() { stop(); }

    // Starts `program` with `args` and waits until it reports its port. False (with
    // errorText()) when it does not start, exits, or stays silent for timeoutMs. The child's
    // log (stderr) is forwarded to ours, so it shows next to a failure, unless `quiet`. A
    // running instance is stopped first.
    bool start(const QString& program, const QStringList& args, bool quiet = false,
               int timeoutMs = 15000) {
        stop();
        error_.clear();
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
                return fail(QStringLiteral("printed no listening line in time"));
            if (!process_->waitForReadyRead(static_cast<int>(left)) &&
                process_->state() != QProcess::Running) {
                return fail(
                    QStringLiteral("exited before listening, code %1").arg(process_->exitCode()));
            }
            out += process_->readAllStandardOutput();
        }
        const QByteArray line = out.left(out.indexOf('\n'));
        const auto colon = line.lastIndexOf(':');
        bool ok = false;
        const int port = colon > 0 ? line.mid(colon + 1).toInt(&ok) : 0;
        if (!line.contains("listening on ") || !ok || port <= 0 || port > 65535)
            return fail("unexpected first line: " + QString::fromLatin1(line));
        port_ = port;
        return true;
    }

    // SIGTERM, then SIGKILL when the child has not ended within timeoutMs. Returns its exit
    // code (-1 when it had to be killed or was not running).
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
    qint64 processId() const { return process_ ? process_->processId() : 0; }
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

    // Processor time the child has used so far, in seconds; zeros when unknown.
    struct CpuTimes {
        double user = 0;
        double system = 0;
        double total() const { return user + system; }
    };
    CpuTimes cpuTimes() const {
        if (!running())
            return {};
        QFile stat(QStringLiteral("/proc/%1/stat").arg(process_->processId()));
        if (!stat.open(QIODevice::ReadOnly))
            return {};
        // utime and stime are fields 14 and 15; the name before them may hold blanks.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 13)
            return {};
        const auto ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
        return {static_cast<double>(fields[11].toLongLong()) / ticks,
                static_cast<double>(fields[12].toLongLong()) / ticks};
    }
    // User and system time together, to the nanosecond (the split above is only sampled at each
    // clock tick); 0 when unknown.
    double cpuSeconds() const {
        clockid_t clock{};
        timespec used{};
        if (!running() ||
            clock_getcpuclockid(static_cast<pid_t>(process_->processId()), &clock) != 0 ||
            clock_gettime(clock, &used) != 0)
            return 0;
        return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
    }

    // Times the main thread has gone to sleep waiting (voluntary context switches): for an
    // event loop, its wake-ups; 0 when unknown.
    std::int64_t mainThreadSleeps() const { return statusField("voluntary_ctxt_switches:", 1); }

private:
    std::int64_t statusField(const QByteArray& name, std::int64_t unit = 1024) const {
        if (!running())
            return 0;
        QFile status(QStringLiteral("/proc/%1/status").arg(process_->processId()));
        if (!status.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith(name))
                return line.mid(name.size()).trimmed().split(' ').value(0).toLongLong() * unit;
        }
        return 0;
    }
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
    QString error_;
    std::int32_t port_ = 0;
};

}  // namespace lantry::testing
