// Sign-on and sign-off: Login, the answer to the server's sign-on frame, LogOff.
#include <string>

#include "callbacks.h"
#include "ondrel/ondrel.h"
#include "ondrel/wire.h"

namespace lantry {

void Ondrel::Login(const std::string& UserName, const std::string& Password,
                   const std::string& TOCServer, std::int32_t Port, std::string& AuthServer) {
    loginImpl(UserName, Password, TOCServer, Port, AuthServer);
}

void Ondrel::Login(const std::string& UserName, const std::string& Password,
                   const std::string& TOCServer, std::int32_t Port) {
    std::string authServer(kDefaultAuthServer);
    loginImpl(UserName, Password, TOCServer, Port, authServer);
}

void Ondrel::loginImpl(const std::string& UserName, const std::string& Password,
                       const std::string& TOCServer, std::int32_t Port, std::string& AuthServer) {
    clearChatTable();
    if (wire::trimBlanks(AuthServer).empty())
        AuthServer = kDefaultAuthServer;
    strLoginName = NormalizeName(UserName);
    strRoastedPassword = RoastPassword(Password);
    strTOCServer = wire::trimBlanks(TOCServer);
    lngServerPort = Port;
    strAuthServer = wire::trimBlanks(AuthServer);
    // A new connection starts clean: no stale frame bytes, no half configuration.
    ++connectionGeneration_;
    signOnAnswered_ = false;
    if (!receiving_)
        strRecvBuffer.clear();
    strConfigBuffer.clear();
    Sock->Close();
    Sock->Connect(strTOCServer, lngServerPort);
}

bool Ondrel::replyToSignOnFrame() {
    if (signOnAnswered_)
        return true;
    signOnAnswered_ = true;
    std::string signOn("\x00\x00\x00\x01\x00\x01", 6);
    signOn += EncodeWord(static_cast<std::int32_t>(strLoginName.size()));
    signOn += strLoginName;
    if (!sendPacket(wire::kFrameSignOn, signOn))
        return false;

    std::string line = "toc2_login ";
    line += strAuthServer;
    line += ' ';
    line += std::to_string(lngServerPort);
    line += ' ';
    line += strLoginName;
    line += ' ';
    line += strRoastedPassword;
    // The fixed tail as the service expects it, two blanks after "English" included.
    line += " English  \"";
    line += kClientVersion;
    line += "\" 160 US \"\" \"\" 3 0 30303 -kentucky -utf8 58203174";
    return sendLine(line);
}

void Ondrel::LogOff() {
    clearChatTable();
    Sock->Close();
    // A LoggedOut handler that calls LogOff again is not told again: the two would otherwise
    // call each other for ever.
    if (!raisingLoggedOut_) {
        std::string name = strLoginName;
        CallbackGuard guard(*this);
        raisingLoggedOut_ = true;
        bool carryOn = false;
        try {
            carryOn = raise([&](__Ondrel& sink) { sink.LoggedOut(std::move(name)); });
        } catch (...) {
            if (!guard.destroyed)
                raisingLoggedOut_ = false;
            throw;
        }
        if (guard.destroyed)
            return;
        raisingLoggedOut_ = false;
        // A handler that signs on again keeps the state of its new sign-on.
        if (!carryOn)
            return;
    }
    strLoginName.clear();
    strRoastedPassword.clear();
    strAuthServer.clear();
    strTOCServer.clear();
    lngServerPort = kDefaultPort;
    lastChatId_ = 0;
}

}  // namespace lantry
