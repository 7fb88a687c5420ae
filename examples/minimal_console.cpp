// The smallest host without a GUI: the C++ class on the Qt socket, every event by name of
// its own handler; it stops at the first failure. Usage: ondrel_minimal_console HOST PORT
// NAME PASSWORD
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

#include "ondrel/ondrel.h"
#include "ondrel/qt_socket.h"

struct Host : lantry::__Ondrel {
    void LoggedIn(std::string name, lantry::Collection& buddies, lantry::Collection&,
                  lantry::Collection&, lantry::Collection&, std::string, std::int16_t) override {
        std::printf("LoggedIn %s with %zu list entries\n", name.c_str(), buddies.size());
    }
    void Error(std::int16_t& code, std::string& sentence) override {
        std::printf("Error %d: %s\n", code, sentence.c_str());
        QCoreApplication::exit(1);
    }
    void WinsockError(std::string& sentence) override {
        std::printf("WinsockError: %s\n", sentence.c_str());
        QCoreApplication::exit(1);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 5)
        return 2;
    Host host;
    lantry::Ondrel control(std::make_unique<lantry::QtSocket>(), &host);
    control.Login(argv[3], argv[4], argv[1], std::atoi(argv[2]));
    return app.exec();
}
