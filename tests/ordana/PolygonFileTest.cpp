#include "ordana/PolygonFile.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"
#include "ordana/InputError.h"

namespace {

using ordanatest::LabelledPolygon;
using ordanatest::Rectangle;
using ordanatest::Vertices;
using ordanatest::WriteText;
using velkar::ordana::InputError;
using velkar::ordana::kMaxPolygonFileLine;
using velkar::ordana::kMaxPolygonVertices;
using velkar::ordana::PolygonFileContent;
using velkar::ordana::ReadPolygonFile;

Vertices VerticesOf(const velkar::math::Polygon& polygon) {
    Vertices vertices;
    for (auto vertex = polygon.Begin(); vertex != polygon.End(); ++vertex) {
        vertices.emplace_back(vertex->x(), vertex->y());
    }
    return vertices;
}

class PolygonFileTest : public testing::Test {
  protected:
    // Writes text to a file of the folder and reads it.
    PolygonFileContent Read(const std::string& text, bool requireKnownLabels = true) {
        WriteText(Path(), text);
        return ReadPolygonFile(Path(), requireKnownLabels);
    }

    // The message of the InputError that reading text raises, or "" when it reads.
    std::string Rejection(const std::string& text, bool requireKnownLabels = true) {
        try {
            Read(text, requireKnownLabels);
        } catch (const InputError& error) {
            return error.what();
        }
        return "";
    }

    std::string Path() const { return (folder / "plot.cct").string(); }

    ordanatest::TemporaryFolder folder;
};

const std::string kTwoPolygons =
    "scene.png\n"
    "2\n"
    "water\n"
    "forest\n"
    "2\n"
    "#0000ff\n"
    "#00ff00\n"
    "2\n"
    "forest\n"
    "water\n"
    "2\n"
    "4\n"
    "0 0\n"
    "0 9\n"
    "9 9\n"
    "9 0\n"
    "3\n"
    "20 5\n"
    "30 15\n"
    "25 20\n";

TEST_F(PolygonFileTest, ReadsClassesColoursLabelsAndVertices) {
    const PolygonFileContent content = Read(kTwoPolygons);
    EXPECT_EQ(content.classes, (std::vector<std::string>{"water", "forest"}));
    EXPECT_EQ(content.colors, (std::vector<std::string>{"#0000ff", "#00ff00"}));
    ASSERT_EQ(content.polygons.size(), 2u);
    EXPECT_EQ(content.polygons[0]->Id(), 0);
    EXPECT_EQ(content.polygons[0]->Class(), "forest");
    EXPECT_EQ(VerticesOf(*content.polygons[0]), Rectangle(0, 0, 9, 9));
    EXPECT_EQ(content.polygons[1]->Id(), 1);
    EXPECT_EQ(content.polygons[1]->Class(), "water");
    EXPECT_EQ(VerticesOf(*content.polygons[1]), (Vertices{{20, 5}, {30, 15}, {25, 20}}));
}

TEST_F(PolygonFileTest, WriterHelperAndReaderAgree) {
    const std::vector<LabelledPolygon> polygons = {
        {"b", Rectangle(1, 2, 3, 4)}, {"a", {{-5, 7}, {100000, -3}, {0, 0}}}};
    const PolygonFileContent content = Read(
        ordanatest::PolygonFileText({"a", "b"}, {"red", "blue green"}, polygons, "title words"));
    EXPECT_EQ(content.colors, (std::vector<std::string>{"red", "blue green"}));
    ASSERT_EQ(content.polygons.size(), polygons.size());
    for (std::size_t i = 0; i < polygons.size(); ++i) {
        EXPECT_EQ(content.polygons[i]->Id(), static_cast<int>(i));
        EXPECT_EQ(content.polygons[i]->Class(), polygons[i].label);
        EXPECT_EQ(VerticesOf(*content.polygons[i]), polygons[i].vertices);
    }
}

TEST_F(PolygonFileTest, ColourCountLineIsIgnored) {
    // Three classes and a colour count of 5: exactly three colour lines follow.
    const PolygonFileContent content = Read("t\n3\na\nb\nc\n5\nc1\nc2\nc3\n1\nb\n1\n3\n1 1\n2 2\n3 1\n");
    EXPECT_EQ(content.colors, (std::vector<std::string>{"c1", "c2", "c3"}));
    ASSERT_EQ(content.polygons.size(), 1u);
    EXPECT_EQ(content.polygons[0]->Class(), "b");
    // A colour count that is not a number does not matter either.
    EXPECT_EQ(Read("t\n1\na\ncolours\nc1\n0\n0\n").colors, (std::vector<std::string>{"c1"}));
}

TEST_F(PolygonFileTest, ColourCountOtherThanTheClassCountIsNamedInAWarning) {
    // The colour count line of a file of two classes, and the warning it gives ("" for none).
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"2", ""},
        {" 2 colours", ""},
        {"3", "line 5: the colour count '3' is not the class count 2"},
        {"0", "line 5: the colour count '0' is not the class count 2"},
        {"colours", "line 5: the colour count 'colours' is not the class count 2"},
    };
    for (const auto& [countLine, warning] : cases) {
        const PolygonFileContent content =
            Read("t\n2\na\nb\n" + countLine + "\nc1\nc2\n1\na\n1\n3\n1 1\n2 2\n3 1\n");
        EXPECT_EQ(content.colors, (std::vector<std::string>{"c1", "c2"})) << countLine;
        if (warning.empty()) {
            EXPECT_TRUE(content.warnings.empty()) << countLine;
            continue;
        }
        ASSERT_EQ(content.warnings.size(), 1u) << countLine;
        EXPECT_NE(content.warnings[0].find(warning), std::string::npos) << content.warnings[0];
        EXPECT_NE(content.warnings[0].find("plot.cct"), std::string::npos) << content.warnings[0];
    }
}

TEST_F(PolygonFileTest, CountLinesAllowBlanksAndTrailingText) {
    const PolygonFileContent content =
        Read("t\n  1 class\na\n1\nc\n\t1 label\na\n 1 polygon\n 3 vertices\n 3   4 \n5 6\n7 8\n");
    ASSERT_EQ(content.polygons.size(), 1u);
    EXPECT_EQ(VerticesOf(*content.polygons[0]), (Vertices{{3, 4}, {5, 6}, {7, 8}}));
}

TEST_F(PolygonFileTest, WindowsLineEndsAreAccepted) {
    std::string text = kTwoPolygons;
    std::string crlf;
    for (char c : text) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    const PolygonFileContent content = Read(crlf);
    EXPECT_EQ(content.classes, (std::vector<std::string>{"water", "forest"}));
    EXPECT_EQ(content.polygons[1]->Class(), "water");
    EXPECT_EQ(VerticesOf(*content.polygons[1]), (Vertices{{20, 5}, {30, 15}, {25, 20}}));
}

TEST_F(PolygonFileTest, NoClassesAndNoPolygonsRead) {
    // No classes and no polygons at all; blank lines may follow.
    const PolygonFileContent empty = Read("t\n0\n0\n0\n0\n\n  \n");
    EXPECT_TRUE(empty.classes.empty());
    EXPECT_TRUE(empty.polygons.empty());
}

TEST_F(PolygonFileTest, VertexLimitIsAThousand) {
    auto text = [](int vertexCount) {
        std::string body = "t\n1\na\n1\nc\n1\na\n1\n" + std::to_string(vertexCount) + "\n";
        for (int k = 0; k < vertexCount; ++k) {
            body += std::to_string(k) + " " + std::to_string(k % 7) + "\n";
        }
        return body;
    };
    const PolygonFileContent content = Read(text(kMaxPolygonVertices));
    ASSERT_EQ(content.polygons.size(), 1u);
    EXPECT_EQ(content.polygons[0]->Size(), 1000);

    const std::string message = Rejection(text(kMaxPolygonVertices + 1));
    EXPECT_NE(message.find("line 9"), std::string::npos) << message;
    EXPECT_NE(message.find("1001"), std::string::npos) << message;
}

TEST_F(PolygonFileTest, RejectionsNameFileAndLine) {
    struct Case {
        std::string text;
        std::string line;
    };
    const std::vector<Case> cases = {
        // Class count without a number, negative, or a label count that is a word.
        {"t\nmany\n", "line 2"},
        {"t\n-1\n", "line 2"},
        {"t\n1\na\n1\nc\nx\n", "line 6"},
        // Fewer or more labels than polygons.
        {"t\n1\na\n1\nc\n1\na\n2\n0\n0\n", "line 8"},
        {"t\n1\na\n1\nc\n3\na\na\na\n2\n3\n0 0\n1 0\n1 1\n", "line 10"},
        // A class listed twice would merge two classes.
        {"t\n3\na\nb\na\n", "line 5"},
        // Polygons of fewer than three vertices.
        {"t\n1\na\n1\nc\n1\na\n1\n0\n", "line 9"},
        {"t\n1\na\n1\nc\n1\na\n1\n2\n0 0\n1 1\n", "line 9"},
        // Text after the last polygon announced: a polygon the count leaves out.
        {"t\n1\na\n1\nc\n1\na\n1\n3\n0 0\n1 0\n1 1\n\n3\n", "line 14"},
        // A label not in the class list.
        {"t\n2\na\nb\n2\nc\nd\n2\na\nc\n2\n0\n0\n", "line 10"},
        // Vertex lines with one number, words, or nothing.
        {"t\n1\na\n1\nc\n1\na\n1\n3\n1 2\n3\n", "line 11"},
        {"t\n1\na\n1\nc\n1\na\n1\n3\nx y\n", "line 10"},
        {"t\n1\na\n1\nc\n1\na\n1\n3\n\n", "line 10"},
        // A vertex count that is not a number.
        {"t\n1\na\n1\nc\n1\na\n1\nfour\n", "line 9"},
        // Class names travel as single words.
        {"t\n1\nopen water\n1\nc\n0\n0\n", "line 3"},
        {"t\n1\n\n1\nc\n0\n0\n", "line 3"},
        // Lines longer than the limit, wherever they are, even without a line end.
        {std::string(kMaxPolygonFileLine + 1, 't') + "\n1\n", "line 1"},
        {"t\n1\na\n1\n" + std::string(kMaxPolygonFileLine + 1, 'c') + "\n0\n0\n", "line 5"},
        {"t\n1\na\n1\nc\n1\na\n1\n3\n" + std::string(kMaxPolygonFileLine * 2, '7'), "line 10"},
    };
    for (const Case& bad : cases) {
        const std::string message = Rejection(bad.text);
        EXPECT_NE(message.find("'" + Path() + "'"), std::string::npos) << bad.text << message;
        EXPECT_NE(message.find(bad.line + ":"), std::string::npos) << bad.text << message;
    }
}

// A line of exactly the limit reads, also when a "\r\n" ends it.
TEST_F(PolygonFileTest, LinesUpToTheLimitRead) {
    const std::string longest(kMaxPolygonFileLine, 'w');
    const PolygonFileContent content =
        Read(longest + "\n1\n" + longest + "\n1\n" + longest + "\r\n0\n0");
    EXPECT_EQ(content.classes, (std::vector<std::string>{longest}));
    EXPECT_EQ(content.colors, (std::vector<std::string>{longest}));
}

TEST_F(PolygonFileTest, UnknownLabelsAreAcceptedWhenNotRequired) {
    // The classification run labels its windows "unknown", which is no class.
    const std::string text =
        "t\n1\na\n1\nc\n2\nunknown\nunknown\n2\n3\n0 0\n1 0\n1 1\n3\n0 0\n1 0\n1 1\n";
    EXPECT_NE(Rejection(text, true), "");
    const PolygonFileContent content = Read(text, false);
    ASSERT_EQ(content.polygons.size(), 2u);
    EXPECT_EQ(content.polygons[1]->Class(), "unknown");
}

TEST_F(PolygonFileTest, EveryTruncationIsRejected) {
    // Cutting a well-formed file after any of its lines leaves announced items missing.
    std::string prefix;
    int lines = 0;
    for (std::size_t i = 0; i + 1 < kTwoPolygons.size(); ++i) {
        prefix += kTwoPolygons[i];
        if (kTwoPolygons[i] != '\n') {
            continue;
        }
        ++lines;
        const std::string message = Rejection(prefix);
        EXPECT_NE(message.find("ends at line " + std::to_string(lines)), std::string::npos)
            << "cut after line " << lines << ": " << message;
    }
    EXPECT_EQ(lines, 19);
    EXPECT_NE(Rejection("").find("ends at line 0"), std::string::npos);
}

TEST_F(PolygonFileTest, MissingFileIsNamed) {
    const std::string path = (folder / "absent.cct").string();
    try {
        ReadPolygonFile(path, true);
        FAIL() << "no error for a missing file";
    } catch (const InputError& error) {
        EXPECT_NE(std::string(error.what()).find("'" + path + "'"), std::string::npos);
    }
    // A directory cannot be read as a polygon file either.
    EXPECT_THROW(ReadPolygonFile(folder.Path().string(), true), InputError);
}

}  // namespace
