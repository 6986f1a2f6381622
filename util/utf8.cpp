#include "util/utf8.hpp"

#include <cstdint>

namespace nimbus::util {

std::size_t printableCharAt(std::string_view text, std::size_t i) {
    const auto byte = [text](std::size_t k) {
        return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u;
    };
    const unsigned lead = byte(i);
    if (lead >= 0x20 && lead < 0x7F) {
        return 1;
    }
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;  // a control character, a continuation byte, an overlong lead or beyond U+10FFFF
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0u) != 0x80u) {
            return 0;
        }
        code = (code << 6) | (byte(i + k) & 0x3Fu);
    }
    constexpr std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool valid = code >= least[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    const bool c1 = code >= 0x80 && code <= 0x9F;
    return valid && !c1 ? length : 0;
}

bool isPrintableUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = printableCharAt(text, i);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace nimbus::util
