#include "ordana/ClassMap.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>
#include <utility>
#include <sstream>

#include "velkar/imageprocessing/PictureScaling.h"

namespace velkar::ordana {

namespace {

// Kelly's colours of maximum contrast, without black and white: black means "no class".
const ClassMap::Colour kPalette[] = {
    {0xFF, 0xB3, 0x00}, {0x80, 0x3E, 0x75}, {0xFF, 0x68, 0x00}, {0xA6, 0xBD, 0xD7},
    {0xC1, 0x00, 0x20}, {0xCE, 0xA2, 0x62}, {0x81, 0x70, 0x66}, {0x00, 0x7D, 0x34},
    {0xF6, 0x76, 0x8E}, {0x00, 0x53, 0x8A}, {0xFF, 0x7A, 0x5C}, {0x53, 0x37, 0x7A},
    {0xFF, 0x8E, 0x00}, {0xB3, 0x28, 0x51}, {0xF4, 0xC8, 0x00}, {0x7F, 0x18, 0x0D},
    {0x93, 0xAA, 0x00}, {0x59, 0x33, 0x15}, {0xF1, 0x3A, 0x13}, {0x23, 0x2C, 0x16}};
constexpr std::size_t kPaletteSize = sizeof kPalette / sizeof kPalette[0];
// Index 0 is black; classes take the indices from 1, and beyond 255 classes share them.
constexpr std::size_t kClassIndices = 255;

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    const auto last = text.find_last_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

}  // namespace

std::optional<ClassMap::Colour> ClassMap::ParseColour(const std::string& line) {
    std::string text = Trimmed(line);
    if (text.size() >= 2 && ((text.front() == '[' && text.back() == ']') ||
                             (text.front() == '(' && text.back() == ')'))) {
        text = Trimmed(text.substr(1, text.size() - 2));
    }
    if (text.size() == 7 && text[0] == '#') {
        Colour colour{};
        for (std::size_t c = 0; c < 3; ++c) {
            const std::string digits = text.substr(1 + 2 * c, 2);
            if (!std::isxdigit(static_cast<unsigned char>(digits[0])) ||
                !std::isxdigit(static_cast<unsigned char>(digits[1]))) {
                return std::nullopt;
            }
            colour[c] = static_cast<unsigned char>(std::stoi(digits, nullptr, 16));
        }
        return colour;
    }
    // "r g b" or "r,g,b": three whole numbers from 0 to 255, nothing else.
    const bool commas = text.find(',') != std::string::npos;
    for (char& c : text) {
        if (commas && c == ',') {
            c = ' ';
        } else if (!std::isdigit(static_cast<unsigned char>(c)) && c != ' ' && c != '\t') {
            return std::nullopt;
        }
    }
    std::istringstream numbers(text);
    Colour colour{};
    for (std::size_t c = 0; c < 3; ++c) {
        int value = -1;
        if (!(numbers >> value) || value > 255) {
            return std::nullopt;
        }
        colour[c] = static_cast<unsigned char>(value);
    }
    std::string rest;
    if (numbers >> rest || (commas && std::count(line.begin(), line.end(), ',') != 2)) {
        return std::nullopt;
    }
    return colour;
}

ClassMap::Colour ClassMap::ClassColour(std::size_t classIndex, const std::string& line) {
    if (const auto colour = ParseColour(line)) {
        return *colour;
    }
    return kPalette[classIndex % kPaletteSize];
}

ClassMap::ClassMap(const std::string& geoTiffPath, int width, int height, int windowSize,
                   int step, const std::vector<std::string>& classes,
                   const std::vector<std::string>& colours,
                   const imageprocessing::Georeference& georeference)
    : ClassMap(geoTiffPath, {0, 0, width, height}, windowSize, step, classes, colours,
               georeference) {}

ClassMap::ClassMap(const std::string& geoTiffPath,
                   const imageprocessing::RasterFile::Rectangle& area, int windowSize, int step,
                   const std::vector<std::string>& classes,
                   const std::vector<std::string>& colours,
                   const imageprocessing::Georeference& georeference)
    : geoTiff(geoTiffPath),
      mapLeft(area.x),
      mapTop(area.y),
      windowSize(windowSize),
      step(step),
      classCount(classes.size()) {
    std::vector<Colour> palette = {{0, 0, 0}};
    for (std::size_t c = 0; c < classes.size() && c < kClassIndices; ++c) {
        palette.push_back(ClassColour(c, c < colours.size() ? colours[c] : ""));
    }
    raster = std::make_unique<imageprocessing::IndexedRasterFile>(
        geoTiff.TemporaryPath(), area.width, area.height, palette, georeference);
    const imageprocessing::PictureSize size =
        imageprocessing::FitWithin(area.width, area.height, kPreviewSide);
    preview = imageprocessing::IndexedImage(size.width, size.height);
    preview.SetPalette(palette);
    pixelCounts.assign(classCount, 0);
}

void ClassMap::BeginStrip(int firstX, int lastX, int firstY, int lastY) {
    stripLeft = firstX + (windowSize - step) / 2;
    stripTop = firstY + (windowSize - step) / 2;
    strip = imageprocessing::IndexedImage(lastX - firstX + step, lastY - firstY + step);
}

void ClassMap::Paint(int x, int y, int classIndex) {
    if (classIndex < 0 || static_cast<std::size_t>(classIndex) >= classCount) {
        return;
    }
    const int offset = (windowSize - step) / 2;
    strip.Fill(
        x + offset - stripLeft, y + offset - stripTop, step, step,
        static_cast<unsigned char>(1 + static_cast<std::size_t>(classIndex) % kClassIndices));
}

void ClassMap::EndStrip() {
    // The strip's corner in map pixels: the map may start right of or below the image's edge.
    const int left = stripLeft - mapLeft;
    const int top = stripTop - mapTop;
    raster->Write(strip, left, top);
    const int width = raster->Width();
    const int height = raster->Height();
    const int right = std::min(width, left + strip.Width());
    const int bottom = std::min(height, top + strip.Height());
    std::vector<long long> indexCounts(256, 0);
    for (int y = std::max(0, top); y < bottom; ++y) {
        const unsigned char* row = strip.Row(y - top);
        for (int x = std::max(0, left); x < right; ++x) {
            ++indexCounts[row[x - left]];
        }
    }
    for (std::size_t index = 1; index < indexCounts.size() && index - 1 < classCount; ++index) {
        pixelCounts[index - 1] += indexCounts[index];
    }
    // The preview pixels whose centre lies over the strip: its rows found once, then its
    // columns.
    std::vector<std::pair<int, int>> previewRows;
    for (int py = 0; py < preview.Height(); ++py) {
        const int y = static_cast<int>((2LL * py + 1) * height / (2LL * preview.Height()));
        if (y >= std::max(0, top) && y < bottom) {
            previewRows.emplace_back(py, y - top);
        }
    }
    for (int px = 0; px < preview.Width() && !previewRows.empty(); ++px) {
        const int x = static_cast<int>((2LL * px + 1) * width / (2LL * preview.Width()));
        if (x < std::max(0, left) || x >= right) {
            continue;
        }
        for (const auto& [py, row] : previewRows) {
            preview.Fill(px, py, 1, 1, strip.Index(x - left, row));
        }
    }
    strip = imageprocessing::IndexedImage(0, 0);
}

void ClassMap::Finish(bool noData) {
    raster->Finish(noData ? std::optional<int>(0) : std::nullopt);
}

std::string ClassMap::Write(const std::string& path) {
    OutputFile file(path);
    raster->CopyToPng(file.TemporaryPath());
    return file.Commit();
}

std::string ClassMap::WriteGeoTiff(const std::string& path) {
    Finish(true);
    OutputFile file(path);
    if (std::rename(geoTiff.TemporaryPath().c_str(), file.TemporaryPath().c_str()) != 0) {
        throw std::runtime_error("Cannot write the picture '" + path + "'.");
    }
    return file.Commit();
}

}  // namespace velkar::ordana
