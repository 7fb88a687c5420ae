// A private tocd server for one test: started on a free port of 127.0.0.1, stopped on
// destruction.
//
// How to use it:
//   CMake:  target_link_libraries(t PRIVATE Qt6::Core)
//           target_compile_definitions(t PRIVATE TOCD_PATH="$<TARGET_FILE:tocd>")
//           add_dependencies(t tocd)
//   Test:   lantry::testing::TocdProcess tocd;
//           ASSERT_TRUE(tocd.start()) << tocd.errorText();
//           control.Login("alice", "secret", "127.0.0.1", tocd.port());
//
// Tests sign on many fresh accounts from one address and should not wait for slow hashes, so
// by default tocd runs with the cheapest password hashes (--password-cost min) and no limit on
// accounts created per address (--open-registration-rate 0); TocdProcess(TocdProcess::Defaults)
// keeps tocd's own defaults, for tests of those limits. Extra arguments come after these and
// win.
//
// start() takes extra tocd arguments, e.g. {"--db", dir.filePath("accounts.db")} for a database
// that survives a restart (the default is an in-memory database, empty at every start), or
// {"--signon-burst", "0"} for a test that signs on more than about a hundred times within a
// minute from 127.0.0.1 (tocd answers ERROR:983 past its sign-on limit). `tocd --help` lists
// every option.
//
// Threading, stopping and the readings of /proc: see server_process.h. tocd's log (stderr) is
// forwarded to the test's own stderr, so it shows up in ctest's output next to a failure.
#pragma once

#include <QString>
#include <QStringList>

#include "server_process.h"

#ifndef TOCD_PATH
#error "TOCD_PATH must name the tocd binary: target_compile_definitions(... TOCD_PATH=...)"
#endif

namespace lantry::testing {

class TocdProcess : public ServerProcess {
public:
    enum Limits { ForTests, Defaults };

    explicit TocdProcess(Limits limits = ForTests) : limits_(limits) {}

    // Starts tocd with `--listen 127.0.0.1:0`, the limits for tests unless constructed with
    // Defaults, and `extraArgs`; see ServerProcess::start.
    bool start(const QStringList& extraArgs = {}, int timeoutMs = 15000) {
        args_ = extraArgs;
        QStringList args{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")};
        if (limits_ == ForTests) {
            args << QStringLiteral("--password-cost") << QStringLiteral("min")
                 << QStringLiteral("--open-registration-rate") << QStringLiteral("0");
        }
        return ServerProcess::start(QStringLiteral(TOCD_PATH), args + extraArgs, false, timeoutMs);
    }

    // Stops and starts again with the same extra arguments (a new port).
    bool restart(int timeoutMs = 15000) {
        const QStringList args = args_;
        return start(args, timeoutMs);
    }

private:
    Limits limits_;
    QStringList args_;
};

}  // namespace lantry::testing
