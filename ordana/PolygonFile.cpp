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
        return InputError("The polygon file '" + EchoedPath(path) + "', line " +
                          std::to_string(number) + ": " + message + ".");
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
        content.classes.push_back(reader.Next("class name " + std::to_string(i + 1)));
        if (!IsStorableClassName(content.classes.back())) {
            throw reader.Error("the class name '" + EchoedInput(content.classes.back()) +
                               "' must be one word without quotes, braces or brackets");
        }
    }
    // The colour count written in the file is not used: one colour per class follows.
    reader.Next("the number of colours");
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
    if (polygonCount > static_cast<int>(labels.size())) {
        throw reader.Error("the file announces " + std::to_string(polygonCount) +
                           " polygons but holds only " + std::to_string(labels.size()) + " labels");
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
    return content;
}

}  // namespace velkar::ordana
