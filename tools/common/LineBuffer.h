#pragma once

// Splits text that arrives in pieces (standard input read as it comes) into
// lines. A line ends at "\n"; a "\r" before it is dropped.

#include <cstddef>
#include <optional>
#include <string>

#include "common/Bytes.h"

namespace velto::tools {

class LineBuffer {
public:
    // A line longer than this is cut: its rest comes out as further lines.
    static constexpr std::size_t kMaxLineLength = 4096;

    void append(ByteView bytes);
    // The next complete line, without its end, or none.
    std::optional<std::string> nextLine();
    // At the end of the input: an unfinished last line, or none.
    std::optional<std::string> finish();

private:
    std::string pending_;
    std::size_t start_ = 0;  // where the next line begins in pending_
};

}  // namespace velto::tools
