#include "apps/remote/src/json/utf8.hpp"

#include <cstddef>
#include <cstdint>

namespace remote::json {

namespace {

// Length of the valid sequence starting at i, or 0.
std::size_t sequence_length(const unsigned char* p, std::size_t n, std::size_t i) {
    unsigned char c = p[i];
    if (c < 0x80) return 1;
    std::size_t len;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (n - i < len) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((p[i + k] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
    if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
    return len;
}

}  // namespace

bool is_valid_utf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t len = sequence_length(p, text.size(), i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::string to_valid_utf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t len = sequence_length(p, text.size(), i);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text.substr(i, len));
            i += len;
        }
    }
    return out;
}

}  // namespace remote::json
