#include "ordana/ClassMap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using velkar::ordana::ClassMap;
using Colour = ClassMap::Colour;

TEST(ClassMapTest, ColourLinesThatNameAColour) {
    const std::vector<std::pair<std::string, std::optional<Colour>>> cases = {
        {"#ff8000", Colour{255, 128, 0}},
        {"  #0A0b0C ", Colour{10, 11, 12}},
        {"255 128 0", Colour{255, 128, 0}},
        {"1,2,3", Colour{1, 2, 3}},
        {"1, 2, 3", Colour{1, 2, 3}},
        {"[255,128,0]", Colour{255, 128, 0}},
        {"(0 0 0)", Colour{0, 0, 0}},
        {"#ff80", std::nullopt},
        {"#gg0000", std::nullopt},
        {"1 2", std::nullopt},
        {"1 2 3 4", std::nullopt},
        {"1,2,,3", std::nullopt},
        {"256 0 0", std::nullopt},
        {"-1 0 0", std::nullopt},
        {"red", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [line, colour] : cases) {
        EXPECT_EQ(ClassMap::ParseColour(line), colour) << "'" << line << "'";
    }
    // Lines that name no colour take distinct palette colours, none of them black.
    std::vector<Colour> chosen;
    for (std::size_t c = 0; c < 12; ++c) {
        const Colour colour = ClassMap::ClassColour(c, "forest green");
        EXPECT_NE(colour, (Colour{0, 0, 0}));
        EXPECT_EQ(std::count(chosen.begin(), chosen.end(), colour), 0) << c;
        chosen.push_back(colour);
    }
}

TEST(ClassMapTest, EveryWindowPaintsTheSquareAtItsCentre) {
    // Windows of 6 on a step of 2 paint the 2 x 2 square 2 pixels in from their corner.
    ClassMap map(10, 8, 6, 2, {"a", "b"}, {"#010203", "nonsense"});
    map.Paint(0, 0, 0);
    map.Paint(4, 2, 1);
    map.Paint(2, 2, -1);
    map.Paint(2, 0, 2);
    const auto& picture = map.Picture();
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 10; ++x) {
            const bool first = x >= 2 && x < 4 && y >= 2 && y < 4;
            const bool second = x >= 6 && x < 8 && y >= 4 && y < 6;
            EXPECT_EQ(picture.Index(x, y), first ? 1 : second ? 2 : 0) << x << ", " << y;
        }
    }
    EXPECT_FALSE(picture.EncodePng().empty());
}

}  // namespace
