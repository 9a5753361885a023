#pragma once

// Text pieces of the report pages. EscapeHtml makes any text safe inside an element or a quoted
// attribute: & < > " ' become character references, and control characters other than tab and
// line breaks (which HTML does not allow) become U+FFFD; every other byte is kept, so UTF-8 text
// stays as it was. EncodeBase64 is the standard alphabet with '=' padding, no line breaks;
// PngDataUri wraps the bytes of a PNG file as a data: URI.

#include <span>
#include <string>
#include <string_view>

namespace velkar::ordana {

std::string EscapeHtml(std::string_view text);

std::string EncodeBase64(std::span<const unsigned char> bytes);

std::string PngDataUri(std::span<const unsigned char> png);

}  // namespace velkar::ordana
