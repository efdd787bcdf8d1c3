// Character sets and encodings of the mail library's texts.
#pragma once

#include <string>

namespace bsmtp {

bool is_valid_utf8(const std::string& text);

// The text as UTF-8: unchanged when it already is valid UTF-8, otherwise read
// as code page 932 (settings files written on Windows). Bytes that are not
// code page 932 either become '?'.
std::string to_utf8(const std::string& text);

// Base64 of `data`; with `line_length` > 0 broken into CR LF ended lines.
std::string base64(const std::string& data, size_t line_length = 0);

// CR LF for every line end (CR LF, LF or a lone CR), and one at the end.
std::string crlf_lines(const std::string& text);

// A header value as RFC 2047 encoded words (UTF-8, base64), one per folded
// line, each word ending on a whole character.
std::string encoded_words(const std::string& utf8);

// Spaces and tabs removed from both ends.
std::string trim_blanks(const std::string& text);

}  // namespace bsmtp
