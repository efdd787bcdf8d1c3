#include "error_text.h"

namespace bsmtp {

std::string fit_error(const std::string& prefix, const std::string& middle,
                      const std::string& suffix, size_t min_middle) {
    std::string mid = middle;
    size_t fixed = prefix.size() + suffix.size();
    if (fixed + mid.size() > kMaxErrorText) {
        size_t room = fixed < kMaxErrorText ? kMaxErrorText - fixed : 0;
        if (room < min_middle) room = min_middle;
        if (mid.size() > room)
            mid = room > 3 ? mid.substr(0, room - 3) + "..." : mid.substr(0, room);
    }
    std::string text = prefix + mid + suffix;
    if (text.size() > kMaxErrorText) text = text.substr(0, kMaxErrorText - 3) + "...";
    for (char& c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F) c = '?';
    }
    return text;
}

}  // namespace bsmtp
