#pragma once

// Helpers shared by the workflow tests: images with known pixels written to disk, the two-class
// red and blue training scene, polygon files written from a list of labelled polygons, files read
// back line by line, output files found by extension and time stamp, a command line kept alive
// for the parser, and captured standard output. Everything is header-only and used from one
// thread.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ordana/ParameterParser.h"
#include "velkar/imageprocessing/ImageFileSystem.h"
#include "velkar/imageprocessing/Pixel.h"

namespace ordanatest {

using PixelFunction = std::function<velkar::imageprocessing::Pixel(int x, int y)>;
using Vertices = std::vector<std::pair<int, int>>;

inline velkar::imageprocessing::Pixel Rgb(int red, int green, int blue) {
    velkar::imageprocessing::Pixel pixel;
    pixel[0] = static_cast<std::uint8_t>(red);
    pixel[1] = static_cast<std::uint8_t>(green);
    pixel[2] = static_cast<std::uint8_t>(blue);
    pixel.count = 3;
    return pixel;
}

// Writes a three-band image whose pixel (x, y) is colour(x, y); the format follows the extension.
// PNG keeps the values exactly, which the tests that recompute averages rely on.
inline bool WriteImage(const std::filesystem::path& path, int width, int height,
                       const PixelFunction& colour) {
    auto image = velkar::imageprocessing::ImageFileSystem::Create(path.string(), width, height, 3);
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            image->SetPixel(x, y, colour(x, y));
        }
    }
    return image->SaveAs(path.string());
}

// Red and blue with a little texture, so that no colour feature is constant over a region.
inline velkar::imageprocessing::Pixel TexturedRed(int x, int y) {
    return Rgb(200 + (x * 3 + y * 5) % 20, 30, 40);
}
inline velkar::imageprocessing::Pixel TexturedBlue(int x, int y) {
    return Rgb(30, 40 + (x * 11 + y) % 20, 200);
}

// A width x height scene of another layout than the training scene: blue above y = 20, red
// below.
inline bool WriteBlueOverRed(const std::filesystem::path& path, int width, int height) {
    return WriteImage(path, width, height,
                      [](int x, int y) { return y < 20 ? TexturedBlue(x, y) : TexturedRed(x, y); });
}

// The four corners (x0, y0), (x0, y1), (x1, y1), (x1, y0).
inline Vertices Rectangle(int x0, int y0, int x1, int y1) {
    return {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}};
}

struct LabelledPolygon {
    std::string label;
    Vertices vertices;
};

// The text of a polygon file: title, classes, one colour per class, labels, polygons.
inline std::string PolygonFileText(const std::vector<std::string>& classes,
                                   const std::vector<std::string>& colors,
                                   const std::vector<LabelledPolygon>& polygons,
                                   const std::string& title = "image.png") {
    std::ostringstream text;
    text << title << "\n" << classes.size() << "\n";
    for (const std::string& name : classes) {
        text << name << "\n";
    }
    text << colors.size() << "\n";
    for (const std::string& colour : colors) {
        text << colour << "\n";
    }
    text << polygons.size() << "\n";
    for (const LabelledPolygon& polygon : polygons) {
        text << polygon.label << "\n";
    }
    text << polygons.size() << "\n";
    for (const LabelledPolygon& polygon : polygons) {
        text << polygon.vertices.size() << "\n";
        for (const auto& [x, y] : polygon.vertices) {
            text << x << " " << y << "\n";
        }
    }
    return text.str();
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline void WritePolygonFile(const std::filesystem::path& path,
                             const std::vector<std::string>& classes,
                             const std::vector<std::string>& colors,
                             const std::vector<LabelledPolygon>& polygons,
                             const std::string& title = "image.png") {
    WriteText(path, PolygonFileText(classes, colors, polygons, title));
}

// folder / "training.png", 60 x 40 pixels, red left of x = 30 and blue right of it, and
// folder / "training.cct", which labels the two halves "red" and "blue".
inline bool WriteRedBlueTraining(const std::filesystem::path& folder) {
    WritePolygonFile(folder / "training.cct", {"red", "blue"}, {"#ff0000", "#0000ff"},
                     {{"red", Rectangle(0, 0, 30, 40)}, {"blue", Rectangle(30, 0, 60, 40)}});
    return WriteImage(folder / "training.png", 60, 40,
                      [](int x, int y) { return x < 30 ? TexturedRed(x, y) : TexturedBlue(x, y); });
}

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<std::string> ReadLines(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

// Regular files directly in folder whose name ends with "." + extension, sorted by name.
inline std::vector<std::filesystem::path> FilesWithExtension(const std::filesystem::path& folder,
                                                             const std::string& extension) {
    std::vector<std::filesystem::path> files;
    const std::string suffix = "." + extension;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// True when name is base + "_YYYY-MM-DD_HH-MM-SS." + extension.
inline bool IsTimestampedName(const std::string& name, const std::string& base,
                              const std::string& extension) {
    if (name.size() != base.size() + 21 + extension.size() || name.rfind(base, 0) != 0) {
        return false;
    }
    static const std::regex stamp(R"(_\d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2}\.)");
    return std::regex_match(name.substr(base.size(), 21), stamp) &&
           name.substr(base.size() + 21) == extension;
}

// The lines of a run's output that belong to the console protocol, in order.
inline std::vector<std::string> ProtocolLines(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("[", 0) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

// The payloads of the "[<tag>] !...!" lines of output, in order.
inline std::vector<std::string> Payloads(const std::string& output, const std::string& tag) {
    std::vector<std::string> payloads;
    const std::string head = "[" + tag + "] !";
    for (const std::string& line : ProtocolLines(output)) {
        if (line.rfind(head, 0) == 0 && line.size() > head.size() && line.back() == '!') {
            payloads.push_back(line.substr(head.size(), line.size() - head.size() - 1));
        }
    }
    return payloads;
}

// The words of a command line written as one string.
inline std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

// Keeps the argument strings alive for the parser, with a program name in front.
class CommandLine {
  public:
    explicit CommandLine(std::vector<std::string> arguments) : texts(std::move(arguments)) {
        texts.insert(texts.begin(), "ordana");
        for (const std::string& text : texts) {
            pointers.push_back(text.c_str());
        }
    }
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    velkar::ordana::ParameterParser Parser() const {
        return velkar::ordana::ParameterParser(static_cast<int>(pointers.size()), pointers.data());
    }

  private:
    std::vector<std::string> texts;
    std::vector<const char*> pointers;
};

// Standard output written while action runs; an exception from action ends the capture first.
inline std::string CapturedOutput(const std::function<void()>& action) {
    testing::internal::CaptureStdout();
    try {
        action();
    } catch (...) {
        testing::internal::GetCapturedStdout();
        throw;
    }
    return testing::internal::GetCapturedStdout();
}

}  // namespace ordanatest
