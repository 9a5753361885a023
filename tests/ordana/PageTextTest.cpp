#include "ordana/PageText.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using velkar::ordana::EncodeBase64;
using velkar::ordana::EscapeHtml;
using velkar::ordana::PngDataUri;

std::vector<unsigned char> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(PageTextTest, Base64OfThePublishedTestVectors) {
    // The test vectors of RFC 4648, section 10, and all three lengths of the last group over
    // bytes with the high bit set.
    for (const auto& [input, expected] :
         std::vector<std::pair<std::string, std::string>>{{"", ""},
                                                          {"f", "Zg=="},
                                                          {"fo", "Zm8="},
                                                          {"foo", "Zm9v"},
                                                          {"foob", "Zm9vYg=="},
                                                          {"fooba", "Zm9vYmE="},
                                                          {"foobar", "Zm9vYmFy"},
                                                          {"\xFF\xFE\xFD", "//79"},
                                                          {"\xFF\xFF", "//8="},
                                                          {"\xFB", "+w=="}}) {
        EXPECT_EQ(EncodeBase64(Bytes(input)), expected) << input;
    }
    EXPECT_EQ(PngDataUri(Bytes("foo")), "data:image/png;base64,Zm9v");
}

TEST(PageTextTest, EscapesMarkupAndControlCharacters) {
    for (const auto& [input, expected] : std::vector<std::pair<std::string, std::string>>{
             {"grass", "grass"},
             {"<script>alert('x')</script>", "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"},
             {"a & b \"c\"", "a &amp; b &quot;c&quot;"},
             {"&amp;", "&amp;amp;"},
             {"tab\tline\nend\r", "tab\tline\nend\r"},
             {std::string("nul\0bell\a", 9), "nul\uFFFDbell\uFFFD"},
             {"del\x7F", "del\uFFFD"},
             {"Wiese \u00FCber Stra\u00DFe", "Wiese \u00FCber Stra\u00DFe"}}) {
        EXPECT_EQ(EscapeHtml(input), expected) << input;
    }
}

}  // namespace
