#include "ordana/ClassLegend.h"

#include <algorithm>
#include <cstdio>

#include "ordana/ClassMap.h"
#include "ordana/WindowFileWriter.h"

namespace velkar::ordana {

namespace {

std::string Fixed(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

std::string HexColour(const ClassMap::Colour& colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour[0], colour[1], colour[2]);
    return text;
}

}  // namespace

ClassLegend::ClassLegend(const std::vector<std::string>& classes,
                         const std::vector<std::string>& colours,
                         const std::vector<long long>& windows, long long unknownWindows,
                         const std::vector<long long>& pixels, long long imagePixels,
                         std::optional<double> pixelArea) {
    const auto areaOf = [&](long long count) -> std::optional<double> {
        if (!pixelArea) {
            return std::nullopt;
        }
        return static_cast<double>(count) * *pixelArea;
    };
    const auto shareOf = [&](long long count) {
        return imagePixels > 0 ? static_cast<double>(count) / static_cast<double>(imagePixels)
                               : 0.0;
    };
    long long painted = 0;
    for (std::size_t c = 0; c < classes.size(); ++c) {
        const long long count = c < pixels.size() ? pixels[c] : 0;
        painted += count;
        rows.push_back({classes[c],
                        HexColour(ClassMap::ClassColour(c, c < colours.size() ? colours[c] : "")),
                        c < windows.size() ? windows[c] : 0, count, areaOf(count), shareOf(count)});
    }
    const long long unpainted = std::max(imagePixels - painted, 0LL);
    rows.push_back({std::string(WindowFileWriter::kUnknown), "", unknownWindows, unpainted,
                    areaOf(unpainted), shareOf(unpainted)});
}

std::string ClassLegend::Text() const {
    std::vector<std::vector<std::string>> cells = {
        {"class", "colour", "windows", "pixels", "area", "share"}};
    for (const ClassLegendRow& row : rows) {
        cells.push_back({row.name, row.colour.empty() ? "-" : row.colour,
                         std::to_string(row.windows), std::to_string(row.pixels),
                         row.area ? Fixed(*row.area) : "-", Fixed(row.share * 100.0) + "%"});
    }
    std::vector<std::size_t> widths(cells[0].size(), 0);
    for (const auto& line : cells) {
        for (std::size_t k = 0; k < line.size(); ++k) {
            widths[k] = std::max(widths[k], line[k].size());
        }
    }
    std::string text;
    for (const auto& line : cells) {
        std::string out;
        for (std::size_t k = 0; k < line.size(); ++k) {
            // Names and colours left, numbers right.
            const std::string pad(widths[k] - line[k].size(), ' ');
            out += (k == 0 ? "" : "  ") + (k < 2 ? line[k] + pad : pad + line[k]);
        }
        out.erase(out.find_last_not_of(' ') + 1);
        text += out + "\n";
    }
    return text;
}

}  // namespace velkar::ordana
