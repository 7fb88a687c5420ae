// FLAP framing over the child socket: the greeting, outgoing frames with their sequence
// numbers, cutting the incoming stream into frames, keep-alive answers and socket failures.
#include <string>

#include "callbacks.h"
#include "ondrel/ondrel.h"
#include "ondrel/wire.h"

namespace lantry {

void Ondrel::SendPacket(std::int16_t intChannel, std::string strData) {
    sendPacket(intChannel, strData);
}

bool Ondrel::sendPacket(int intChannel, std::string_view strData) {
    if (Sock->State() != Socket::StateConnected)
        return true;
    const bool isCommand = intChannel == wire::kFrameData;
    const std::size_t payloadSize = strData.size() + (isCommand ? 1 : 0);
    // Servers end the connection on a longer command; a longer frame of another type has no
    // valid length field. Refusing either keeps the session and the stream in step.
    if (const std::size_t limit = isCommand ? kMaxCommandPayload : kMaxPayload;
        payloadSize > limit) {
        std::int16_t code = 0;
        std::string text = (isCommand ? "Command not sent: its " : "Frame not sent: its ") +
                           std::to_string(payloadSize) + " bytes exceed the " +
                           std::to_string(limit) +
                           (isCommand ? "-byte limit of one command" : "-byte limit of one frame");
        return raise([&](__Ondrel& sink) { sink.Error(code, text); });
    }
    if (isCommand) {
        // The NUL that ends a data frame ends the command for the server: one inside would cut
        // the line there and leave its last argument open.
        if (const auto nul = strData.find('\0'); nul != std::string_view::npos) {
            std::int16_t code = 0;
            std::string text = "Command not sent: it holds a NUL byte at offset " +
                               std::to_string(nul) + ", which would end it early";
            return raise([&](__Ondrel& sink) { sink.Error(code, text); });
        }
    }
    if (lngFlapSequence > 0xFFFF)
        lngFlapSequence = 0;
    const auto sequence = static_cast<std::uint16_t>(lngFlapSequence);
    ++lngFlapSequence;
    if (intChannel < 0 || intChannel > 0xFF)
        return true;  // no byte can carry the type

    std::string frame;
    frame.reserve(wire::kFrameHeaderSize + payloadSize);
    wire::appendFrameHeader(frame, static_cast<std::uint8_t>(intChannel), sequence,
                            static_cast<std::uint16_t>(payloadSize));
    frame.append(strData);
    if (isCommand)
        frame.push_back('\0');
    Sock->SendData(frame);
    return true;
}

void Ondrel::socketConnected() {
    Sock->SendData(wire::kGreeting);
}

namespace {

bool holdsWholeFrame(std::string_view bytes) {
    return bytes.size() >= wire::kFrameHeaderSize && bytes.size() >= wire::frameLength(bytes);
}

}  // namespace

void Ondrel::socketDataArrival() {
    if (Sock->State() != Socket::StateConnected)
        return;
    // A handler that runs a nested event loop can bring a second arrival; deliverFrames reads
    // again before it returns, so the bytes are taken in order there.
    if (receiving_)
        return;
    // Reads append to strRecvBuffer, which between reads holds at most the start of one frame.
    Sock->GetData(strRecvBuffer);
    if (holdsWholeFrame(strRecvBuffer))
        deliverFrames();
}

void Ondrel::deliverFrames() {
    NotificationScope scope(*this);
    receiving_ = true;
    const auto generation = connectionGeneration_;
    std::string textBuffer;
    // The frames of strRecvBuffer move into a local and are cut in place there; only the
    // unfinished tail, made of the last read's bytes, is copied back. So every byte is copied
    // at most once, and a burst holds one read plus one frame. Handlers only ever see the
    // local, which Login or LogOff from a handler cannot free.
    for (;;) {
        const std::string read = std::move(strRecvBuffer);
        strRecvBuffer.clear();
        for (std::string_view rest(read); !rest.empty();) {
            const std::size_t length = wire::frameLength(rest);
            if (rest.size() < length) {
                strRecvBuffer.assign(rest);
                break;
            }
            const bool carryOn = ProcessPacket(rest.substr(0, length), textBuffer);
            if (scope.controlDestroyed())
                return;
            if (!carryOn || generation != connectionGeneration_) {
                // Login ran inside a handler: nothing of the old connection goes further.
                strRecvBuffer.clear();
                receiving_ = false;
                return;
            }
            rest.remove_prefix(length);
        }
        // GetData takes every waiting byte, but a handler's nested event loop may have let
        // more arrive, announced while this loop ran and so left to it.
        if (Sock->State() != Socket::StateConnected)
            break;
        Sock->GetData(strRecvBuffer);
        if (!holdsWholeFrame(strRecvBuffer))
            break;
    }
    receiving_ = false;
}

bool Ondrel::ProcessPacket(std::string_view frame, std::string& textBuffer) {
    if (!raise([&](__Ondrel& sink) { sink.IncomingPacket(std::string(frame)); }))
        return false;
    const auto type = static_cast<unsigned char>(frame[1]);
    switch (type) {
        case wire::kFrameSignOn:
            return replyToSignOnFrame();
        case wire::kFrameData:
            return dispatchMessage(frame.substr(wire::kFrameHeaderSize), textBuffer);
        case wire::kFrameError:
        case wire::kFrameSignOff:
            return true;
        case wire::kFrameKeepAlive:
            return sendPacket(wire::kFrameKeepAlive, {});
        default: {
            std::int16_t code = 0;
            std::string text = "Unknown Channel Detected: ";
            text += static_cast<char>(type);
            return raise([&](__Ondrel& sink) { sink.Error(code, text); });
        }
    }
}

void Ondrel::socketError(int /*number*/, const std::string& description) {
    NotificationScope scope(*this);
    std::string text = description;
    // A handler that signs on again owns the socket now; closing it would end the new attempt.
    if (raise([&](__Ondrel& sink) { sink.WinsockError(text); }))
        Sock->Close();
}

void Ondrel::socketClosed() {
    NotificationScope scope(*this);
    // Closed first, so a handler that looks at the socket sees the truth.
    Sock->Close();
    std::string text = "The server closed the connection";
    raise([&](__Ondrel& sink) { sink.WinsockError(text); });
}

}  // namespace lantry
