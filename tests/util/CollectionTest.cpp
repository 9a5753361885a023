#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "velkar/util/Array.h"
#include "velkar/util/Collection.h"
#include "velkar/util/Map.h"

namespace velkar::util {
namespace {

// A leaf collection that counts its destructions, to see which nodes a tree frees and when.
class DestructionProbe : public Collection {
  public:
    explicit DestructionProbe(int* destroyed) : destroyed(destroyed) {}
    ~DestructionProbe() override { ++*destroyed; }
    int Size() const override { return 0; }
    Collection* Copy() const override { return new DestructionProbe(destroyed); }

  private:
    int* destroyed;
};

std::vector<std::string> KeysOf(const Map& map) {
    std::vector<std::string> keys;
    for (const auto& entry : map.Items()) {
        keys.push_back(entry.first);
    }
    return keys;
}

// {"list": [7, {"name": "inner"}], "ratio": 0.5}
std::unique_ptr<Map> MakeNestedMap() {
    auto inner = new Map();
    inner->Put("name", new std::string("inner"));
    auto list = new Array();
    list->Add(new int(7));
    list->Add(inner);
    auto root = std::make_unique<Map>();
    root->Put("list", list);
    root->Put("ratio", new double(0.5));
    return root;
}

TEST(ArrayTest, EveryKindIsReadBackOnlyAsItsOwnKind) {
    Array array;
    array.Add(new int(-3));
    array.Add(new double(2.5));
    array.Add(new bool(true));
    array.Add(new std::string("text"));
    array.Add(new Array());
    ASSERT_EQ(array.Size(), 5);

    ASSERT_NE(array.GetInt(0), nullptr);
    EXPECT_EQ(*array.GetInt(0), -3);
    ASSERT_NE(array.GetDouble(1), nullptr);
    EXPECT_EQ(*array.GetDouble(1), 2.5);
    ASSERT_NE(array.GetBool(2), nullptr);
    EXPECT_TRUE(*array.GetBool(2));
    ASSERT_NE(array.GetString(3), nullptr);
    EXPECT_EQ(*array.GetString(3), "text");
    ASSERT_NE(array.GetCollection(4), nullptr);
    EXPECT_NE(dynamic_cast<Array*>(array.GetCollection(4)), nullptr);

    EXPECT_EQ(array.GetDouble(0), nullptr);
    EXPECT_EQ(array.GetInt(1), nullptr);
    EXPECT_EQ(array.GetInt(2), nullptr);
    EXPECT_EQ(array.GetBool(3), nullptr);
    EXPECT_EQ(array.GetString(4), nullptr);
    EXPECT_EQ(array.GetCollection(0), nullptr);
}

TEST(ArrayTest, InvalidIndicesGiveNull) {
    Array empty;
    EXPECT_EQ(empty.GetInt(0), nullptr);
    EXPECT_EQ(empty.GetInt(-1), nullptr);

    Array array;
    array.Add(new int(1));
    array.Add(new int(2));
    EXPECT_EQ(array.GetInt(-1), nullptr);
    EXPECT_EQ(array.GetInt(array.Size()), nullptr);
    EXPECT_EQ(array.GetInt(INT_MIN), nullptr);
    EXPECT_EQ(array.GetInt(INT_MAX), nullptr);
    EXPECT_EQ(array.GetCollection(-1), nullptr);
    ASSERT_NE(array.GetInt(1), nullptr);
    EXPECT_EQ(*array.GetInt(1), 2);
}

TEST(ArrayTest, KeepsInsertionOrderAndGettersPointIntoTheArray) {
    Array array;
    for (int i = 0; i < 5; ++i) {
        array.Add(new int(10 * i));
    }
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(*array.GetInt(i), 10 * i);
    }
    // A getter's pointer is the stored value itself: writes through it are seen by later
    // reads, and it stays valid while the array grows.
    int* stored = array.GetInt(2);
    *stored = 99;
    for (int i = 0; i < 100; ++i) {
        array.Add(new int(i));
    }
    EXPECT_EQ(array.GetInt(2), stored);
    EXPECT_EQ(*array.GetInt(2), 99);
}

TEST(ArrayTest, NullValueIsRejectedAndChangesNothing) {
    Array array;
    array.Add(new int(1));
    EXPECT_THROW(array.Add(static_cast<int*>(nullptr)), std::invalid_argument);
    EXPECT_THROW(array.Add(static_cast<std::string*>(nullptr)), std::invalid_argument);
    EXPECT_THROW(array.Add(static_cast<Collection*>(nullptr)), std::invalid_argument);
    EXPECT_EQ(array.Size(), 1);
}

TEST(ArrayTest, CopiesAreDeepAndShareNothing) {
    int destroyed = 0;
    Array source;
    source.Add(new std::string("a"));
    source.Add(MakeNestedMap().release());
    source.Add(new DestructionProbe(&destroyed));

    std::unique_ptr<Collection> copied(source.Copy());
    auto* copy = dynamic_cast<Array*>(copied.get());
    ASSERT_NE(copy, nullptr);
    ASSERT_EQ(copy->Size(), 3);
    EXPECT_NE(copy->GetString(0), source.GetString(0));
    EXPECT_NE(copy->GetCollection(2), source.GetCollection(2));

    *copy->GetString(0) = "changed";
    auto* copiedMap = dynamic_cast<Map*>(copy->GetCollection(1));
    ASSERT_NE(copiedMap, nullptr);
    *copiedMap->GetDouble("ratio") = 9.0;
    auto* copiedList = dynamic_cast<Array*>(copiedMap->GetCollection("list"));
    ASSERT_NE(copiedList, nullptr);
    *dynamic_cast<Map*>(copiedList->GetCollection(1))->GetString("name") = "changed";

    EXPECT_EQ(*source.GetString(0), "a");
    auto* sourceMap = dynamic_cast<Map*>(source.GetCollection(1));
    EXPECT_EQ(*sourceMap->GetDouble("ratio"), 0.5);
    auto* sourceList = dynamic_cast<Array*>(sourceMap->GetCollection("list"));
    EXPECT_EQ(*dynamic_cast<Map*>(sourceList->GetCollection(1))->GetString("name"), "inner");

    copied.reset();
    EXPECT_EQ(destroyed, 1);  // the copy's probe only

    Array constructed(source);
    ASSERT_EQ(constructed.Size(), 3);
    EXPECT_NE(constructed.GetCollection(1), source.GetCollection(1));
    EXPECT_EQ(*constructed.GetString(0), "a");
}

TEST(ArrayTest, AssignmentReplacesContentAndFreesTheOldValues) {
    int destroyed = 0;
    Array target;
    target.Add(new DestructionProbe(&destroyed));
    target.Add(new int(1));

    Array source;
    source.Add(new std::string("x"));
    target = source;
    EXPECT_EQ(destroyed, 1);
    ASSERT_EQ(target.Size(), 1);
    EXPECT_EQ(*target.GetString(0), "x");
    EXPECT_NE(target.GetString(0), source.GetString(0));

    Array& alias = target;
    target = alias;
    ASSERT_EQ(target.Size(), 1);
    EXPECT_EQ(*target.GetString(0), "x");
}

TEST(MapTest, ValuesAreFoundOnlyUnderTheirKeyAndKind) {
    Map map;
    map.Put("a", new int(1));
    ASSERT_NE(map.GetInt("a"), nullptr);
    EXPECT_EQ(*map.GetInt("a"), 1);
    EXPECT_EQ(map.GetDouble("a"), nullptr);
    EXPECT_EQ(map.GetString("a"), nullptr);
    EXPECT_EQ(map.GetCollection("a"), nullptr);
    EXPECT_TRUE(map.Exists("a"));
    EXPECT_FALSE(map.Exists("b"));
    EXPECT_FALSE(map.Exists("A"));

    map.Put("d", new double(-0.25));
    map.Put("f", new bool(false));
    map.Put("s", new std::string(""));
    map.Put("m", new Map());
    EXPECT_EQ(*map.GetDouble("d"), -0.25);
    EXPECT_FALSE(*map.GetBool("f"));
    EXPECT_EQ(*map.GetString("s"), "");
    EXPECT_NE(dynamic_cast<Map*>(map.GetCollection("m")), nullptr);
    EXPECT_EQ(map.Size(), 5);
}

TEST(MapTest, LookupsNeverInsert) {
    Map map;
    EXPECT_EQ(map.GetInt("missing"), nullptr);
    EXPECT_EQ(map.GetCollection("missing"), nullptr);
    EXPECT_FALSE(map.Exists("missing"));
    EXPECT_EQ(map.Size(), 0);
}

TEST(MapTest, PutReplacesAValueOfAnyKindAndFreesIt) {
    int destroyed = 0;
    Map map;
    map.Put("a", new int(1));
    map.Put("a", new std::string("x"));
    EXPECT_EQ(map.Size(), 1);
    EXPECT_EQ(map.GetInt("a"), nullptr);
    ASSERT_NE(map.GetString("a"), nullptr);
    EXPECT_EQ(*map.GetString("a"), "x");

    map.Put("p", new DestructionProbe(&destroyed));
    map.Put("p", new double(1.5));
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(*map.GetDouble("p"), 1.5);
    EXPECT_EQ(map.Size(), 2);
}

TEST(MapTest, NullValueIsRejectedAndKeepsTheOldValue) {
    Map map;
    map.Put("a", new int(1));
    EXPECT_THROW(map.Put("a", static_cast<int*>(nullptr)), std::invalid_argument);
    EXPECT_THROW(map.Put("b", static_cast<Collection*>(nullptr)), std::invalid_argument);
    EXPECT_EQ(map.Size(), 1);
    ASSERT_NE(map.GetInt("a"), nullptr);
    EXPECT_EQ(*map.GetInt("a"), 1);
}

TEST(MapTest, KeysAreVisitedInByteOrder) {
    Map map;
    map.Put("b", new int(1));
    map.Put("a", new int(2));
    map.Put("B", new int(3));
    EXPECT_EQ(KeysOf(map), (std::vector<std::string>{"B", "a", "b"}));

    Map more;
    for (const char* key : {"window_size", "classes", "_x", "Z", "a b", "", "colors"}) {
        more.Put(key, new bool(true));
    }
    EXPECT_EQ(KeysOf(more),
              (std::vector<std::string>{"", "Z", "_x", "a b", "classes", "colors", "window_size"}));
}

TEST(MapTest, CopiesAreDeepAndShareNothing) {
    std::unique_ptr<Map> source = MakeNestedMap();
    std::unique_ptr<Collection> copied(source->Copy());
    auto* copy = dynamic_cast<Map*>(copied.get());
    ASSERT_NE(copy, nullptr);

    auto* copiedList = dynamic_cast<Array*>(copy->GetCollection("list"));
    ASSERT_NE(copiedList, nullptr);
    auto* copiedInner = dynamic_cast<Map*>(copiedList->GetCollection(1));
    ASSERT_NE(copiedInner, nullptr);
    *copiedInner->GetString("name") = "changed";
    *copiedList->GetInt(0) = 8;
    copiedInner->Put("extra", new int(1));
    copy->Put("ratio", new int(0));

    auto* sourceList = dynamic_cast<Array*>(source->GetCollection("list"));
    auto* sourceInner = dynamic_cast<Map*>(sourceList->GetCollection(1));
    EXPECT_EQ(*sourceInner->GetString("name"), "inner");
    EXPECT_FALSE(sourceInner->Exists("extra"));
    EXPECT_EQ(*sourceList->GetInt(0), 7);
    ASSERT_NE(source->GetDouble("ratio"), nullptr);
    EXPECT_EQ(*source->GetDouble("ratio"), 0.5);

    Map constructed(*source);
    EXPECT_EQ(KeysOf(constructed), KeysOf(*source));
    EXPECT_NE(constructed.GetCollection("list"), source->GetCollection("list"));
}

TEST(MapTest, AssignmentReplacesContentAndFreesTheOldValues) {
    int destroyed = 0;
    Map target;
    target.Put("old", new DestructionProbe(&destroyed));
    target.Put("kept?", new int(1));
    std::unique_ptr<Map> source = MakeNestedMap();

    target = *source;
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(KeysOf(target), (std::vector<std::string>{"list", "ratio"}));
    EXPECT_NE(target.GetCollection("list"), source->GetCollection("list"));

    source.reset();  // the assigned copy must not depend on the source
    auto* list = dynamic_cast<Array*>(target.GetCollection("list"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(*list->GetInt(0), 7);

    Map& alias = target;
    target = alias;
    EXPECT_EQ(KeysOf(target), (std::vector<std::string>{"list", "ratio"}));
    EXPECT_EQ(*target.GetDouble("ratio"), 0.5);
}

TEST(MapTest, DeletingTheRootFreesEveryNestedNode) {
    int destroyed = 0;
    auto* root = new Map();
    auto* array = new Array();
    auto* inner = new Map();
    inner->Put("probe", new DestructionProbe(&destroyed));
    inner->Put("text", new std::string("freed with the tree"));
    array->Add(new DestructionProbe(&destroyed));
    array->Add(inner);
    array->Add(new Array());
    root->Put("array", array);
    root->Put("probe", new DestructionProbe(&destroyed));
    root->Put("number", new double(1.0));

    std::unique_ptr<Collection> copy(root->Copy());
    delete root;
    EXPECT_EQ(destroyed, 3);
    copy.reset();
    EXPECT_EQ(destroyed, 6);
    // The strings, numbers and nodes themselves are checked by the leak checker of sanitizer
    // builds.
}

}  // namespace
}  // namespace velkar::util
