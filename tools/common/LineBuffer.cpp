#include "LineBuffer.h"

namespace velto::tools {

namespace {

std::string withoutCarriageReturn(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace

void LineBuffer::append(ByteView bytes) {
    // Drop what has been taken before growing, so the buffer holds one line at most.
    if (start_ > 0) {
        pending_.erase(0, start_);
        start_ = 0;
    }
    pending_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::optional<std::string> LineBuffer::nextLine() {
    const std::size_t end = pending_.find('\n', start_);
    if (end == std::string::npos) {
        if (pending_.size() - start_ < kMaxLineLength) return std::nullopt;
        std::string piece = pending_.substr(start_, kMaxLineLength);
        start_ += kMaxLineLength;
        return piece;
    }
    const std::size_t length = end - start_;
    std::string line = pending_.substr(start_, length > kMaxLineLength ? kMaxLineLength : length);
    start_ = length > kMaxLineLength ? start_ + kMaxLineLength : end + 1;
    return withoutCarriageReturn(std::move(line));
}

std::optional<std::string> LineBuffer::finish() {
    if (auto line = nextLine()) return line;
    if (start_ >= pending_.size()) return std::nullopt;
    std::string rest = pending_.substr(start_);
    pending_.clear();
    start_ = 0;
    return withoutCarriageReturn(std::move(rest));
}

}  // namespace velto::tools
