#include "output_text.h"

#include <cstdio>

namespace pexil::tool {

size_t Utf8Sequence(const std::string& text, size_t i, uint32_t* codePoint) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    }
    size_t length = 0;
    uint32_t value = 0;
    // The smallest code point each length may carry, so that no overlong
    // form passes.
    uint32_t smallest = 0;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
        value = lead & 0x1fu;
        smallest = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        value = lead & 0x0fu;
        smallest = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        value = lead & 0x07u;
        smallest = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xc0u) != 0x80u) return 0;
        value = (value << 6) | (next & 0x3fu);
    }
    if (value < smallest || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff)) return 0;
    *codePoint = value;
    return length;
}

bool IsBidiControl(uint32_t codePoint) {
    return codePoint == 0x061c || codePoint == 0x200e || codePoint == 0x200f ||
           (codePoint >= 0x202a && codePoint <= 0x202e) ||
           (codePoint >= 0x2066 && codePoint <= 0x2069);
}

std::string Shown(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    auto escape = [&out](unsigned char byte) {
        char hex[5];
        std::snprintf(hex, sizeof(hex), "\\x%02x", byte);
        out += hex;
    };
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        uint32_t codePoint = 0;
        const size_t length = Utf8Sequence(text, i, &codePoint);
        if (length == 0) {
            // A byte that is no UTF-8: a C1 control to a terminal that reads bytes.
            if (c >= 0x80 && c <= 0x9f) {
                escape(c);
            } else {
                out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        if (codePoint < 0x20 || codePoint == 0x7f || (codePoint >= 0x80 && codePoint <= 0x9f) ||
            IsBidiControl(codePoint)) {
            for (size_t k = 0; k < length; ++k)
                escape(static_cast<unsigned char>(text[i + k]));
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    return out;
}

}  // namespace pexil::tool
