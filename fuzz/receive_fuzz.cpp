// The control's receive path fed arbitrary server bytes in arbitrary read sizes, with a host
// that calls methods (LogOff, Login, commands, even destroying the control) from inside any of
// its events, and a socket that fails or closes at arbitrary moments. Beyond the frame checks,
// the control answers at most one sign-on frame per connection, however many the server sends.
//
// Input layout: byte 0 holds the length n (0-15) of the host's script, bytes 1..n the script
// (one reaction per event, in turn); then records of one op byte each:
//   op % 4 == 0: deliver the next (op / 4 + 1) bytes as one read (op 252: everything left)
//   op % 4 == 1: the pending connection completes (greeting sent)
//   op % 4 == 2: the socket reports an error
//   op % 4 == 3: the server closes the connection
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "frame_checker.h"
#include "ondrel/ondrel.h"
#include "recording_sink.h"

namespace {

// Changes what it is handed by reference, as hosts may: the control must not read it back.
struct Host final : lantry::testing::RecordingSink {
    void InstantMessage(std::string& user, std::string& text, bool& automatic,
                        std::string& userClass) override {
        RecordingSink::InstantMessage(user, text, automatic, userClass);
        text += "!";
    }
};

// One reaction of the script to the event just recorded, whose line is `text`.
void react(unsigned char action, std::unique_ptr<lantry::Ondrel>& control,
           const std::string& text) {
    switch (action % 8) {
        case 1:
            control->LogOff();
            break;
        case 2:
            control->Login(text, "password", "127.0.0.1", 5190);
            break;
        case 3:
            control->SendIM(text, text, (action & 16) != 0);
            break;
        case 4:
            control->SendChat(text, text, control->LastChatID());
            break;
        case 5:
            control.reset();  // destroys the control from inside its own event
            break;
        case 6:
            throw std::runtime_error("host handler failed");  // must not break the receive path
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const auto script = input.substr(0, data[0] % 16);
    input.remove_prefix(script.size());

    Host host;
    host.recordPackets = true;
    auto owned = std::make_unique<ondrel_fuzz::CheckingSocket>();
    auto* sock = owned.get();
    // The socket dies with the control; the driver stops when that happens.
    auto control = std::make_unique<lantry::Ondrel>(std::move(owned), &host);
    std::size_t next = 0;
    int depth = 0;
    host.after = [&](const std::string&) {
        // A host that calls LogOff from every LoggedOut would recurse for ever; so would this one.
        if (script.empty() || !control || depth >= 8)
            return;
        ++depth;
        struct Leave {
            int& depth;
            ~Leave() { --depth; }
        } leave{depth};
        const std::string text = host.events.back().substr(0, 64);
        host.events.clear();
        react(static_cast<unsigned char>(script[next++ % script.size()]), control, text);
    };
    control->Login("Fuzz User", "password", "127.0.0.1", 5190);
    sock->connectNow();
    int signOnAnswers = 0;  // toc2_login lines sent on the current connection

    while (!input.empty() && control) {
        const auto op = static_cast<unsigned char>(input[0]);
        input.remove_prefix(1);
        switch (op % 4) {
            case 0: {
                const auto read = input.substr(0, op == 252 ? input.size() : op / 4u + 1u);
                input.remove_prefix(read.size());
                sock->arrive(read);
                break;
            }
            case 1:
                if (sock->State() != lantry::Socket::StateConnected) {
                    sock->connectNow();
                    signOnAnswers = 0;
                }
                break;
            case 2:
                sock->fail();
                break;
            case 3:
                sock->peerClose();
                break;
        }
        host.events.clear();
        if (control) {
            for (const auto& line : sock->dataPayloads)
                signOnAnswers += line.starts_with("toc2_login ") ? 1 : 0;
            if (signOnAnswers > 1)
                ondrel_fuzz::violation("sign-on answered twice on one connection", {});
            sock->dataPayloads.clear();
        }
    }
    return 0;
}
