#pragma once

// Unpredictable bytes from the operating system, for secrets such as the web
// page's access token. Any thread.

#include <cstddef>
#include <optional>

#include "common/Bytes.h"

namespace velto {

// None when the system's source of randomness cannot be read.
std::optional<Bytes> randomBytes(std::size_t count);

}  // namespace velto
