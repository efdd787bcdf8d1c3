// Error texts that fit the caller's 83-byte buffer.
#pragma once

#include <string>

namespace bsmtp {

// Longest error text, without its terminating NUL.
constexpr size_t kMaxErrorText = 82;

// prefix + middle + suffix, within kMaxErrorText characters: the middle (a
// host name, an address, a path) is shortened first, down to `min_middle`
// characters, then the whole text is cut at its end. Cuts are marked "...".
// Bytes outside printable ASCII become '?', so that the text is safe on any
// console.
std::string fit_error(const std::string& prefix, const std::string& middle = "",
                      const std::string& suffix = "", size_t min_middle = 16);

}  // namespace bsmtp
