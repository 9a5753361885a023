#pragma once

// Saved outputs of the program: what it printed and every file it wrote, as one text that can
// be compared with a copy kept under tests/ordana/saved. Time stamps in names and text become
// "_<time>", the lines that time an extraction step are left out (they measure this machine),
// a picture is given as its size and its pixels, a report page with its pictures as hashes,
// and a long text file as its beginning and a hash of the whole. Setting
// ORDANA_SAVE_OUTPUTS=1 in the environment writes the texts over the kept copies instead of
// comparing them (after a deliberate change of what the program writes).

#include <gtest/gtest.h>

#include <ogrsf_frmts.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"
#include "velkar/imageprocessing/GdalMessages.h"
#include "velkar/imageprocessing/ImageFileSystem.h"

namespace ordanatest {

inline std::string WithoutTimestamps(const std::string& text) {
    static const std::regex stamp(R"(_\d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2})");
    return std::regex_replace(text, stamp, "_<time>");
}

// The output of a run without the lines that time an extraction step (bare on standard output
// with --chatty, after the step's name on standard error without).
inline std::string WithoutTimings(const std::string& output) {
    static const std::regex timing(R"(^.*: \d+\.\d+s wall, .*s CPU \(.*%\)$|^ \d+\.\d+s wall, .*)");
    std::istringstream lines(output);
    std::string kept;
    for (std::string line; std::getline(lines, line);) {
        if (!std::regex_match(line, timing)) {
            kept += line + "\n";
        }
    }
    return kept;
}

// A picture as its size and its rows, each row as runs of "rrggbb*count".
inline std::string PictureText(const std::filesystem::path& path) {
    const velkar::imageprocessing::ImageFileSystem picture(path.string());
    std::ostringstream text;
    text << "picture " << picture.Width() << " x " << picture.Height() << "\n";
    char hex[8];
    for (int y = 0; y < picture.Height(); ++y) {
        std::string previous;
        int count = 0;
        for (int x = 0; x <= picture.Width(); ++x) {
            std::string colour;
            if (x < picture.Width()) {
                std::snprintf(hex, sizeof hex, "%02x%02x%02x", picture.Pixel(x, y, 0),
                              picture.Pixel(x, y, 1), picture.Pixel(x, y, 2));
                colour = hex;
            }
            if (colour == previous) {
                ++count;
                continue;
            }
            if (count > 0) {
                text << previous << "*" << count << (x < picture.Width() ? " " : "");
            }
            previous = colour;
            count = 1;
        }
        text << "\n";
    }
    return text.str();
}

// A GeoPackage as its layers, each with its feature count and, per class id, the class name,
// the features, and the sums of their areas and pixel counts where the layer has them.
inline std::string GeoPackageText(const std::filesystem::path& path) {
    velkar::imageprocessing::GdalMessages::RegisterAllDrivers();
    std::unique_ptr<GDALDataset> dataset(
        GDALDataset::Open(path.string().c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!dataset) {
        return "unreadable GeoPackage\n";
    }
    std::ostringstream text;
    for (int i = 0; i < dataset->GetLayerCount(); ++i) {
        OGRLayer& layer = *dataset->GetLayer(i);
        struct Sums {
            std::string name;
            long long features = 0;
            double area = 0.0;
            long long pixels = 0;
        };
        std::map<long long, Sums> byClass;
        const int area = layer.GetLayerDefn()->GetFieldIndex("area");
        const int pixels = layer.GetLayerDefn()->GetFieldIndex("pixels");
        for (auto& feature : layer) {
            Sums& sums = byClass[feature->GetFieldAsInteger64("class_id")];
            sums.name = feature->GetFieldAsString("class");
            ++sums.features;
            sums.area += area >= 0 ? feature->GetFieldAsDouble(area) : 0.0;
            sums.pixels += pixels >= 0 ? feature->GetFieldAsInteger64(pixels) : 0;
        }
        text << "layer " << layer.GetName() << ": " << layer.GetFeatureCount() << " features\n";
        for (const auto& [id, sums] : byClass) {
            text << "  " << id << " " << sums.name << ": " << sums.features << " features";
            if (area >= 0) {
                text << ", area " << sums.area << ", pixels " << sums.pixels;
            }
            text << "\n";
        }
    }
    return text.str();
}

// A text file in full up to kShownLines lines; a longer one as its first kShownLines lines,
// its line count and a 64-bit FNV-1a hash of the whole.
constexpr int kShownLines = 200;

inline std::string TextFileText(const std::string& text) {
    int lines = 0;
    std::size_t shownEnd = text.size();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && ++lines == kShownLines) {
            shownEnd = i + 1;
        }
    }
    if (lines <= kShownLines) {
        return text;
    }
    unsigned long long hash = 14695981039346656037ull;
    for (unsigned char c : text) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    char hex[24];
    std::snprintf(hex, sizeof hex, "%016llx", hash);
    return text.substr(0, shownEnd) + "... " + std::to_string(lines) + " lines in all, hash " +
           hex + "\n";
}

// A report page with every embedded picture given as its length and hash: the page's text is
// kept whole, the pictures' bytes are held by the tests of the page itself.
inline std::string PageFileText(const std::string& html) {
    static const std::string dataUri = "data:image/png;base64,";
    std::string text;
    std::size_t done = 0;
    for (std::size_t at = html.find(dataUri); at != std::string::npos;
         at = html.find(dataUri, done)) {
        const std::size_t start = at + dataUri.size();
        const std::size_t end = std::min(html.find('"', start), html.size());
        unsigned long long hash = 14695981039346656037ull;
        for (std::size_t i = start; i < end; ++i) {
            hash = (hash ^ static_cast<unsigned char>(html[i])) * 1099511628211ull;
        }
        char hex[24];
        std::snprintf(hex, sizeof hex, "%016llx", hash);
        text += html.substr(done, start - done) + "<" + std::to_string(end - start) +
                " characters, hash " + hex + ">";
        done = end;
    }
    return text + html.substr(done);
}

// One run's arguments, exit status, output and errors.
inline std::string RunText(const std::vector<std::string>& arguments,
                           const std::filesystem::path& folder) {
    const ProgramResult result = RunOrdana(arguments, folder);
    std::string line = "$";
    for (const std::string& argument : arguments) {
        line += " " + argument;
    }
    return WithoutTimestamps(line) + "\n" + WithoutTimestamps(WithoutTimings(result.output)) +
           "--- errors, exit " + std::to_string(result.exitStatus) + "\n" +
           WithoutTimestamps(WithoutTimings(result.errors));
}

// Every file under folder that is not one of inputs, by name, as text.
inline std::string FilesText(const std::filesystem::path& folder,
                             const std::set<std::string>& inputs) {
    std::set<std::pair<std::string, std::filesystem::path>> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string name = std::filesystem::relative(entry.path(), folder).string();
        if (entry.is_regular_file() && inputs.count(name) == 0) {
            files.emplace(WithoutTimestamps(name), entry.path());
        }
    }
    std::string text;
    for (const auto& [name, path] : files) {
        text += "=== " + name + "\n" +
                (path.extension() == ".png"    ? PictureText(path)
                 : path.extension() == ".html" ? PageFileText(WithoutTimestamps(ReadText(path)))
                 : path.extension() == ".gpkg" ? GeoPackageText(path)
                                               : TextFileText(WithoutTimestamps(ReadText(path))));
    }
    return text;
}

inline std::filesystem::path SavedPath(const std::string& name) {
    return std::filesystem::path(ORDANA_SAVED_OUTPUTS) / name;
}

inline bool SavingOutputs() {
    const char* save = std::getenv("ORDANA_SAVE_OUTPUTS");
    return save != nullptr && std::string(save) == "1";
}

// Compares text with the kept copy of that name, or writes it there when saving.
inline void ExpectSavedText(const std::string& name, const std::string& text) {
    if (SavingOutputs()) {
        WriteText(SavedPath(name), text);
        return;
    }
    const std::string saved = ReadText(SavedPath(name));
    ASSERT_FALSE(saved.empty()) << "no saved copy " << SavedPath(name);
    if (saved == text) {
        return;
    }
    // The first line that differs, then the whole text for a closer look.
    std::istringstream expected(saved);
    std::istringstream actual(text);
    std::string want;
    std::string got;
    int line = 0;
    while (true) {
        ++line;
        const bool moreExpected = static_cast<bool>(std::getline(expected, want));
        const bool moreActual = static_cast<bool>(std::getline(actual, got));
        if (!moreExpected || !moreActual || want != got) {
            ADD_FAILURE() << name << ", line " << line << ":\n  saved: " << want
                          << "\n  now:   " << got;
            break;
        }
    }
}

}  // namespace ordanatest
