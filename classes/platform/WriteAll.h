#pragma once

// Writing a whole text to a descriptor that may take it in pieces (a file, a
// pipe): the one place that loops over partial writes and interruptions.

#include <string_view>

namespace velto {

// Waits as the descriptor needs. False, with errno set, when a write failed.
bool writeAll(int fd, std::string_view text);

}  // namespace velto
