#include "ordana/EchoedInput.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using velkar::ordana::EchoedInput;

struct Case {
    std::string text;
    std::size_t limit;
    std::string echoed;
};

TEST(EchoedInputTest, ClipsAtTheLimitAndEscapesControlBytesAndExclamationMarks) {
    const std::string euro = "\xe2\x82\xac";
    const std::vector<Case> cases = {
        {"", 80, ""},
        {"plain words", 80, "plain words"},
        {std::string(80, 'a'), 80, std::string(80, 'a')},
        {std::string(81, 'a'), 80, std::string(80, 'a') + "..."},
        {"a!b", 80, "a\\x21b"},
        {std::string("\n\r\t\x01\x1f\x7f", 6), 80, "\\x0a\\x0d\\x09\\x01\\x1f\\x7f"},
        {std::string("x\0y", 3), 80, "x\\x00y"},
        // Bytes past the limit are cut before escaping, and a cut never splits a character.
        {"!!!!", 2, "\\x21\\x21..."},
        {"ab" + euro + "cd", 3, "ab..."},
        {"ab" + euro + "cd", 5, "ab" + euro + "..."},
        {euro, 3, euro},
        {"back\\slash", 80, "back\\slash"},
    };
    for (const Case& one : cases) {
        EXPECT_EQ(EchoedInput(one.text, one.limit), one.echoed) << one.text;
    }
}

// Whatever the bytes, the echo holds no control byte and no "!", and keeps at most the limit of
// the text's bytes before its "...".
TEST(EchoedInputTest, NoByteCanBreakALogLine) {
    std::string every;
    for (int byte = 0; byte < 256; ++byte) {
        every += static_cast<char>(byte);
    }
    for (std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{80}, every.size()}) {
        const std::string echoed = EchoedInput(every, limit);
        for (char c : echoed) {
            const auto byte = static_cast<unsigned char>(c);
            EXPECT_TRUE(byte >= 0x20 && byte != 0x7f && byte != '!') << static_cast<int>(byte);
        }
        EXPECT_EQ(echoed.ends_with("..."), limit < every.size()) << limit;
    }
}

}  // namespace
