#include "ordana/PolygonFile.h"

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>

#include "ordana/EchoedInput.h"
#include "ordana/InputError.h"
#include "velkar/util/Array.h"
#include "velkar/util/Json.h"

namespace velkar::ordana {

namespace {

class LineReader {
  public:
    explicit LineReader(const std::string& path) : path(path), in(OpenInputFile("polygon", path)) {}

    // The next line without its end; a line longer than kMaxPolygonFileLine is refused before
    // more of it is held.
    std::string Next(const std::string& what) {
        std::string line;
        std::streambuf& buffer = *in.rdbuf();
        bool ended = false;
        for (auto c = buffer.sbumpc(); c != std::char_traits<char>::eof(); c = buffer.sbumpc()) {
            ended = true;
            if (c == '\n') {
                break;
            }
            // One byte more than the limit may still be the "\r" of a "\r\n" line end; two
            // cannot.
            if (line.size() > kMaxPolygonFileLine) {
                ++number;
                throw TooLong();
            }
            line.push_back(static_cast<char>(c));
        }
        if (!ended) {
            throw InputError("The polygon file '" + EchoedPath(path) + "' ends at line " +
                             std::to_string(number) + " before " + what + ".");
        }
        ++number;
        // Files written on other systems may end their lines with "\r\n".
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.size() > kMaxPolygonFileLine) {
            throw TooLong();
        }
        return line;
    }

    // Whether only blank lines are left; the first other line is then the one last read.
    bool OnlyBlankLinesLeft() {
        while (in.rdbuf()->sgetc() != std::char_traits<char>::eof()) {
            if (Next("the end").find_first_not_of(" \t\v\f\r") != std::string::npos) {
                return false;
            }
        }
        return true;
    }

    int Count(const std::string& what) {
        const std::string line = Next(what);
        std::istringstream stream(line);
        long long value = -1;
        if (!(stream >> value) || value < 0 || value > 100000000) {
            throw Error("expected " + what + " (a whole number of 0 or more), found '" +
                        EchoedInput(line) + "'");
        }
        return static_cast<int>(value);
    }

    InputError TooLong() const {
        return Error("the line is longer than " + std::to_string(kMaxPolygonFileLine) + " bytes");
    }

    InputError Error(const std::string& message) const {
        return InputError(Where() + ": " + message + ".");
    }

    // The file and the line last read.
    std::string Where() const {
        return "The polygon file '" + EchoedPath(path) + "', line " + std::to_string(number);
    }

  private:
    std::string path;
    std::ifstream in;
    int number = 0;
};

// Class names travel as single words through the descriptor file and as JSON strings without
// escapes through the model file.
bool IsStorableText(const std::string& text) {
    return text.find_first_of("\"{}[]") == std::string::npos;
}

// Colour lines travel only through the model file: any line that its JSON text gives back
// unchanged between other colours ("#ff8000", "255 128 0", "[255,128,0]", an empty line) is
// accepted; a quote or an unpaired bracket would merge it with its neighbours.
bool SurvivesModelFile(const std::string& colour) {
    util::Array array;
    for (const std::string& value : {std::string("#000000"), colour, std::string("#ffffff")}) {
        array.Add(new std::string(value));
    }
    std::unique_ptr<util::Collection> reread(
        util::Json().Deserialize(util::Json().Serialize(&array)));
    const auto* back = dynamic_cast<const util::Array*>(reread.get());
    return back != nullptr && back->Size() == 3 && back->GetString(1) != nullptr &&
           *back->GetString(1) == colour && back->GetString(2) != nullptr &&
           *back->GetString(2) == "#ffffff";
}

bool IsSingleWord(const std::string& text) {
    return !text.empty() && text.find_first_of(" \t\v\f\r\n") == std::string::npos;
}

void ReadClassesAndColours(LineReader& reader, PolygonFileContent& content) {
    const int classCount = reader.Count("the number of classes");
    for (int i = 0; i < classCount; ++i) {
        const std::string name = reader.Next("class name " + std::to_string(i + 1));
        if (!IsStorableClassName(name)) {
            throw reader.Error("the class name '" + EchoedInput(name) +
                               "' must be one word without quotes, braces or brackets");
        }
        // Two classes of one name would merge their polygons, and the accuracy with them.
        const auto same = std::find(content.classes.begin(), content.classes.end(), name);
        if (same != content.classes.end()) {
            throw reader.Error("the class '" + EchoedInput(name) + "' is listed twice (class " +
                               std::to_string(same - content.classes.begin() + 1) + " and class " +
                               std::to_string(i + 1) + ")");
        }
        content.classes.push_back(name);
    }
    // The colour count written in the file is not used: one colour per class follows.
    const std::string colourCount = reader.Next("the number of colours");
    std::istringstream count(colourCount);
    long long value = -1;
    if (!(count >> value) || value != classCount) {
        content.warnings.push_back(
            reader.Where() + ": the colour count '" + EchoedInput(colourCount) +
            "' is not the class count " + std::to_string(classCount) +
            "; the count is not used, and one colour line per class is read.");
    }
    for (int i = 0; i < classCount; ++i) {
        content.colors.push_back(reader.Next("colour " + std::to_string(i + 1)));
        if (!SurvivesModelFile(content.colors.back())) {
            throw reader.Error("the colour '" + EchoedInput(content.colors.back()) +
                               "' cannot be stored in a model file (it holds a quote, or "
                               "braces or brackets that do not pair up)");
        }
    }
}

std::vector<std::string> ReadLabels(LineReader& reader, const std::vector<std::string>& classes,
                                    bool requireKnownLabels) {
    const int labelCount = reader.Count("the number of polygon labels");
    std::vector<std::string> labels;
    for (int i = 0; i < labelCount; ++i) {
        labels.push_back(reader.Next("polygon label " + std::to_string(i + 1)));
        if (requireKnownLabels &&
            std::find(classes.begin(), classes.end(), labels.back()) == classes.end()) {
            throw reader.Error("the label '" + EchoedInput(labels.back()) +
                               "' is not in the class list");
        }
    }
    return labels;
}

// The vertices of polygon number (from 1), into vertices.
void ReadVertices(LineReader& reader, int number, std::vector<math::Polygon::Point>& vertices) {
    const int vertexCount =
        reader.Count("the number of vertices of polygon " + std::to_string(number));
    if (vertexCount > kMaxPolygonVertices) {
        throw reader.Error("polygon " + std::to_string(number) + " has " +
                           std::to_string(vertexCount) + " vertices, more than the " +
                           std::to_string(kMaxPolygonVertices) + " allowed");
    }
    if (vertexCount < 3) {
        throw reader.Error("polygon " + std::to_string(number) + " has " +
                           std::to_string(vertexCount) +
                           (vertexCount == 1 ? " vertex" : " vertices") +
                           "; a polygon needs at least 3");
    }
    vertices.clear();
    for (int k = 0; k < vertexCount; ++k) {
        const std::string line = reader.Next("vertex " + std::to_string(k + 1) + " of polygon " +
                                             std::to_string(number));
        std::istringstream stream(line);
        int x = 0;
        int y = 0;
        if (!(stream >> x >> y)) {
            throw reader.Error("expected a vertex as two whole numbers \"x y\", found '" +
                               EchoedInput(line) + "'");
        }
        vertices.emplace_back(x, y);
    }
}

}  // namespace

bool IsStorableClassName(const std::string& name) {
    return IsSingleWord(name) && IsStorableText(name);
}

PolygonFileContent ReadPolygonFile(const std::string& path, bool requireKnownLabels) {
    LineReader reader(path);
    PolygonFileContent content;
    reader.Next("the title line");
    ReadClassesAndColours(reader, content);
    const std::vector<std::string> labels = ReadLabels(reader, content.classes, requireKnownLabels);

    const int polygonCount = reader.Count("the number of polygons");
    if (polygonCount != static_cast<int>(labels.size())) {
        throw reader.Error("the file announces " + std::to_string(polygonCount) +
                           " polygons but holds " + std::to_string(labels.size()) +
                           " labels, one per polygon");
    }
    std::vector<math::Polygon::Point> vertices;
    for (int i = 0; i < polygonCount; ++i) {
        ReadVertices(reader, i + 1, vertices);
        auto polygon = std::make_shared<math::Polygon>();
        polygon->SetId(i);
        polygon->SetClass(labels[static_cast<std::size_t>(i)]);
        polygon->SetPoints(vertices.data(), static_cast<int>(vertices.size()));
        content.polygons.push_back(polygon);
    }
    if (!reader.OnlyBlankLinesLeft()) {
        throw reader.Error("text follows the last of the " + std::to_string(polygonCount) +
                           " polygons the file announces");
    }
    return content;
}

}  // namespace velkar::ordana
