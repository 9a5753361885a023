#include "ordana/EchoedInput.h"

namespace velkar::ordana {

namespace {

bool NeedsEscape(unsigned char byte) { return byte < 0x20 || byte == 0x7f || byte == '!'; }

bool IsContinuationByte(unsigned char byte) { return (byte & 0xc0) == 0x80; }

}  // namespace

std::string EchoedInput(std::string_view text, std::size_t limit) {
    std::size_t kept = text.size();
    if (kept > limit) {
        kept = limit;
        // Back up to the first byte of a multi-byte character cut in two.
        while (kept > 0 && IsContinuationByte(static_cast<unsigned char>(text[kept]))) {
            --kept;
        }
    }
    static constexpr char hexDigits[] = "0123456789abcdef";
    std::string echoed;
    echoed.reserve(kept + 3);
    for (std::size_t i = 0; i < kept; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (NeedsEscape(byte)) {
            echoed += "\\x";
            echoed += hexDigits[byte >> 4];
            echoed += hexDigits[byte & 0x0f];
        } else {
            echoed += static_cast<char>(byte);
        }
    }
    if (kept < text.size()) {
        echoed += "...";
    }
    return echoed;
}

}  // namespace velkar::ordana
