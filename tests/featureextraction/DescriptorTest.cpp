#include "velkar/featureextraction/Descriptor.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace velkar::featureextraction {
namespace {

using Bands = std::vector<std::vector<double>>;

TEST(DescriptorTest, DefaultHasNoBandsAndZeroLabels) {
    const Descriptor descriptor;
    EXPECT_TRUE(descriptor.Features().empty());
    EXPECT_EQ(descriptor.Class(), "");
    EXPECT_EQ(descriptor.Band(), 0);
    EXPECT_EQ(descriptor.X(), 0);
    EXPECT_EQ(descriptor.Y(), 0);
    EXPECT_EQ(descriptor.PolygonId(), 0);
}

TEST(DescriptorTest, ConstructorsShapeTheBands) {
    EXPECT_EQ(Descriptor(std::vector<double>{1.5, -2.0, 3.0}).Features(),
              (Bands{{1.5, -2.0, 3.0}}));
    EXPECT_EQ(Descriptor(std::vector<double>{}).Features(), (Bands{{}}));
    EXPECT_EQ(Descriptor(3, 2).Features(), (Bands{{0.0, 0.0}, {0.0, 0.0}, {0.0, 0.0}}));
    EXPECT_EQ(Descriptor(2, 0).Features(), (Bands{{}, {}}));
    EXPECT_TRUE(Descriptor(0, 5).Features().empty());
    const Descriptor sized(4, 1);
    EXPECT_EQ(sized.PolygonId(), 0);
    EXPECT_EQ(sized.Band(), 0);
}

TEST(DescriptorTest, NegativeShapeIsRejectedWithTheValues) {
    try {
        Descriptor(-1, 3);
        FAIL() << "negative band count accepted";
    } catch (const std::invalid_argument& error) {
        EXPECT_NE(std::string(error.what()).find("-1"), std::string::npos) << error.what();
    }
    EXPECT_THROW(Descriptor(2, -4), std::invalid_argument);
}

TEST(DescriptorTest, CopiesAreDeepAndKeepEveryField) {
    Descriptor original(2, 3);
    original.Features()[1][2] = 7.25;
    original.SetClass("forest");
    original.SetBand(2);
    original.SetX(-5);
    original.SetY(11);
    original.SetPolygonId(42);

    Descriptor copy(original);
    Descriptor assigned;
    assigned = original;
    for (Descriptor* duplicate : {&copy, &assigned}) {
        EXPECT_EQ(duplicate->Features(), original.Features());
        EXPECT_EQ(duplicate->Class(), "forest");
        EXPECT_EQ(duplicate->Band(), 2);
        EXPECT_EQ(duplicate->X(), -5);
        EXPECT_EQ(duplicate->Y(), 11);
        EXPECT_EQ(duplicate->PolygonId(), 42);
    }

    copy.Features()[1][2] = 1.0;
    copy.Features().push_back({9.0});
    copy.SetClass("water");
    EXPECT_EQ(original.Features(), (Bands{{0.0, 0.0, 0.0}, {0.0, 0.0, 7.25}}));
    EXPECT_EQ(original.Class(), "forest");
}

}  // namespace
}  // namespace velkar::featureextraction
