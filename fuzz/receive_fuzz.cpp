// The control's receive path fed arbitrary server bytes in arbitrary read sizes, with a host
// that calls methods (LogOff, Login, commands, even destroying the control) from inside its
// events, and a socket that fails or closes at arbitrary moments.
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
#include "ondrel/events.h"
#include "ondrel/ondrel.h"

namespace {

using ondrel_fuzz::CheckingSocket;

class ReactingHost final : public lantry::__Ondrel {
public:
    ReactingHost(std::string_view script, std::unique_ptr<lantry::Ondrel>& control)
        : script_(script), control_(control) {}

    void JoinedChat(std::string& name, std::int32_t& id) override { react(name, id); }
    void ChatMessage(std::int32_t& id, std::string& user, std::string&) override {
        react(user, id);
    }
    void ChatInvite(std::string& room, std::int32_t& id, std::string&, std::string&) override {
        react(room, id);
    }
    void LeftChat(std::int32_t& id) override { react("left", id); }
    void ChatUserUpdate(std::string user, bool, std::int32_t id) override { react(user, id); }
    void BuddyUpdate(std::string buddy, bool, std::int16_t, std::int32_t, std::int32_t,
                     std::string) override {
        react(buddy, 0);
    }
    void BuddyCapabilities(std::string user, std::string) override { react(user, 0); }
    void BuddyBart(std::string user, std::string) override { react(user, 0); }
    void BuddyAdded(std::string& group, std::string&, std::string&) override { react(group, 0); }
    void GroupAdded(std::string& group) override { react(group, 0); }
    void PrivateBuddyAdded(std::string& buddy) override { react(buddy, 0); }
    void BuddyBlocked(std::string& buddy) override { react(buddy, 0); }
    void BuddyRemoved(std::string& group, std::string&) override { react(group, 0); }
    void GroupRemoved(std::string& group) override { react(group, 0); }
    void PrivateBuddyRemoved(std::string& buddy) override { react(buddy, 0); }
    void BuddyUnblocked(std::string& buddy) override { react(buddy, 0); }
    void LoggedIn(std::string user, lantry::Collection& buddies, lantry::Collection&,
                  lantry::Collection&, lantry::Collection&, std::string, std::int16_t) override {
        buddies.emplace_back("host-owned");
        react(user, 0);
    }
    void LoggedOut(std::string user) override { react(user, 0); }
    void ScreennameFormat(std::string name) override { react(name, 0); }
    void InstantMessage(std::string& user, std::string& text, bool&, std::string&) override {
        text += "!";  // references are the host's to change
        react(user, 0);
    }
    void UserProfile(std::string& url) override { react(url, 0); }
    void Error(std::int16_t& code, std::string& text) override { react(text, code); }
    void Warned(std::string& level, std::string&) override { react(level, 0); }
    void TypingStatus(std::string& user, std::int16_t& status) override { react(user, status); }
    void WinsockError(std::string& text) override { react(text, 0); }
    void RendevousRequest(std::string& user, std::string&, std::string&, std::string&, std::string&,
                          std::string&, std::int32_t& port) override {
        react(user, port);
    }
    void IncomingPacket(std::string packet) override { react(packet, 0); }
    void PasswordChanged() override { react("pw", 0); }
    void ScreenNameFormatted() override { react("nick", 0); }

private:
    void react(std::string_view text, std::int32_t number) {
        // A host that calls LogOff from every LoggedOut would recurse for ever; so would this one.
        if (script_.empty() || !control_ || depth_ >= kMaxDepth)
            return;
        ++depth_;
        struct Leave {
            int& depth;
            ~Leave() { --depth; }
        } leave{depth_};
        const auto action = static_cast<unsigned char>(script_[next_++ % script_.size()]);
        lantry::Ondrel& c = *control_;
        const std::string arg(text.substr(0, 64));
        switch (action % 12) {
            case 0:
                break;
            case 1:
                c.LogOff();
                break;
            case 2:
                c.Login(arg, "password", "127.0.0.1", 5190);
                break;
            case 3:
                c.SendIM(arg, arg, (action & 16) != 0);
                break;
            case 4:
                c.JoinChat(arg, static_cast<std::int16_t>(number));
                break;
            case 5:
                c.SendChat(arg, arg, c.LastChatID());
                break;
            case 6:
                c.LeaveChat(arg, number);
                break;
            case 7:
                c.AddBuddy(arg, arg);
                break;
            case 8:
                // Destroys the control from inside its own event.
                control_.reset();
                break;
            case 9:
                try {
                    c.SetIdleTime(number * 1000);
                } catch (const std::overflow_error&) {
                }
                break;
            case 10:
                c.SetProfile(std::string(text));
                break;
            case 11:
                // An exception out of a handler must not break the receive path.
                throw std::runtime_error("host handler failed");
        }
    }

    std::string_view script_;
    std::unique_ptr<lantry::Ondrel>& control_;
    std::size_t next_ = 0;
    static constexpr int kMaxDepth = 8;
    int depth_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    if (input.empty())
        return 0;
    const std::size_t scriptLength = static_cast<unsigned char>(input[0]) % 16;
    input.remove_prefix(1);
    const auto script = input.substr(0, scriptLength);
    input.remove_prefix(script.size());

    std::unique_ptr<lantry::Ondrel> control;
    ReactingHost host(script, control);
    auto owned = std::make_unique<CheckingSocket>();
    CheckingSocket* sock = owned.get();
    // The socket dies with the control; the driver stops when that happens.
    control = std::make_unique<lantry::Ondrel>(std::move(owned), &host);
    control->Login("Fuzz User", "password", "127.0.0.1", 5190);
    sock->connectNow();

    while (!input.empty() && control) {
        const auto op = static_cast<unsigned char>(input[0]);
        input.remove_prefix(1);
        switch (op % 4) {
            case 0: {
                const std::size_t length = op == 252 ? input.size() : op / 4u + 1u;
                const auto read = input.substr(0, length);
                input.remove_prefix(read.size());
                sock->arrive(read);
                break;
            }
            case 1:
                if (sock->State() != lantry::Socket::StateConnected)
                    sock->connectNow();
                break;
            case 2:
                sock->fail("Connection reset by peer");
                break;
            case 3:
                sock->peerClose();
                break;
        }
        if (control)
            sock->dataPayloads.clear();
    }
    return 0;
}
