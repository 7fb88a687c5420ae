// Server ERROR messages and their sentences.
#include "engine_fixture.h"

namespace lantry::testing {
namespace {

using ErrorsTest = MessageTableTest;

TEST_F(ErrorsTest, EveryCodeBecomesItsSentence) {
    expectEach({
        {"ERROR:901:joe", {"Error(901,joe is not available)"}},
        {"ERROR:901:a:b", {"Error(901,a:b is not available)"}},
        {"ERROR:902:joe", {"Error(902,Warning of joe is not currently available)"}},
        {"ERROR:903",
         {"Error(903,A message has been dropped, you are exceeding the server speed limit)"}},
        {"ERROR:903:extra:fields",
         {"Error(903,A message has been dropped, you are exceeding the server speed limit)"}},
        {"ERROR:911", {"Error(911,Error validating input)"}},
        {"ERROR:951:Lobby:24", {"Error(951,Could not join chat 'Lobby': Chat Full)"}},
        {"ERROR:951:Lobby:-1", {"Error(951,Could not join chat 'Lobby': Possible Reset)"}},
        {"ERROR:951:Lobby:48", {"Error(951,Could not join chat 'Lobby': Rated)"}},
        {"ERROR:951:Lobby:74", {"Error(951,Could not join chat 'Lobby': Ejected)"}},
        {"ERROR:951:Lobby", {"Error(951,Could not join chat 'Lobby': Unknown error)"}},
        {"ERROR:951:Lobby:99", {"Error(951,Could not join chat 'Lobby': Unknown error)"}},
        {"ERROR:951:a:b:24", {"Error(951,Could not join chat 'a': Unknown error)"}},
        {"ERROR:980", {"Error(980,Invalid account or password)"}},
        {"ERROR:983", {"Error(983,You are attempting to sign on again too soon)"}},
        {"ERROR:989:7", {"Error(989,The screenname or password you entered is not valid)"}},
        {"ERROR:989:17", {"Error(989,Sign on Blocked)"}},
        {"ERROR:989:5", {"Error(5,Unknown error code 989, sub error: 5)"}},
        {"ERROR:989: -12 ", {"Error(-12,Unknown error code 989, sub error:  -12 )"}},
        {"ERROR:123", {"Error(123,Error code: 123)"}},
        {"ERROR:0901", {"Error(901,Error code: 0901)"}},
        {"ERROR:32767", {"Error(32767,Error code: 32767)"}},
        {"ERROR:-32768", {"Error(-32768,Error code: -32768)"}},
    });
}

TEST_F(ErrorsTest, MalformedErrorsRaiseNothing) {
    expectEach({
        {"ERROR", {}},
        {"ERROR:", {}},
        {"ERROR:901", {}},
        {"ERROR:902", {}},
        {"ERROR:951", {}},
        {"ERROR:989", {}},
        {"ERROR:989:7:x", {}},
        {"ERROR:abc", {}},
        {"ERROR:32768", {}},
        {"ERROR:1.5", {}},
        {"ERROR: 901", {"Error(901,Error code:  901)"}},
    });
}

TEST_F(ErrorsTest, ASignOnRefusalChangesNothingInTheControl) {
    serverSays("CHAT_JOIN:3:Room");
    sink.events.clear();
    serverSays("ERROR:980");
    EXPECT_EQ(net.state, Socket::StateConnected);
    EXPECT_EQ(control->GetChatName(3), "Room");
    control->SendIM("bob", "still here", false);
    EXPECT_EQ(onlyLine(), "toc_send_im \"bob\" \"still here\"");
}

}  // namespace
}  // namespace lantry::testing
