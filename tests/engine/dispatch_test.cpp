// The stored configuration of CONFIG2, LoggedIn and toc_init_done.
#include "engine_fixture.h"

namespace lantry::testing {
namespace {

class DispatchTest : public EngineTest {
protected:
    void SetUp() override { signOn(); }
};

const std::string kConfig =
    "m:1\ng:Buddies\nb:alice\nb:bob:Bobby\ng:Family\nb:mom\np:carol\nd:dave\npref:xyz\ndone:\n";
const std::string kConfigEvent =
    "LoggedIn(someone,[[group]Buddies|alice|bob:Bobby|[group]Family|mom],[dave],[carol],[],xyz,1)";

TEST_F(DispatchTest, ConfigurationWholeOrSplitAnywhereBecomesLoggedInThenInitDone) {
    sink.after = [&](const std::string&) {
        sink.after = nullptr;
        control->SetAwayMessage("");
    };
    serverSays("CONFIG2:" + kConfig);
    EXPECT_EQ(takeEvents(), (Events{kConfigEvent}));
    EXPECT_EQ(sentLines(), (std::vector<std::string>{"toc_set_away \"\"", "toc_init_done"}))
        << "a command from the LoggedIn handler goes first";
    net.sent.clear();
    const auto end = kConfig.find("done:\n");
    for (std::size_t cut = 1; cut <= end; ++cut) {
        serverSays("CONFIG2:" + kConfig.substr(0, cut));
        EXPECT_TRUE(sink.events.empty()) << cut;
        serverSays("CONFIG2:" + kConfig.substr(cut));
        EXPECT_EQ(takeEvents(), (Events{kConfigEvent})) << cut;
    }
}

TEST_F(DispatchTest, OnlyAWholeEndMarkerInsideOneMessageEndsTheConfiguration) {
    serverSays("CONFIG2:b:a\ndo");
    serverSays("CONFIG2:ne:\n");
    EXPECT_TRUE(takeEvents().empty());
    serverSays("CONFIG2:done:\n");
    EXPECT_EQ(takeEvents(), (Events{"LoggedIn(someone,[a],[],[],[],,0)"}));
    net.sent.clear();
    // Inside a line the marker ends the text, with no done line to raise LoggedIn.
    serverSays("CONFIG2:b:adone:\nb:tail");
    EXPECT_TRUE(takeEvents().empty());
    EXPECT_EQ(sentLines(), (std::vector<std::string>{"toc_init_done"}));
}

TEST_F(DispatchTest, ConfigurationLineRules) {
    const std::pair<std::string, std::string> cases[] = {
        {"b:joe:::::x\nb:joe::::::x\nb:a::::::::::b\ndone:\n",
         "LoggedIn(someone,[joe:x|joe::x|a::b],[],[],[],,0)"},
        {"x:1\n\nG:upper\ndone:\n", "LoggedIn(someone,[],[],[],[x:1|''|G:upper],,0)"},
        {"m:3\nm:x\nm:\nm:12\ndone:\nm:4\nb:after\n", "LoggedIn(someone,[],[],[],[],,1)"},
        {"pref:a\npref:b:c\nb:x\r\ndone:\n", "LoggedIn(someone,[x\r],[],[],[],b:c,0)"},
        {"p:\nd:\ng:\ndone:\n", "LoggedIn(someone,[[group]],[''],[''],[],,0)"},
    };
    for (const auto& [text, event] : cases) {
        serverSays("CONFIG2:" + text);
        EXPECT_EQ(takeEvents(), (Events{event})) << text;
    }
}

TEST_F(DispatchTest, HeldConfigurationIsBounded) {
    const std::string chunk(60000, 'x');
    std::size_t held = 0;
    while (held + chunk.size() <= Ondrel::kConfigBufferLimit) {
        serverSays("CONFIG2:" + chunk);
        held += chunk.size();
    }
    EXPECT_TRUE(sink.events.empty()) << "a megabyte-sized configuration must fit";
    serverSays("CONFIG2:" + chunk);
    const auto events = takeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].starts_with("Error(0,Configuration discarded")) << events[0];

    serverSays("CONFIG2:b:fresh\ndone:\n");
    EXPECT_EQ(takeEvents(), (Events{"LoggedIn(someone,[fresh],[],[],[],,0)"}));
}

}  // namespace
}  // namespace lantry::testing
