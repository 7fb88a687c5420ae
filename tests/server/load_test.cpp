// Several hundred controls at once, each messaging two others: every message arrives exactly
// once and in the order it was sent.
#include <QElapsedTimer>

#include <map>

#include "harness.h"
#include "tocd_process.h"

namespace tocd::testing {
namespace {

class CountingSink : public lantry::__Ondrel {
public:
    void LoggedIn(std::string, lantry::Collection&, lantry::Collection&, lantry::Collection&,
                  lantry::Collection&, std::string, std::int16_t) override {
        loggedIn = true;
    }
    void InstantMessage(std::string& from, std::string& text, bool&, std::string&) override {
        received[from].push_back(text);
        ++count;
    }
    void Error(std::int16_t& code, std::string& text) override {
        errors.push_back(std::to_string(code) + " " + text);
    }
    bool loggedIn = false;
    int count = 0;
    std::map<std::string, std::vector<std::string>> received;
    std::vector<std::string> errors;
};

TEST(Load, HundredsOfSessionsDeliverEveryMessageOnceInOrder) {
    constexpr int kSessions = 300;
    constexpr int kMessages = 10;
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start({"--signon-burst", "0"}));
    QElapsedTimer clock;
    clock.start();

    std::vector<std::unique_ptr<CountingSink>> sinks;
    std::vector<std::unique_ptr<lantry::Ondrel>> controls;
    auto name = [](int i) { return "user" + std::to_string(i); };
    for (int i = 0; i < kSessions; ++i) {
        sinks.push_back(std::make_unique<CountingSink>());
        controls.push_back(std::make_unique<lantry::Ondrel>(std::make_unique<lantry::QtSocket>(),
                                                            sinks.back().get()));
        controls.back()->Login(name(i), "pw", "127.0.0.1", tocd.port());
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return std::all_of(sinks.begin(), sinks.end(), [](auto& s) { return s->loggedIn; });
        },
        30000));
    // Visible only after toc_init_done, which follows LoggedIn; a status answer proves it.
    for (int i = 0; i < kSessions; ++i)
        controls[i]->GetStatus("echobot");
    QTest::qWait(200);

    for (int k = 0; k < kMessages; ++k) {
        for (int i = 0; i < kSessions; ++i) {
            controls[i]->SendIM(name((i + 1) % kSessions), std::to_string(k).insert(0, 1, 'm'),
                                false);
            controls[i]->SendIM(name((i + 7) % kSessions), std::to_string(k).insert(0, 1, 'n'),
                                false);
        }
    }
    const bool done = QTest::qWaitFor(
        [&] {
            return std::all_of(sinks.begin(), sinks.end(),
                               [](auto& s) { return s->count >= 2 * kMessages; });
        },
        30000);
    QTest::qWait(200);  // anything extra that was on its way
    EXPECT_TRUE(done);
    for (int i = 0; i < kSessions; ++i) {
        SCOPED_TRACE(name(i));
        const auto& got = sinks[i]->received;
        std::vector<std::string> m, n;
        for (int k = 0; k < kMessages; ++k) {
            m.push_back(std::to_string(k).insert(0, 1, 'm'));
            n.push_back(std::to_string(k).insert(0, 1, 'n'));
        }
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got.at(name((i - 1 + kSessions) % kSessions)), m);
        EXPECT_EQ(got.at(name((i - 7 + kSessions) % kSessions)), n);
        EXPECT_TRUE(sinks[i]->errors.empty()) << sinks[i]->errors.front();
    }
    EXPECT_LT(clock.elapsed(), 60000);
}

}  // namespace
}  // namespace tocd::testing
