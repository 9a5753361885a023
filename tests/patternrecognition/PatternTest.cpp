#include "velkar/patternrecognition/Pattern.h"

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace velkar::patternrecognition {
namespace {

Pattern MakeSample() {
    Pattern pattern;
    pattern.SetClass(4);
    pattern.SetClassName("forest");
    pattern.SetDescriptors({0.25, -1.5, 3.0});
    pattern.AddMetadata("polygonId", "12");
    pattern.AddMetadata("band", "red");
    return pattern;
}

TEST(Pattern, NewPatternIsEmpty) {
    Pattern pattern;
    EXPECT_EQ(pattern.Class(), 0);
    EXPECT_EQ(pattern.ClassName(), "");
    EXPECT_TRUE(pattern.Descriptors()->empty());
    EXPECT_TRUE(pattern.Metadata()->empty());
}

TEST(Pattern, MetadataKeepsOneValuePerKeyAndLookupsInsertNothing) {
    Pattern pattern;
    pattern.AddMetadata("polygonId", "7");
    pattern.AddMetadata("polygonId", "9");
    EXPECT_EQ(pattern.Metadata()->size(), 1u);
    EXPECT_EQ(pattern.Metadata("polygonId"), "9");

    EXPECT_EQ(pattern.Metadata("never added"), "");
    EXPECT_EQ(pattern.Metadata()->size(), 1u);

    pattern.SetMetadata({{"a", "1"}, {"b", "2"}});
    EXPECT_EQ(*pattern.Metadata(), (std::map<std::string, std::string>{{"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(pattern.Metadata("polygonId"), "");
}

TEST(Pattern, DescriptorsCanBeChangedInPlaceOrReplaced) {
    Pattern pattern = MakeSample();
    (*pattern.Descriptors())[1] = 8.0;
    pattern.Descriptors()->push_back(9.0);
    EXPECT_EQ(*pattern.Descriptors(), (std::vector<double>{0.25, 8.0, 3.0, 9.0}));

    std::vector<double> replacement{1.0};
    pattern.SetDescriptors(replacement);
    replacement[0] = 2.0;
    EXPECT_EQ(*pattern.Descriptors(), std::vector<double>{1.0});
}

TEST(Pattern, CopiesAreIndependentOfTheirSource) {
    Pattern source = MakeSample();

    Pattern copy(source);
    EXPECT_EQ(copy.Class(), 4);
    EXPECT_EQ(copy.ClassName(), "forest");
    EXPECT_EQ(*copy.Descriptors(), (std::vector<double>{0.25, -1.5, 3.0}));
    EXPECT_EQ(copy.Metadata("polygonId"), "12");
    EXPECT_EQ(copy.Metadata("band"), "red");

    (*copy.Descriptors())[0] = 100.0;
    copy.AddMetadata("polygonId", "13");
    copy.SetClass(5);
    copy.SetClassName("water");
    EXPECT_EQ(source.Class(), 4);
    EXPECT_EQ(source.ClassName(), "forest");
    EXPECT_EQ(*source.Descriptors(), (std::vector<double>{0.25, -1.5, 3.0}));
    EXPECT_EQ(source.Metadata("polygonId"), "12");

    Pattern assigned;
    assigned = source;
    assigned.Descriptors()->clear();
    assigned.Metadata()->clear();
    EXPECT_EQ(source.Descriptors()->size(), 3u);
    EXPECT_EQ(source.Metadata()->size(), 2u);
    EXPECT_EQ(assigned.ClassName(), "forest");
    EXPECT_EQ(assigned.Class(), 4);
}

TEST(Pattern, SelfAssignmentKeepsEverything) {
    Pattern pattern = MakeSample();
    Pattern& alias = pattern;
    pattern = alias;
    EXPECT_EQ(pattern.Class(), 4);
    EXPECT_EQ(pattern.ClassName(), "forest");
    EXPECT_EQ(*pattern.Descriptors(), (std::vector<double>{0.25, -1.5, 3.0}));
    EXPECT_EQ(pattern.Metadata()->size(), 2u);
}

}  // namespace
}  // namespace velkar::patternrecognition
