#pragma once

// Which sanitizer this build runs under, for the few tests that watch a
// process from outside: the sanitizers change its memory, and ThreadSanitizer
// adds a runtime thread of its own that wakes periodically.

#ifdef __has_feature
#define VELTO_HAS_FEATURE(feature) __has_feature(feature)
#else
#define VELTO_HAS_FEATURE(feature) 0
#endif

namespace velto::test {

#if defined(__SANITIZE_ADDRESS__) || VELTO_HAS_FEATURE(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif

#if defined(__SANITIZE_THREAD__) || VELTO_HAS_FEATURE(thread_sanitizer)
inline constexpr bool kThreadSanitizer = true;
#else
inline constexpr bool kThreadSanitizer = false;
#endif

}  // namespace velto::test
