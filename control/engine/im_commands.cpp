// Instant messages and the host's markup stripper.
#include "callbacks.h"
#include "command_line.h"
#include "ondrel/ondrel.h"
#include "ondrel/wire.h"

namespace lantry {

void Ondrel::SendIM(const std::string& strUserName, const std::string& strMessage,
                    bool AutoResponse) {
    sendLine(imCommand(strUserName, strMessage, AutoResponse));
}

std::string Ondrel::imCommand(const std::string& strUserName, const std::string& strMessage,
                              bool AutoResponse) {
    CommandLine line("toc_send_im");
    line.verbatim(NormalizeName(strUserName)).quoted(EscapeText(strMessage));
    if (AutoResponse)
        line.bare("auto");
    return line.text();
}

std::string Ondrel::RemoveHtml(std::string strMessage) {
    return wire::removeHtml(strMessage);
}

}  // namespace lantry
