#include "ordana/EchoedInput.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

using velkar::ordana::EchoedInput;

TEST(EchoedInputTest, ClipsAtTheLimitWithoutSplittingACharacterAndEscapes) {
    const std::string euro = "\xe2\x82\xac";
    const std::vector<std::tuple<std::string, std::size_t, std::string>> cases = {
        {std::string(80, 'a'), 80, std::string(80, 'a')},
        {std::string(81, 'a'), 80, std::string(80, 'a') + "..."},
        {std::string("a!\n\x7f\0", 5), 80, "a\\x21\\x0a\\x7f\\x00"},
        {"!!!!", 2, "\\x21\\x21..."},
        {"ab" + euro + "cd", 3, "ab..."},
        {"ab" + euro + "cd", 5, "ab" + euro + "..."},
    };
    for (const auto& [text, limit, echoed] : cases) {
        EXPECT_EQ(EchoedInput(text, limit), echoed) << text;
    }
}

// Whatever the bytes, the echo holds no control byte and no "!", and ends in "..." exactly when
// it was cut.
TEST(EchoedInputTest, NoByteCanBreakALogLine) {
    std::string every;
    for (int byte = 0; byte < 256; ++byte) {
        every += static_cast<char>(byte);
    }
    for (std::size_t limit : {std::size_t{0}, std::size_t{80}, every.size()}) {
        const std::string echoed = EchoedInput(every, limit);
        for (char c : echoed) {
            const auto byte = static_cast<unsigned char>(c);
            EXPECT_TRUE(byte >= 0x20 && byte != 0x7f && byte != '!') << static_cast<int>(byte);
        }
        EXPECT_EQ(echoed.ends_with("..."), limit < every.size()) << limit;
    }
}

}  // namespace
