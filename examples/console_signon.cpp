// Signs on to a TOC2 server with the Ondrel C++ class and prints the events as lines, until
// the connection fails, the server refuses the sign-on, or the given number of seconds has passed;
// then signs off. Usage: ondrel_console HOST PORT SCREENNAME PASSWORD [SECONDS]
#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "ondrel/ondrel.h"
#include "ondrel/qt_socket.h"

namespace {

void print(const char* event, const std::string& detail = {}) {
    std::printf("%s%s%s\n", event, detail.empty() ? "" : ": ", detail.c_str());
    std::fflush(stdout);
}

std::string joined(const lantry::Collection& items) {
    std::string out;
    for (const auto& item : items)
        out += (out.empty() ? "" : ", ") + item;
    return out;
}

class Printer final : public lantry::__Ondrel {
public:
    int exitCode = 0;

    void LoggedIn(std::string strUserName, lantry::Collection& BuddyList,
                  lantry::Collection& BlockList, lantry::Collection& PrivateList,
                  lantry::Collection&, std::string, std::int16_t PrivacyMode) override {
        signedOn_ = true;
        print("LoggedIn", strUserName + " (privacy mode " + std::to_string(PrivacyMode) + ")");
        print("  buddies", joined(BuddyList));
        print("  blocked", joined(BlockList));
        print("  permitted", joined(PrivateList));
    }
    void LoggedOut(std::string strUserName) override { print("LoggedOut", strUserName); }
    void ScreennameFormat(std::string strFormattedSN) override {
        print("ScreennameFormat", strFormattedSN);
    }
    void BuddyUpdate(std::string strBuddy, bool blnOnline, std::int16_t, std::int32_t,
                     std::int32_t lngIdleTime, std::string) override {
        print("BuddyUpdate", strBuddy + (blnOnline ? " online" : " offline") + ", idle " +
                                 std::to_string(lngIdleTime));
    }
    void InstantMessage(std::string& strUserName, std::string& strMessage, bool&,
                        std::string&) override {
        print("InstantMessage", strUserName + ": " + lantry::Ondrel::RemoveHtml(strMessage));
    }
    void Error(std::int16_t& intErrorCode, std::string& strError) override {
        print("Error", std::to_string(intErrorCode) + " " + strError);
        // Before sign-on completes an error is the server's refusal.
        if (!signedOn_)
            finish(1);
    }
    void WinsockError(std::string& strError) override {
        print("WinsockError", strError);
        finish(1);
    }

    // Leaves the handler first: the control is still working inside it.
    void finish(int code) {
        exitCode = code;
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }

private:
    bool signedOn_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 5 || argc > 6) {
        std::fprintf(stderr, "usage: %s HOST PORT SCREENNAME PASSWORD [SECONDS]\n", argv[0]);
        return 2;
    }
    const int seconds = argc == 6 ? std::atoi(argv[5]) : 30;
    Printer printer;
    lantry::Ondrel control(std::make_unique<lantry::QtSocket>(), &printer);
    control.Login(argv[3], argv[4], argv[1], std::atoi(argv[2]));
    QTimer::singleShot(std::max(1, seconds) * 1000, &app, &QCoreApplication::quit);
    app.exec();
    control.LogOff();
    return printer.exitCode;
}
