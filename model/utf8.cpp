#include "utf8.h"

namespace kgl {

std::string NameAsUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        const unsigned c = p[i];
        // the length and the smallest value of a sequence led by c (none: a lone byte)
        const size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 1;
        char32_t code = len == 1 ? c : c & (0x7F >> len);
        bool valid = len > 1 && i + len <= n;
        for (size_t k = 1; valid && k < len; ++k) {
            valid = (p[i + k] & 0xC0) == 0x80;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        // no overlong form, no surrogate, nothing past U+10FFFF
        valid = valid && !(len == 3 && code < 0x800) && !(len == 4 && (code < 0x10000 || code > 0x10FFFF)) &&
                !(code >= 0xD800 && code <= 0xDFFF);
        if (len > 1 && valid) {
            text.append(bytes.substr(i, len));
            i += len;
        } else if (c < 0x80) {
            text += static_cast<char>(c);
            ++i;
        } else {  // Latin-1
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
            ++i;
        }
    }
    return text;
}

}  // namespace kgl
