#include "common/osc/HJOSCTrafficLog.h"

#include <charconv>
#include <string_view>

#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCMessage.h"
#include "platform/Log.h"

namespace velto {

namespace {

// Every piece of text that came from the network (addresses, type tags,
// string arguments) is appended here and nowhere else, so that one place
// decides how it is shown.
void appendNetworkText(std::string& line, std::string_view text) { line += escapeText(text); }

void appendArgument(std::string& line, const HJOSCArgument& argument) {
    char number[32];
    switch (argument.type()) {
        case 'i':
            line += std::to_string(argument.intValue());
            return;
        case 'f': {
            // Shortest text that reads back as the same float: "25", "0.375".
            const auto result =
                std::to_chars(number, number + sizeof number, argument.floatValue());
            line.append(number, result.ptr);
            return;
        }
        case 's':
            line += '"';
            appendNetworkText(line, argument.stringValue());
            line += '"';
            return;
        case 'b': {
            const auto blob = argument.dataBlobValue();
            line += blob ? "[" + std::to_string(blob->size()) + " byte blob]"
                         : std::string("[bad blob]");
            return;
        }
        default:
            line += "?";
            return;
    }
}

}  // namespace

std::string HJOSCTrafficLog::describeMessage(const HJOSCMessage& message) {
    std::string line;
    appendNetworkText(line, message.address().address());
    const auto arguments = message.attachedObjects();
    if (arguments.empty()) return line;
    line += ' ';
    appendNetworkText(line, std::string_view(message.typeTagString()).substr(1));
    for (const auto& argument : arguments) {
        line += ' ';
        appendArgument(line, argument);
    }
    return line;
}

void HJOSCTrafficLog::logReceived(std::uint16_t port, const HJOSCMessage& message, bool ignored) {
    Log::message("RECEIVE " + std::to_string(port) + ": " + describeMessage(message) +
                 (ignored ? " (ignored)" : ""));
}

void HJOSCTrafficLog::logUndecodable(std::uint16_t port, std::size_t size) {
    Log::message("RECEIVE " + std::to_string(port) + ": undecodable datagram of " +
                 std::to_string(size) + " bytes (ignored)");
}

void HJOSCTrafficLog::logSent(std::uint16_t port, const HJOSCPacket& packet) {
    const std::string prefix = "SEND " + std::to_string(port) + ": ";
    for (const HJOSCMessage& message : HJOSCBundle::messagesOf(packet))
        Log::message(prefix + describeMessage(message));
}

}  // namespace velto
