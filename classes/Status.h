#pragma once

// Whether something worked, and if not, why, in words for the user. Said the
// right way round: `ok()` on success, `error()` only on failure.

#include <string>
#include <utility>

namespace velto {

class [[nodiscard]] Status {
public:
    static Status success() { return Status(); }
    static Status failure(std::string error) { return Status(std::move(error)); }

    bool ok() const { return !failed_; }
    // Why it failed; empty on success.
    const std::string& error() const { return error_; }

private:
    Status() = default;
    explicit Status(std::string error) : error_(std::move(error)), failed_(true) {}

    std::string error_;
    bool failed_ = false;
};

}  // namespace velto
