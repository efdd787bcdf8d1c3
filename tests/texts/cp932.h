// Code page 932 bytes of a readable UTF-8 text, through glibc's iconv, so that
// tests can state the program's Japanese console texts in readable form.
#pragma once

#include <iconv.h>

#include <string>

// Converts `utf8` to CP932 into `out`; false when iconv cannot convert all of it.
inline bool to_cp932(const std::string& utf8, std::string* out) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string in_copy = utf8;
    char* in = in_copy.data();
    size_t in_left = in_copy.size();
    std::string converted(in_copy.size() * 2 + 16, '\0');
    char* o = converted.data();
    size_t out_left = converted.size();
    size_t r = iconv(cd, &in, &in_left, &o, &out_left);
    bool ok = r != static_cast<size_t>(-1) && in_left == 0 &&
              iconv(cd, nullptr, nullptr, &o, &out_left) != static_cast<size_t>(-1);
    iconv_close(cd);
    if (!ok) return false;
    converted.resize(converted.size() - out_left);
    *out = converted;
    return true;
}

// As to_cp932, for tests that only need the bytes: empty when it cannot convert.
inline std::string cp932(const std::string& utf8) {
    std::string out;
    return to_cp932(utf8, &out) ? out : std::string();
}
