#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "velkar/util/Array.h"
#include "velkar/util/Collection.h"
#include "velkar/util/Json.h"
#include "velkar/util/Map.h"

namespace velkar::util {
namespace {

std::unique_ptr<Collection> Read(const std::string& text) {
    return std::unique_ptr<Collection>(Json().Deserialize(text));
}

Map* AsMap(Collection* node) { return dynamic_cast<Map*>(node); }
Array* AsArray(Collection* node) { return dynamic_cast<Array*>(node); }

// A tree holding every kind of value, nested, with strings that the reader takes back as they
// are: {"b": [...], "empty_array": [], "empty_map": {}, "flag": false, "m": {...}, ...}.
std::unique_ptr<Map> MakeTreeOfEveryKind() {
    auto root = std::make_unique<Map>();
    root->Put("int", new int(-12));
    root->Put("int_max", new int(INT_MAX));
    root->Put("int_min", new int(INT_MIN));
    root->Put("half", new double(0.5));
    root->Put("big", new double(1234567.125));
    root->Put("negative", new double(-3.0));
    root->Put("flag", new bool(false));
    root->Put("text", new std::string("a b, c: d"));
    root->Put("padded", new std::string("  spaced\t"));
    root->Put("empty_map", new Map());
    root->Put("empty_array", new Array());

    auto* inner = new Map();
    inner->Put("name", new std::string("forest"));
    inner->Put("ok", new bool(true));
    inner->Put("nested", new Map());
    auto* numbers = new Array();
    numbers->Add(new int(1));
    numbers->Add(new double(0.25));
    numbers->Add(new bool(true));
    numbers->Add(new std::string("s"));
    numbers->Add(inner);
    auto* pair = new Array();
    pair->Add(new int(3));
    pair->Add(new Array());
    numbers->Add(pair);
    root->Put("list", numbers);
    return root;
}

TEST(JsonTest, WritesEmptyCollections) {
    Map map;
    Array array;
    EXPECT_EQ(Json(false).Serialize(&map), "{}");
    EXPECT_EQ(Json(true).Serialize(&map), "{\n}");
    EXPECT_EQ(Json(false).Serialize(&array), "[]");
    EXPECT_EQ(Json(true).Serialize(&array), "[]");
}

TEST(JsonTest, WritesMembersInKeyOrder) {
    Map map;
    map.Put("b", new int(2));
    map.Put("a", new int(1));
    EXPECT_EQ(Json().Serialize(&map), "{\"a\":1,\"b\":2}");
    EXPECT_EQ(Json(true).Serialize(&map), "{\n\t\"a\": 1,\n\t\"b\": 2\n}");
}

TEST(JsonTest, WritesArraysOnOneLine) {
    Array array;
    array.Add(new int(1));
    array.Add(new double(2.5));
    array.Add(new bool(true));
    array.Add(new std::string("s"));
    EXPECT_EQ(Json(true).Serialize(&array), "[1, 2.5, true, \"s\"]");
    EXPECT_EQ(Json(false).Serialize(&array), "[1,2.5,true,\"s\"]");
}

TEST(JsonTest, WritesNestedCollectionsIndentedByDepth) {
    // {"a": [{"x": 1}]}
    auto* inner = new Map();
    inner->Put("x", new int(1));
    auto* array = new Array();
    array->Add(inner);
    Map root;
    root.Put("a", array);
    EXPECT_EQ(Json(true).Serialize(&root), "{\n\t\"a\": [{\n\t\t\t\"x\": 1\n\t\t}]\n}");
    EXPECT_EQ(Json(false).Serialize(&root), "{\"a\":[{\"x\":1}]}");

    Map withMap;
    auto* child = new Map();
    child->Put("k", new bool(true));
    child->Put("e", new Map());
    withMap.Put("m", child);
    withMap.Put("z", new std::string("x"));
    EXPECT_EQ(Json(true).Serialize(&withMap),
              "{\n\t\"m\": {\n\t\t\"e\": {\n\t\t},\n\t\t\"k\": true\n\t},\n\t\"z\": \"x\"\n}");

    Array arrays;
    auto* pair = new Array();
    pair->Add(new int(1));
    pair->Add(new Array());
    arrays.Add(pair);
    arrays.Add(new Map());
    EXPECT_EQ(Json(true).Serialize(&arrays), "[[1, []], {\n\t}]");
}

TEST(JsonTest, WritesIntsAndTheShortestRealsWithADecimalPoint) {
    Array array;
    array.Add(new int(-12));
    array.Add(new int(0));
    array.Add(new int(INT_MIN));
    array.Add(new double(3.0));
    array.Add(new double(-0.25));
    array.Add(new double(1.0 / 3.0));
    array.Add(new double(2.0 / 3.0));
    array.Add(new double(1e-13));
    array.Add(new double(1e15));
    array.Add(new double(-0.0));
    array.Add(new double(123456.0));
    array.Add(new double(std::numeric_limits<double>::min()));
    EXPECT_EQ(Json().Serialize(&array),
              "[-12,0,-2147483648,3.0,-0.25,0.3333333333333333,0.6666666666666666,1.0e-13,"
              "1.0e+15,-0.0,123456.0,2.2250738585072014e-308]");
}

TEST(JsonTest, WritesStringsAndKeysWithoutEscaping) {
    Map map;
    map.Put("k\"ey", new std::string("a\\b\"c\n"));
    EXPECT_EQ(Json().Serialize(&map), "{\"k\"ey\":\"a\\b\"c\n\"}");
}

TEST(JsonTest, WritesNonFiniteDoublesAsBareWords) {
    Array array;
    array.Add(new double(std::numeric_limits<double>::quiet_NaN()));
    array.Add(new double(-std::numeric_limits<double>::quiet_NaN()));
    array.Add(new double(std::numeric_limits<double>::infinity()));
    array.Add(new double(-std::numeric_limits<double>::infinity()));
    EXPECT_EQ(Json().Serialize(&array), "[nan,nan,inf,-inf]");
}

TEST(JsonTest, WritesNothingForAMissingOrUnknownRoot) {
    class OtherCollection : public Collection {
      public:
        int Size() const override { return 0; }
        Collection* Copy() const override { return new OtherCollection(); }
    };
    OtherCollection other;
    EXPECT_EQ(Json().Serialize(nullptr), "");
    EXPECT_EQ(Json(true).Serialize(&other), "");
}

TEST(JsonTest, ReadsSpacedMembersByTheirNumberRules) {
    std::unique_ptr<Collection> tree = Read("{ \"a\" : 3 , \"b\": 3.0, \"c\": \"x\" }");
    Map* map = AsMap(tree.get());
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->Size(), 3);
    ASSERT_NE(map->GetInt("a"), nullptr);
    EXPECT_EQ(*map->GetInt("a"), 3);
    EXPECT_EQ(map->GetDouble("a"), nullptr);
    ASSERT_NE(map->GetDouble("b"), nullptr);
    EXPECT_EQ(*map->GetDouble("b"), 3.0);
    ASSERT_NE(map->GetString("c"), nullptr);
    EXPECT_EQ(*map->GetString("c"), "x");
}

TEST(JsonTest, ReadsNumbersAsFarAsExtractionGoes) {
    std::unique_ptr<Collection> tree = Read("[1e3, 2.5e1, -12, +7, .5, 12abc, 0x1A, 4.5.6]");
    Array* array = AsArray(tree.get());
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(array->Size(), 8);
    ASSERT_NE(array->GetInt(0), nullptr);
    EXPECT_EQ(*array->GetInt(0), 1);
    ASSERT_NE(array->GetDouble(1), nullptr);
    EXPECT_EQ(*array->GetDouble(1), 25.0);
    EXPECT_EQ(*array->GetInt(2), -12);
    EXPECT_EQ(*array->GetInt(3), 7);
    ASSERT_NE(array->GetDouble(4), nullptr);
    EXPECT_EQ(*array->GetDouble(4), 0.5);
    EXPECT_EQ(*array->GetInt(5), 12);
    EXPECT_EQ(*array->GetInt(6), 0);
    ASSERT_NE(array->GetDouble(7), nullptr);
    EXPECT_EQ(*array->GetDouble(7), 4.5);
}

TEST(JsonTest, DropsNumbersThatCannotBeRead) {
    std::unique_ptr<Collection> tree =
        Read("[abc, -, ., True, 99999999999, -99999999999, 1.0e999, 7]");
    Array* array = AsArray(tree.get());
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(array->Size(), 1);
    ASSERT_NE(array->GetInt(0), nullptr);
    EXPECT_EQ(*array->GetInt(0), 7);

    std::unique_ptr<Collection> member = Read("{\"n\": nope, \"d\": -.x}");
    ASSERT_NE(AsMap(member.get()), nullptr);
    EXPECT_EQ(member->Size(), 0);
}

TEST(JsonTest, ReadsBooleansOnlyFromTheExactWords) {
    std::unique_ptr<Collection> tree = Read("[true, false, \"true\", TRUE]");
    Array* array = AsArray(tree.get());
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(array->Size(), 3);
    EXPECT_TRUE(*array->GetBool(0));
    EXPECT_FALSE(*array->GetBool(1));
    ASSERT_NE(array->GetString(2), nullptr);
    EXPECT_EQ(*array->GetString(2), "true");
}

TEST(JsonTest, ReadsStringsBetweenTheirFirstAndLastCharacter) {
    std::unique_ptr<Collection> tree = Read("[\"a b\" , \" x \", \"\", \"a,b\", \"q\"q\"]");
    Array* array = AsArray(tree.get());
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(array->Size(), 5);
    EXPECT_EQ(*array->GetString(0), "a b");
    EXPECT_EQ(*array->GetString(1), " x ");
    EXPECT_EQ(*array->GetString(2), "");
    EXPECT_EQ(*array->GetString(3), "a,b");  // the comma stands after an odd number of quotes
    EXPECT_EQ(*array->GetString(4), "q\"q");

    std::unique_ptr<Collection> emptyString = Read("{\"s\": \"\"}");
    ASSERT_NE(AsMap(emptyString.get()), nullptr);
    EXPECT_EQ(emptyString->Size(), 0);
}

TEST(JsonTest, BracketsInsideStringsStillCountWhenSplitting) {
    std::unique_ptr<Collection> tree = Read("{\"a\": \"x[y\", \"b\": \"]z\"}");
    Map* map = AsMap(tree.get());
    ASSERT_NE(map, nullptr);
    ASSERT_EQ(map->Size(), 1);
    ASSERT_NE(map->GetString("a"), nullptr);
    EXPECT_EQ(*map->GetString("a"), "x[y\", \"b\": \"]z");
    // Unpaired, the bracket takes the rest of the object into a value that is no string.
    EXPECT_EQ(Read("{\"a\": \"x[y\", \"b\": 1}"), nullptr);
}

TEST(JsonTest, ReadsEmptyAndNonCollectionTexts) {
    std::unique_ptr<Collection> blank = Read("  [ ]  ");
    ASSERT_NE(AsArray(blank.get()), nullptr);
    EXPECT_EQ(blank->Size(), 0);
    std::unique_ptr<Collection> emptyMap = Read("\n{\n}\n");
    ASSERT_NE(AsMap(emptyMap.get()), nullptr);
    EXPECT_EQ(emptyMap->Size(), 0);

    for (const char* text : {"42", "", " \t\r\n ", "\"x\"", "true", "}{", "][", "nan"}) {
        EXPECT_EQ(Read(text), nullptr) << "text: " << text;
    }
}

TEST(JsonTest, ReadsNestedArraysAndMaps) {
    std::unique_ptr<Collection> tree = Read("[[1, 2], {\"k\": [3]}]");
    Array* root = AsArray(tree.get());
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->Size(), 2);
    Array* pair = AsArray(root->GetCollection(0));
    ASSERT_NE(pair, nullptr);
    ASSERT_EQ(pair->Size(), 2);
    EXPECT_EQ(*pair->GetInt(0), 1);
    EXPECT_EQ(*pair->GetInt(1), 2);
    Map* map = AsMap(root->GetCollection(1));
    ASSERT_NE(map, nullptr);
    Array* k = AsArray(map->GetCollection("k"));
    ASSERT_NE(k, nullptr);
    ASSERT_EQ(k->Size(), 1);
    EXPECT_EQ(*k->GetInt(0), 3);
}

TEST(JsonTest, ReadsThePrettyLayout) {
    std::unique_ptr<Collection> tree = Read("{\n\t\"a\": [{\n\t\t\t\"x\": 1\n\t\t}]\n}");
    Map* root = AsMap(tree.get());
    ASSERT_NE(root, nullptr);
    Array* a = AsArray(root->GetCollection("a"));
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->Size(), 1);
    Map* inner = AsMap(a->GetCollection(0));
    ASSERT_NE(inner, nullptr);
    ASSERT_NE(inner->GetInt("x"), nullptr);
    EXPECT_EQ(*inner->GetInt("x"), 1);

    // A model file is read with its line breaks removed but its tabs kept.
    std::unique_ptr<Collection> joined = Read(
        "{\t\"metadata\": {\t\t\"classes\": [\"forest\", \"water\"],\t\t\"window_size\": "
        "5\t}}");
    Map* metadata = AsMap(AsMap(joined.get())->GetCollection("metadata"));
    ASSERT_NE(metadata, nullptr);
    EXPECT_EQ(*metadata->GetInt("window_size"), 5);
    Array* classes = AsArray(metadata->GetCollection("classes"));
    ASSERT_NE(classes, nullptr);
    ASSERT_EQ(classes->Size(), 2);
    EXPECT_EQ(*classes->GetString(1), "water");
}

TEST(JsonTest, LaterDuplicateKeysReplaceEarlierOnes) {
    std::unique_ptr<Collection> tree = Read("{\"a\": 1, \"b\": 2, \"a\": \"x\", \"b\": }");
    Map* map = AsMap(tree.get());
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->Size(), 2);
    EXPECT_EQ(*map->GetString("a"), "x");
    EXPECT_EQ(*map->GetInt("b"), 2);  // an empty value stores nothing, so 2 stays
}

TEST(JsonTest, RoundTripGivesTheSameTextAndTree) {
    std::unique_ptr<Map> tree = MakeTreeOfEveryKind();
    for (bool pretty : {false, true}) {
        Json json(pretty);
        std::string text = json.Serialize(tree.get());
        std::unique_ptr<Collection> reread(json.Deserialize(text));
        ASSERT_NE(reread, nullptr);
        EXPECT_EQ(json.Serialize(reread.get()), text);
        // Reading does not depend on the flag.
        std::unique_ptr<Collection> crossRead(Json(!pretty).Deserialize(text));
        EXPECT_EQ(json.Serialize(crossRead.get()), text);

        Map* map = AsMap(reread.get());
        ASSERT_NE(map, nullptr);
        EXPECT_EQ(*map->GetInt("int_min"), INT_MIN);
        EXPECT_EQ(*map->GetInt("int_max"), INT_MAX);
        EXPECT_EQ(*map->GetDouble("big"), 1234567.125);
        EXPECT_EQ(*map->GetDouble("negative"), -3.0);
        EXPECT_EQ(*map->GetString("text"), "a b, c: d");
        EXPECT_EQ(*map->GetString("padded"), "  spaced\t");
        EXPECT_FALSE(*map->GetBool("flag"));
        Array* list = AsArray(map->GetCollection("list"));
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->Size(), 6);
        EXPECT_EQ(*list->GetDouble(1), 0.25);
        Map* inner = AsMap(list->GetCollection(4));
        ASSERT_NE(inner, nullptr);
        EXPECT_EQ(*inner->GetString("name"), "forest");
        EXPECT_NE(AsMap(inner->GetCollection("nested")), nullptr);
        Array* pair = AsArray(list->GetCollection(5));
        ASSERT_NE(pair, nullptr);
        EXPECT_NE(AsArray(pair->GetCollection(1)), nullptr);
    }
}

TEST(JsonTest, RoundTripDropsEmptyStringsOfMapsOnly) {
    Map map;
    map.Put("third", new double(1.0 / 3.0));
    map.Put("empty", new std::string(""));
    map.Put("kept", new int(1));
    std::unique_ptr<Collection> reread(Json().Deserialize(Json().Serialize(&map)));
    Map* result = AsMap(reread.get());
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(*result->GetDouble("third"), 1.0 / 3.0);
    EXPECT_FALSE(result->Exists("empty"));
    EXPECT_EQ(result->Size(), 2);

    // In an array an empty string keeps its place, so later elements keep their positions.
    std::unique_ptr<Collection> array(Json().Deserialize("[\"a\", \"\", \"c\", \"\"]"));
    ASSERT_NE(AsArray(array.get()), nullptr);
    ASSERT_EQ(AsArray(array.get())->Size(), 4);
    EXPECT_EQ(*AsArray(array.get())->GetString(1), "");
    EXPECT_EQ(*AsArray(array.get())->GetString(2), "c");
}

// Files written with 12 fixed decimals read as they always did.
TEST(JsonTest, ReadsTwelveDecimalRealsAsBefore) {
    std::unique_ptr<Collection> tree =
        Read("[0.333333333333, 0.000000000000, -0.000000000001, 255.000000000000]");
    Array* array = AsArray(tree.get());
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(array->Size(), 4);
    EXPECT_EQ(*array->GetDouble(0), 0.333333333333);
    EXPECT_EQ(*array->GetDouble(1), 0.0);
    EXPECT_EQ(*array->GetDouble(2), -1e-12);
    EXPECT_EQ(*array->GetDouble(3), 255.0);
}

// The fewest significant digits with which "%.*e" reads back to value: an independent measure
// of the shortest form.
int ShortestDigits(double value) {
    for (int digits = 1; digits <= 17; ++digits) {
        char text[64];
        std::snprintf(text, sizeof text, "%.*e", digits - 1, value);
        if (std::strtod(text, nullptr) == value) {
            return digits;
        }
    }
    return 17;
}

int SignificantDigits(const std::string& text) {
    const std::string mantissa = text.substr(0, text.find('e'));
    const std::size_t first = mantissa.find_first_not_of("-0.");
    if (first == std::string::npos) {
        return 1;
    }
    std::size_t last = mantissa.find_last_not_of("0.");
    int digits = 0;
    for (std::size_t i = first; i <= last; ++i) {
        digits += mantissa[i] == '.' ? 0 : 1;
    }
    return digits;
}

// Every finite double, drawn from seeded bit patterns over the whole range (subnormal ones
// included) and from typical model values, comes back as the same double from a JSON number
// (with a decimal point) of no more significant digits than needed.
TEST(JsonTest, RealsReadBackToTheSameDouble) {
    std::mt19937_64 random(77);
    std::uniform_real_distribution<double> modelValue(-3.0, 3.0);
    std::vector<double> values = {std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::lowest(),
                                  std::numeric_limits<double>::min(),
                                  std::numeric_limits<double>::denorm_min(),
                                  0.1,
                                  1e22,
                                  5e-324,
                                  9007199254740993.0};
    while (values.size() < 4000) {
        const double bits = std::bit_cast<double>(random());
        if (std::isfinite(bits)) {
            values.push_back(bits);
        }
        values.push_back(modelValue(random) * std::pow(10.0, -static_cast<int>(random() % 12)));
    }
    static const std::regex jsonNumber(R"(-?(0|[1-9][0-9]*)\.[0-9]+([eE][-+]?[0-9]+)?)");
    Array array;
    for (double value : values) {
        array.Add(new double(value));
    }
    const std::string text = Json().Serialize(&array);
    std::unique_ptr<Collection> reread = Read(text);
    ASSERT_NE(AsArray(reread.get()), nullptr);
    ASSERT_EQ(reread->Size(), static_cast<int>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
        Array single;
        single.Add(new double(values[i]));
        const std::string written = Json().Serialize(&single);
        const std::string number = written.substr(1, written.size() - 2);
        EXPECT_TRUE(std::regex_match(number, jsonNumber)) << number;
        // A whole number written without exponent spells out every integer digit.
        const bool wholeNumber = number.find('e') == std::string::npos &&
                                 number.compare(number.size() - 2, 2, ".0") == 0;
        if (!wholeNumber) {
            EXPECT_EQ(SignificantDigits(number), ShortestDigits(values[i])) << number;
        }
        const double* back = AsArray(reread.get())->GetDouble(static_cast<int>(i));
        ASSERT_NE(back, nullptr) << number;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(*back), std::bit_cast<std::uint64_t>(values[i]))
            << number;
    }
}

TEST(JsonTest, NonFiniteDoublesComeBackNonFinite) {
    Map map;
    map.Put("nan", new double(std::numeric_limits<double>::quiet_NaN()));
    map.Put("inf", new double(std::numeric_limits<double>::infinity()));
    map.Put("minus_inf", new double(-std::numeric_limits<double>::infinity()));
    for (bool pretty : {false, true}) {
        std::unique_ptr<Collection> reread(Json().Deserialize(Json(pretty).Serialize(&map)));
        Map* result = AsMap(reread.get());
        ASSERT_NE(result, nullptr);
        ASSERT_NE(result->GetDouble("nan"), nullptr);
        EXPECT_TRUE(std::isnan(*result->GetDouble("nan")));
        ASSERT_NE(result->GetDouble("inf"), nullptr);
        EXPECT_EQ(*result->GetDouble("inf"), std::numeric_limits<double>::infinity());
        ASSERT_NE(result->GetDouble("minus_inf"), nullptr);
        EXPECT_EQ(*result->GetDouble("minus_inf"), -std::numeric_limits<double>::infinity());
    }
    // Only the exact words are taken; others are unreadable numbers.
    std::unique_ptr<Collection> words = Read("[NaN, -nan, +inf, infinity, \"nan\"]");
    ASSERT_NE(words, nullptr);
    ASSERT_EQ(words->Size(), 1);
    EXPECT_NE(AsArray(words.get())->GetString(0), nullptr);
}

int DepthOf(Collection* node) {
    int depth = 0;
    while (node != nullptr) {
        ++depth;
        if (Array* array = AsArray(node)) {
            node = array->GetCollection(0);
        } else {
            node = AsMap(node)->GetCollection("a");
        }
    }
    return depth;
}

TEST(JsonTest, LimitsTheNestingDepth) {
    auto arrays = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    auto maps = [](int depth) {
        std::string text;
        for (int i = 1; i < depth; ++i) {
            text += "{\"a\":";
        }
        return text + "{}" + std::string(depth - 1, '}');
    };
    std::unique_ptr<Collection> deepest = Read(arrays(Json::MaxDepth));
    ASSERT_NE(deepest, nullptr);
    EXPECT_EQ(DepthOf(deepest.get()), Json::MaxDepth);
    std::unique_ptr<Collection> deepestMap = Read(maps(Json::MaxDepth));
    ASSERT_NE(deepestMap, nullptr);
    EXPECT_EQ(DepthOf(deepestMap.get()), Json::MaxDepth);

    // What the reader accepts, the writer's text of it is accepted again.
    EXPECT_EQ(Json(true).Serialize(std::unique_ptr<Collection>(
                                       Json().Deserialize(Json(true).Serialize(deepest.get())))
                                       .get()),
              Json(true).Serialize(deepest.get()));

    EXPECT_EQ(Read(arrays(Json::MaxDepth + 1)), nullptr);
    EXPECT_EQ(Read(maps(Json::MaxDepth + 1)), nullptr);
    EXPECT_EQ(Read("{\"ok\": 1, \"deep\": " + arrays(Json::MaxDepth) + "}"), nullptr);
    EXPECT_EQ(Read(std::string(200000, '[')), nullptr);
    std::string members;
    for (int i = 0; i < 100000; ++i) {
        members += "{\"a\":";
    }
    EXPECT_EQ(Read(members), nullptr);
    // Braces alone hold no member (no colon), so nothing below the root is read.
    std::unique_ptr<Collection> braces = Read(std::string(100000, '{') + std::string(100000, '}'));
    ASSERT_NE(AsMap(braces.get()), nullptr);
    EXPECT_EQ(braces->Size(), 0);
}

TEST(JsonTest, MalformedTextGivesWhatTheRulesYield) {
    // Without a colon the object's reading stops.
    std::unique_ptr<Collection> noColon = Read("{\"a\": 1, \"b\" 2}");
    ASSERT_NE(AsMap(noColon.get()), nullptr);
    EXPECT_EQ(noColon->Size(), 1);
    EXPECT_EQ(*AsMap(noColon.get())->GetInt("a"), 1);

    std::unique_ptr<Collection> trailing = Read("{\"a\": [1, 2,], \"b\": 3,}");
    Map* map = AsMap(trailing.get());
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->Size(), 2);
    ASSERT_NE(AsArray(map->GetCollection("a")), nullptr);
    EXPECT_EQ(map->GetCollection("a")->Size(), 2);
    EXPECT_EQ(*map->GetInt("b"), 3);

    std::unique_ptr<Collection> shortKeys = Read("{:1, \"\": 2, x: 3, \"k\": 4}");
    Map* keys = AsMap(shortKeys.get());
    ASSERT_NE(keys, nullptr);
    EXPECT_EQ(keys->Size(), 2);
    EXPECT_EQ(*keys->GetInt(""), 2);
    EXPECT_EQ(*keys->GetInt("k"), 4);
}

// Every text cut short of its end is refused, wherever the cut falls: also just after a closing
// brace or bracket of a nested collection or of a string, which leaves the outer text looking
// closed. Whole texts read.
TEST(JsonTest, TextCutShortIsRejected) {
    auto root = MakeTreeOfEveryKind();
    auto* strings = new Array();
    strings->Add(new std::string("{a}"));
    strings->Add(new std::string("[b]"));
    root->Put("closing_inside_strings", strings);
    for (bool pretty : {false, true}) {
        const std::string text = Json(pretty).Serialize(root.get());
        ASSERT_NE(Read(text), nullptr);
        for (std::size_t length = 0; length < text.size(); ++length) {
            EXPECT_EQ(Read(text.substr(0, length)), nullptr) << text.substr(0, length);
        }
    }
    for (const std::string text : {"{", "[", "{\"a\": \"x}", "[\"abc]", "[\"]", "{\"a\": 1} x"}) {
        EXPECT_EQ(Read(text), nullptr) << text;
    }
}

TEST(JsonTest, SurvivesArbitraryMalformedText) {
    const std::vector<std::string> texts = {"{\"a\"",
                                            "{\"a\":",
                                            "{\"a\":}",
                                            "[,,,]",
                                            "{,,,}",
                                            "[\"]",
                                            "{\"}",
                                            "[\"\"\"]",
                                            "{\"a\": \"x\"y\", \"b\": 1}",
                                            "[}",
                                            "{]",
                                            "[{]}",
                                            "{[}]",
                                            "[[[]",
                                            "{:::}",
                                            "[\"a\" \"b\" 1 2]",
                                            "{\"a\":1 \"b\":2}",
                                            "[1 2, 3 4]",
                                            std::string("[\0, 1]", 6),
                                            "[\xff\xfe, \x80]",
                                            "{\"\xc3\xa9\": \"\xc3\xa9\"}",
                                            "[-]",
                                            "[+]",
                                            "[e5]",
                                            "[.e5]"};
    for (const std::string& text : texts) {
        for (bool pretty : {false, true}) {
            Json json(pretty);
            std::unique_ptr<Collection> tree(json.Deserialize(text));
            if (tree == nullptr) {
                continue;
            }
            std::string written = json.Serialize(tree.get());
            std::unique_ptr<Collection> reread(json.Deserialize(written));
            EXPECT_NE(reread, nullptr) << "written: " << written;
        }
    }
}

TEST(JsonTest, ReadsLongInputs) {
    const int count = 100000;
    std::string text = "[";
    for (int i = 0; i < count; ++i) {
        text += std::to_string(i) + (i + 1 < count ? ", " : "");
    }
    text += "]";
    std::unique_ptr<Collection> tree = Read(text);
    Array* array = AsArray(tree.get());
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(array->Size(), count);
    EXPECT_EQ(*array->GetInt(count - 1), count - 1);
    EXPECT_EQ(Json(true).Serialize(array), text);

    // One long string with an unpaired bracket: a single piece, read once.
    std::unique_ptr<Collection> quoted = Read("[\"[" + std::string(500000, 'q') + ",\"]");
    ASSERT_NE(quoted, nullptr);
    ASSERT_EQ(quoted->Size(), 1);
    EXPECT_EQ(AsArray(quoted.get())->GetString(0)->size(), 500002u);
}

}  // namespace
}  // namespace velkar::util
