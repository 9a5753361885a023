#include "ordana/PageText.h"

namespace velkar::ordana {

std::string EscapeHtml(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&#39;";
                break;
            default:
                if ((static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') ||
                    c == '\x7F') {
                    escaped += "\xEF\xBF\xBD";
                } else {
                    escaped += c;
                }
        }
    }
    return escaped;
}

std::string EncodeBase64(std::span<const unsigned char> bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text((bytes.size() + 2) / 3 * 4, '=');
    char* out = text.data();
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3, out += 4) {
        const unsigned group = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
        out[0] = kAlphabet[group >> 18];
        out[1] = kAlphabet[group >> 12 & 63];
        out[2] = kAlphabet[group >> 6 & 63];
        out[3] = kAlphabet[group & 63];
    }
    if (const std::size_t rest = bytes.size() - i; rest > 0) {
        const unsigned group = bytes[i] << 16 | (rest == 2 ? bytes[i + 1] << 8 : 0);
        out[0] = kAlphabet[group >> 18];
        out[1] = kAlphabet[group >> 12 & 63];
        if (rest == 2) {
            out[2] = kAlphabet[group >> 6 & 63];
        }
    }
    return text;
}

std::string PngDataUri(std::span<const unsigned char> png) {
    return "data:image/png;base64," + EncodeBase64(png);
}

}  // namespace velkar::ordana
