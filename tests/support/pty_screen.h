// A program on a pseudo-terminal, its output rendered by libvterm, and the screen read back
// as a person sees it: the characters of each row, a cell's attributes, the cursor, whether
// the alternate screen is on, and the terminal's settings after the program is gone.
//
// How to use it:
//   CMake:  target_link_libraries(t PRIVATE PkgConfig::VTERM Qt6::Core)
//   Test:   PtyScreen screen(24, 80);
//           ASSERT_TRUE(screen.start(program, {"chat", ...}, {"LANG=C.UTF-8"}));
//           screen.type("hello\r");
//           EXPECT_TRUE(screen.waitFor([&] { return screen.text().contains("hello"); }));
//
// Every wait is bounded and feeds what the program wrote to the emulator as it waits. The
// terminal's own side (the slave) stays open in the test too, so its settings can be read
// after the program has ended. The program runs in a session of its own with the
// pseudo-terminal as its controlling terminal, so a resize sends it SIGWINCH.
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vterm.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lantry::testing {

class PtyScreen {
public:
    PtyScreen(int rows, int cols) : rows_(rows), cols_(cols) {
        vt_ = vterm_new(rows, cols);
        vterm_set_utf8(vt_, 1);
        screen_ = vterm_obtain_screen(vt_);
        vterm_screen_enable_altscreen(screen_, 1);
        callbacks_.settermprop = [](VTermProp prop, VTermValue* value, void* user) {
            if (prop == VTERM_PROP_ALTSCREEN)
                static_cast<PtyScreen*>(user)->altScreen_ = value->boolean != 0;
            return 1;
        };
        vterm_screen_set_callbacks(screen_, &callbacks_, this);
        vterm_screen_reset(screen_, 1);
        vterm_output_set_callback(
            vt_,
            [](const char* bytes, size_t size, void* user) {
                [[maybe_unused]] auto n =
                    ::write(static_cast<PtyScreen*>(user)->master_, bytes, size);
            },
            this);
    }
    ~PtyScreen() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0)
            ::close(master_);
        if (slave_ >= 0)
            ::close(slave_);
        vterm_free(vt_);
    }

    // Starts `program` with `args`, the environment with `env` ("NAME=value") added.
    bool start(const QString& program, const QStringList& args, const QStringList& env = {}) {
        winsize size{};
        size.ws_row = static_cast<unsigned short>(rows_);
        size.ws_col = static_cast<unsigned short>(cols_);
        if (::openpty(&master_, &slave_, nullptr, nullptr, &size) != 0)
            return false;
        ::tcgetattr(slave_, &initial_);
        std::vector<std::string> argv{program.toStdString()};
        for (const QString& a : args)
            argv.push_back(a.toStdString());
        std::vector<std::string> envs;
        for (const QString& e : env)
            envs.push_back(e.toStdString());
        pid_ = ::fork();
        if (pid_ < 0)
            return false;
        if (pid_ == 0) {
            ::setsid();
            ::ioctl(slave_, TIOCSCTTY, 0);
            ::dup2(slave_, 0);
            ::dup2(slave_, 1);
            ::dup2(slave_, 2);
            ::close(master_);
            for (const std::string& e : envs)
                ::putenv(const_cast<char*>(e.c_str()));
            std::vector<char*> raw;
            for (std::string& a : argv)
                raw.push_back(a.data());
            raw.push_back(nullptr);
            ::execv(raw[0], raw.data());
            ::_exit(127);
        }
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        return true;
    }

    void type(const QByteArray& bytes) {
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n = ::write(master_, bytes.constData() + done,
                                      static_cast<size_t>(bytes.size() - done));
            if (n > 0) {
                done += n;
            } else {
                pump(10);
            }
        }
    }

    // Feeds output until `holds` is true or `ms` have passed; whether it became true.
    bool waitFor(const std::function<bool()>& holds, int ms = 8000) {
        const QDeadlineTimer deadline(ms);
        while (!holds()) {
            if (deadline.hasExpired())
                return false;
            pump(20);
        }
        return true;
    }
    bool waitForText(const QString& needle, int ms = 8000) {
        return waitFor([&] { return text().contains(needle); }, ms);
    }
    // Feeds output for `ms`, whatever comes.
    void settle(int ms) {
        const QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired())
            pump(10);
    }

    QString row(int y) const {
        QString out;
        for (int x = 0; x < cols_; ++x) {
            const VTermScreenCell c = cell(y, x);
            if (c.chars[0] == 0)
                out += QLatin1Char(' ');
            for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && c.chars[i] != 0; ++i)
                out += QString::fromUcs4(reinterpret_cast<const char32_t*>(&c.chars[i]), 1);
            if (c.width == 2)
                ++x;
        }
        return out;
    }
    QString text() const {
        QStringList rows;
        for (int y = 0; y < rows_; ++y)
            rows << row(y);
        return rows.join(QLatin1Char('\n'));
    }
    // The first row holding `needle`, or -1.
    int rowOf(const QString& needle) const {
        for (int y = 0; y < rows_; ++y)
            if (row(y).contains(needle))
                return y;
        return -1;
    }
    VTermScreenCell cell(int y, int x) const {
        VTermScreenCell c{};
        vterm_screen_get_cell(screen_, VTermPos{y, x}, &c);
        return c;
    }
    VTermPos cursor() const {
        VTermPos pos{};
        vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
        return pos;
    }
    // A cell's colour as RGB; default colours keep their flags.
    VTermColor rgb(VTermColor colour) const {
        if (!VTERM_COLOR_IS_DEFAULT_FG(&colour) && !VTERM_COLOR_IS_DEFAULT_BG(&colour))
            vterm_state_convert_color_to_rgb(vterm_obtain_state(vt_), &colour);
        return colour;
    }
    int columns() const { return cols_; }
    bool altScreen() const { return altScreen_; }
    int rows() const { return rows_; }

    void resize(int rows, int cols) {
        rows_ = rows;
        cols_ = cols;
        vterm_set_size(vt_, rows, cols);
        winsize size{};
        size.ws_row = static_cast<unsigned short>(rows);
        size.ws_col = static_cast<unsigned short>(cols);
        ::ioctl(master_, TIOCSWINSZ, &size);
    }

    void signal(int number) { ::kill(pid_, number); }
    // The exit status, or -N for death by signal N; nullopt while it runs on.
    std::optional<int> waitExit(int ms = 10000) {
        const QDeadlineTimer deadline(ms);
        while (!exited_) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
                break;
            }
            if (deadline.hasExpired())
                return std::nullopt;
            pump(20);
        }
        pump(0);
        return status_;
    }
    // The terminal's settings now, and as they were before the program started.
    termios settings() const {
        termios t{};
        ::tcgetattr(slave_, &t);
        return t;
    }
    const termios& initialSettings() const { return initial_; }

private:
    void pump(int ms) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return;
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            vterm_input_write(vt_, buffer, static_cast<size_t>(n));
        }
    }

    int rows_;
    int cols_;
    VTerm* vt_ = nullptr;
    VTermScreen* screen_ = nullptr;
    VTermScreenCallbacks callbacks_{};
    bool altScreen_ = false;
    int master_ = -1;
    int slave_ = -1;
    termios initial_{};
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = 0;
};

}  // namespace lantry::testing
