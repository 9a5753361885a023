#include "ordana/ReportPage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "ordana/OutputFile.h"
#include "ordana/PageText.h"
#include "ordana/SvgChart.h"
#include "velkar/imageprocessing/PictureScaling.h"
#include "velkar/imageprocessing/PngEncoder.h"

namespace velkar::ordana {

namespace {

using imageprocessing::IndexedImage;
using imageprocessing::PictureSize;

// Several re-encodings would mean a budget far below what pictures need; after these tries the
// last, smallest picture is taken.
constexpr int kBudgetTries = 4;
constexpr int kMinShownSide = 640;
// Pictures of up to this many bytes (about 420 x 420 pixels) are embedded uncompressed: the bytes
// saved would not matter, and compressing would cost more than the rest of the page.
constexpr std::size_t kStoredPictureBytes = 512 * 1024;

const char* const kStyle =
    "body{font:15px/1.45 system-ui,'DejaVu Sans',sans-serif;color:#1a1d21;background:#fff;"
    "margin:24px;max-width:1700px}"
    "h1{font-size:24px;margin:0 0 4px}h2{font-size:19px;margin:28px 0 8px;border-bottom:1px solid "
    "#c9ced6}h3{font-size:16px;margin:18px 0 6px}"
    ".sub{color:#3d434b;margin:0 0 16px}"
    "figure{margin:0 0 12px}figcaption{color:#3d434b;font-size:13px}"
    "svg.picture{display:block;max-width:100%;height:auto;background:#e8ebef}"
    ".pair{display:flex;flex-wrap:wrap;gap:16px}.pair figure{flex:1 1 420px;min-width:0}"
    "table{border-collapse:collapse;margin:6px 0 10px}caption{text-align:left;padding:2px 0}"
    "th,td{border:1px solid #c9ced6;padding:3px 8px;text-align:left}"
    "td.count{text-align:right;min-width:3em;font-variant-numeric:tabular-nums}"
    "td.diagonal{outline:2px solid #1a1d21;outline-offset:-2px}"
    ".swatch{display:inline-block;width:14px;height:14px;border:1px solid #1a1d21;"
    "vertical-align:-2px;margin-right:6px}"
    "svg.chart text{font-size:11px;fill:#3d434b}svg.bar{vertical-align:-1px;margin-right:6px}"
    "code{font-size:13px;overflow-wrap:anywhere}";

std::string Hex(const PageColour& colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour[0], colour[1], colour[2]);
    return text;
}

double RelativeLuminance(const PageColour& colour) {
    double sum = 0.0;
    const double weights[] = {0.2126, 0.7152, 0.0722};
    for (std::size_t c = 0; c < 3; ++c) {
        const double level = colour[c] / 255.0;
        sum += weights[c] *
               (level <= 0.04045 ? level / 12.92 : std::pow((level + 0.055) / 1.055, 2.4));
    }
    return sum;
}

// Heat-map shading: from a pale to a dark blue with the share of the row; the text takes black or
// white, whichever stands out more (at least 4.5 : 1 on any shade).
PageColour HeatColour(double share) {
    const PageColour pale = {0xf4, 0xf7, 0xfb};
    const PageColour dark = {0x08, 0x30, 0x6b};
    PageColour colour{};
    for (std::size_t c = 0; c < 3; ++c) {
        colour[c] = static_cast<unsigned char>(std::lround(pale[c] + (dark[c] - pale[c]) * share));
    }
    return colour;
}

const char* TextColourOn(const PageColour& background) {
    const double luminance = RelativeLuminance(background);
    return (luminance + 0.05) / 0.05 >= 1.05 / (luminance + 0.05) ? "#000" : "#fff";
}

std::string Number(double value) {
    std::ostringstream text;
    text.precision(7);
    text << value;
    return text.str();
}

struct EncodedPicture {
    std::string dataUri;
    int width = 0;
    int height = 0;
};

// Scales the picture to fit kPagePictureSide and then, while its PNG is over budget, by the root
// of the excess (and a little more), always from the original.
template <typename Encode>
EncodedPicture EncodeWithinBudget(int width, int height, std::size_t budget, Encode encode) {
    PictureSize size = imageprocessing::FitWithin(width, height, kPagePictureSide);
    std::vector<unsigned char> png = encode(size);
    for (int tries = 1; png.size() > budget && tries < kBudgetTries; ++tries) {
        const double factor = 0.95 * std::sqrt(static_cast<double>(budget) / png.size());
        const int longer = std::max(size.width, size.height);
        const int side = std::max(1, static_cast<int>(longer * factor));
        if (side >= longer) {
            break;
        }
        size = imageprocessing::FitWithin(width, height, side);
        png = encode(size);
    }
    return {PngDataUri(png), size.width, size.height};
}

std::optional<EncodedPicture> EncodePhoto(const RgbPicture& picture) {
    if (picture.width <= 0 || picture.height <= 0) {
        return std::nullopt;
    }
    if (picture.rgb.size() !=
        static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 3) {
        throw std::invalid_argument(
            "The image of a report page has " + std::to_string(picture.rgb.size()) + " bytes for " +
            std::to_string(picture.width) + " x " + std::to_string(picture.height) + " pixels");
    }
    return EncodeWithinBudget(
        picture.width, picture.height, kPagePhotoBytes, [&picture](const PictureSize& size) {
            const auto compression =
                static_cast<std::size_t>(size.width) * size.height * 3 <= kStoredPictureBytes
                    ? imageprocessing::PngCompression::kStored
                    : imageprocessing::PngCompression::kFast;
            if (size.width == picture.width && size.height == picture.height) {
                return imageprocessing::EncodeRgbPng(size.width, size.height, picture.rgb,
                                                     compression);
            }
            return imageprocessing::EncodeRgbPng(
                size.width, size.height,
                imageprocessing::ScaleDownByAreaAverage(picture.rgb, picture.width, picture.height,
                                                        3, size.width, size.height),
                compression);
        });
}

std::optional<EncodedPicture> EncodeClassMap(const IndexedImage& map,
                                             const std::vector<PageClass>& classes) {
    if (map.Width() <= 0 || map.Height() <= 0) {
        return std::nullopt;
    }
    std::vector<PageColour> palette = {{0, 0, 0}};
    for (std::size_t c = 0; c < classes.size() && palette.size() < 256; ++c) {
        palette.push_back(classes[c].colour);
    }
    return EncodeWithinBudget(
        map.Width(), map.Height(), kPageClassMapBytes, [&map, &palette](const PictureSize& size) {
            return imageprocessing::ScaleDownByMajority(map, size.width, size.height, palette)
                .EncodePng();
        });
}

std::string ClassName(const std::vector<PageClass>& classes, std::size_t index) {
    return index < classes.size() ? classes[index].name : "class " + std::to_string(index + 1);
}

void Head(std::ostream& out, const std::string& title) {
    out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        << "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
        << "<title>" << EscapeHtml(title) << "</title><style>" << kStyle
        << "</style></head>\n<body>\n";
}

void Swatch(std::ostream& out, const PageColour& colour) {
    out << "<span class=\"swatch\" style=\"background:" << Hex(colour)
        << "\" aria-hidden=\"true\"></span>";
}

// The opening of a picture: an SVG in the image's pixel coordinates, shown at the size of its
// embedded picture, or enlarged until its longer side is kMinShownSide (small pictures would be
// hard to see), and never wider than the page.
void OpenPicture(std::ostream& out, int width, int height, const EncodedPicture& shown,
                 const std::string& label) {
    const double enlarge =
        std::max(1.0, static_cast<double>(kMinShownSide) / std::max(shown.width, shown.height));
    out << "<svg class=\"picture\" role=\"img\" aria-label=\"" << EscapeHtml(label)
        << "\" viewBox=\"0 0 " << width << " " << height << "\" width=\""
        << std::lround(shown.width * enlarge) << "\" height=\""
        << std::lround(shown.height * enlarge) << "\" preserveAspectRatio=\"none\"><title>"
        << EscapeHtml(label) << "</title>";
}

// A class map keeps sharp borders between classes when enlarged (crisp).
void EmbeddedImage(std::ostream& out, int width, int height, const EncodedPicture& picture,
                   const std::string& id, bool crisp = false) {
    out << "<image" << (id.empty() ? "" : " id=\"" + id + "\"")
        << (crisp ? " style=\"image-rendering:pixelated\"" : "") << " x=\"0\" y=\"0\" width=\""
        << width << "\" height=\"" << height << "\" preserveAspectRatio=\"none\" href=\""
        << picture.dataUri << "\"/>";
}

void FileList(std::ostream& out, const std::vector<std::string>& files) {
    if (files.empty()) {
        out << "<p>No file was written.</p>\n";
        return;
    }
    out << "<ul class=\"files\">";
    for (const std::string& file : files) {
        out << "<li><code>" << EscapeHtml(file) << "</code></li>";
    }
    out << "</ul>\n";
}

void SettingsTable(std::ostream& out, const std::vector<PageSetting>& settings,
                   const std::string& caption) {
    if (settings.empty()) {
        return;
    }
    out << "<table class=\"settings\"><caption>" << EscapeHtml(caption)
        << "</caption><thead><tr><th scope=\"col\">option</th><th scope=\"col\">value</th></tr>"
        << "</thead><tbody>";
    for (const PageSetting& setting : settings) {
        out << "<tr><th scope=\"row\"><code>" << EscapeHtml(setting.name)
            << "</code></th><td><code>" << EscapeHtml(setting.value) << "</code></td></tr>";
    }
    out << "</tbody></table>\n";
}

void ConfusionTable(std::ostream& out, const ConfusionMatrix& matrix, const std::string& heading,
                    const std::vector<PageClass>& classes) {
    const std::size_t count = matrix.ClassCount();
    out << "<table class=\"confusion\"><caption>"
        << "Confusion matrix of the " << EscapeHtml(heading) << " (" << matrix.Total()
        << " test windows): rows the true class, columns the predicted class; shading shows the "
           "share of the row</caption><thead><tr><th scope=\"col\">true \\ predicted</th>";
    for (std::size_t c = 0; c < count; ++c) {
        out << "<th scope=\"col\">" << EscapeHtml(ClassName(classes, c)) << "</th>";
    }
    out << "<th scope=\"col\">unknown</th></tr></thead><tbody>";
    for (std::size_t row = 0; row < count; ++row) {
        long long rowSum = 0;
        for (std::size_t column = 0; column <= count; ++column) {
            rowSum += matrix.Count(row, column);
        }
        const std::string rowName = EscapeHtml(ClassName(classes, row));
        out << "<tr><th scope=\"row\">" << rowName << "</th>";
        for (std::size_t column = 0; column <= count; ++column) {
            const long long cell = matrix.Count(row, column);
            const PageColour shade =
                HeatColour(rowSum == 0 ? 0.0 : static_cast<double>(cell) / rowSum);
            out << "<td class=\"count" << (column == row ? " diagonal" : "")
                << "\" style=\"background:" << Hex(shade) << ";color:" << TextColourOn(shade)
                << "\" title=\"true " << rowName << ", predicted "
                << (column == count ? std::string("unknown")
                                    : EscapeHtml(ClassName(classes, column)))
                << ": " << cell << " of " << rowSum << " windows\">" << cell << "</td>";
        }
        out << "</tr>";
    }
    out << "</tbody></table>\n";
}

void FiguresTable(std::ostream& out, const ConfusionMatrix& matrix,
                  const std::vector<PageClass>& classes) {
    out << "<table class=\"figures\"><thead><tr><th scope=\"col\">class</th><th scope=\"col\">"
           "recall (producer's accuracy)</th><th scope=\"col\">precision (user's accuracy)</th>"
           "</tr></thead><tbody>";
    for (std::size_t c = 0; c < matrix.ClassCount(); ++c) {
        out << "<tr><th scope=\"row\">" << EscapeHtml(ClassName(classes, c)) << "</th>";
        for (const std::optional<double>& figure : {matrix.Recall(c), matrix.Precision(c)}) {
            out << "<td>" << FigureBar(figure) << "<span class=\"figure\">" << ReportFigure(figure)
                << "</span></td>";
        }
        out << "</tr>";
    }
    out << "</tbody></table>\n<p>overall accuracy: <strong class=\"figure\">"
        << ReportFigure(matrix.OverallAccuracy()) << "</strong>, kappa: <strong class=\"figure\">"
        << ReportFigure(matrix.Kappa()) << "</strong></p>\n";
}

// One section of the accuracy report, marked with its heading.
void ReportSection(std::ostream& out, const ConfusionMatrix& matrix, const std::string& heading,
                   const std::vector<PageClass>& classes) {
    out << "<div class=\"report-section\" data-section=\"" << heading << "\">\n";
    ConfusionTable(out, matrix, heading, classes);
    FiguresTable(out, matrix, classes);
    out << "</div>\n";
}

void Section(std::ostream& out, const ClassifierSection& section,
             const std::vector<PageClass>& classes, std::size_t number) {
    const std::string name = EscapeHtml(section.classifierName);
    out << "<section class=\"classifier\" id=\"classifier-" << number << "\"><h2>" << name
        << " on <code>" << EscapeHtml(section.extraction) << "</code></h2>\n<p>"
        << section.repetitions << " repetitions";
    for (const auto& [what, file] : {std::pair{"results", &section.resultsFile},
                                     std::pair{"accuracy report", &section.reportFile},
                                     std::pair{"model", &section.modelFile}}) {
        if (!file->empty()) {
            out << "; " << what << " <code>" << EscapeHtml(*file) << "</code>";
        }
    }
    out << "</p>\n<table class=\"summary\"><thead><tr><th scope=\"col\">test</th><th "
           "scope=\"col\">windows</th><th scope=\"col\">overall accuracy</th><th "
           "scope=\"col\">kappa</th></tr></thead><tbody>";
    for (const auto& [heading, matrix] :
         {std::pair{"window split", &section.windowSplit},
          std::pair{"held-out polygons", section.heldOut ? &*section.heldOut : nullptr}}) {
        out << "<tr><th scope=\"row\">" << heading << "</th>";
        if (matrix == nullptr) {
            out << "<td colspan=\"3\">not evaluated: " << EscapeHtml(section.heldOutReason)
                << "</td></tr>";
        } else {
            out << "<td>" << matrix->Total() << "</td><td class=\"figure\">"
                << ReportFigure(matrix->OverallAccuracy()) << "</td><td class=\"figure\">"
                << ReportFigure(matrix->Kappa()) << "</td></tr>";
        }
    }
    out << "</tbody></table>\n<h3>Accumulated test accuracy</h3>\n";
    if (section.accumulatedTestAccuracy.empty()) {
        out << "<p>No repetition finished.</p>\n";
    } else {
        out << "<figure>"
            << AccuracyChart(
                   section.accumulatedTestAccuracy,
                   "Accumulated test accuracy of " + section.classifierName + " after each of " +
                       std::to_string(section.accumulatedTestAccuracy.size()) +
                       " repetitions, last " + ReportFigure(section.accumulatedTestAccuracy.back()))
            << "</figure>\n";
    }
    out << "<h3>Window split</h3>\n<p>Every repetition splits the windows at random into a "
           "training and a test half. Windows of one polygon land in both halves, so these "
           "figures overstate the accuracy on ground that no training polygon covers.</p>\n";
    ReportSection(out, section.windowSplit, "window split", classes);
    out << "<h3>Held-out polygons</h3>\n<p>Every repetition also splits each class's polygons "
           "at random into halves, trains on the windows of one half and tests on the windows "
           "of the other.</p>\n";
    if (section.heldOut) {
        ReportSection(out, *section.heldOut, "held-out polygons", classes);
    } else {
        out << "<div class=\"report-section\" data-section=\"held-out polygons\"><p "
               "class=\"not-evaluated\">not evaluated: "
            << EscapeHtml(section.heldOutReason) << "</p></div>\n";
    }
    out << "</section>\n";
}

// A polygon outlined twice, a dark halo under a line in its class colour, both drawn from one
// list of points; a vertex closer than minStep image pixels (one pixel of the embedded picture)
// to the last one kept adds nothing visible and is left out, which bounds the page's size.
void Outline(std::ostream& out, const PagePolygon& polygon, std::size_t number,
             const std::vector<PageClass>& classes, double minStep) {
    const bool known =
        polygon.classIndex >= 0 && static_cast<std::size_t>(polygon.classIndex) < classes.size();
    const std::string colour =
        known ? Hex(classes[static_cast<std::size_t>(polygon.classIndex)].colour) : "#9aa0a8";
    std::string points;
    std::pair<double, double> last;
    for (const auto& vertex : polygon.vertices) {
        if (!points.empty() &&
            std::hypot(vertex.first - last.first, vertex.second - last.second) < minStep) {
            continue;
        }
        points += (points.empty() ? "" : " ") + Number(vertex.first) + "," + Number(vertex.second);
        last = vertex;
    }
    const std::string id = "polygon-" + std::to_string(number);
    out << "<g><title>polygon " << number << ": "
        << (known ? EscapeHtml(classes[static_cast<std::size_t>(polygon.classIndex)].name)
                  : std::string("no class"))
        << "</title><defs><polygon id=\"" << id << "\" points=\"" << points
        << "\" vector-effect=\"non-scaling-stroke\"/></defs><use href=\"#" << id
        << "\" fill=\"none\" stroke=\"#000\" stroke-opacity=\"0.6\" stroke-width=\"4\"/><use "
           "href=\"#"
        << id << "\" fill=\"" << colour << "\" fill-opacity=\"0.12\" stroke=\"" << colour
        << "\" stroke-width=\"2\"/></g>";
}

std::string PictureNote(const std::string& what, const EncodedPicture& shown, int width,
                        int height) {
    std::string note =
        what + ": " + std::to_string(width) + " x " + std::to_string(height) + " pixels";
    if (shown.width != width || shown.height != height) {
        note += ", shown at " + std::to_string(shown.width) + " x " + std::to_string(shown.height);
    }
    return note;
}

}  // namespace

std::string RenderExperimentPage(const ExperimentPage& page) {
    std::ostringstream out;
    Head(out, "Experiment on " + page.polygonFile);
    out << "<h1>Experiment on <code>" << EscapeHtml(page.polygonFile) << "</code></h1>\n"
        << "<p class=\"sub\">image <code>" << EscapeHtml(page.imageFile) << "</code>, "
        << page.polygons.size() << " training polygons, " << page.classes.size()
        << " classes</p>\n<section id=\"image\"><h2>Image and training polygons</h2>\n";
    const std::optional<EncodedPicture> picture = EncodePhoto(page.image);
    if (picture) {
        out << "<figure>";
        OpenPicture(out, page.image.width, page.image.height, *picture,
                    "The image " + page.imageFile + " with its " +
                        std::to_string(page.polygons.size()) +
                        " training polygons outlined in their class colours");
        EmbeddedImage(out, page.image.width, page.image.height, *picture, "");
        for (std::size_t i = 0; i < page.polygons.size(); ++i) {
            Outline(out, page.polygons[i], i + 1, page.classes,
                    static_cast<double>(page.image.width) / picture->width);
        }
        out << "</svg><figcaption>"
            << EscapeHtml(
                   PictureNote(page.imageFile, *picture, page.image.width, page.image.height))
            << "; hover over an outline for its polygon and class</figcaption></figure>\n";
    } else {
        out << "<p>No picture: the image has no pixels.</p>\n";
    }
    std::vector<long long> polygonsPerClass(page.classes.size(), 0);
    for (const PagePolygon& polygon : page.polygons) {
        if (polygon.classIndex >= 0 &&
            static_cast<std::size_t>(polygon.classIndex) < page.classes.size()) {
            ++polygonsPerClass[static_cast<std::size_t>(polygon.classIndex)];
        }
    }
    const bool windows = std::any_of(page.classes.begin(), page.classes.end(),
                                     [](const PageClass& c) { return c.windows.has_value(); });
    out << "<table class=\"legend\"><caption>Legend</caption><thead><tr><th scope=\"col\">class"
        << "</th><th scope=\"col\">polygons</th>"
        << (windows ? "<th scope=\"col\">windows</th>" : "") << "</tr></thead><tbody>";
    for (std::size_t c = 0; c < page.classes.size(); ++c) {
        const PageClass& entry = page.classes[c];
        out << "<tr title=\"class " << EscapeHtml(entry.name) << ", outlined in "
            << Hex(entry.colour) << "\"><th scope=\"row\">";
        Swatch(out, entry.colour);
        out << EscapeHtml(entry.name) << "</th><td>" << polygonsPerClass[c] << "</td>";
        if (windows) {
            out << "<td>" << (entry.windows ? std::to_string(*entry.windows) : "") << "</td>";
        }
        out << "</tr>";
    }
    out << "</tbody></table>\n</section>\n";
    for (std::size_t i = 0; i < page.sections.size(); ++i) {
        Section(out, page.sections[i], page.classes, i + 1);
    }
    out << "<section id=\"run\"><h2>Run</h2>\n<p>seed: <code>"
        << (page.seed ? std::to_string(*page.seed) : std::string("none given")) << "</code></p>\n";
    SettingsTable(out, page.parameters, "Parameters");
    out << "<h3>Files written</h3>\n";
    FileList(out, page.filesWritten);
    out << "</section>\n</body></html>\n";
    return out.str();
}

std::string RenderClassificationPage(const ClassificationPage& page) {
    std::ostringstream out;
    Head(out, "Classification of " + page.imageFile);
    out << "<h1>Classification of <code>" << EscapeHtml(page.imageFile) << "</code></h1>\n"
        << "<p class=\"sub\">model <code>" << EscapeHtml(page.modelFile) << "</code>, "
        << page.classes.size() << " classes</p>\n";
    const std::optional<EncodedPicture> photo = EncodePhoto(page.image);
    const std::optional<EncodedPicture> map = EncodeClassMap(page.classMap, page.classes);
    // Both pictures are drawn over the image's area (the class map's own when there is no image)
    // and embedded once, then shown by reference in every view.
    const int width = photo ? page.image.width : page.classMap.Width();
    const int height = photo ? page.image.height : page.classMap.Height();
    out << "<svg width=\"0\" height=\"0\" style=\"position:absolute\" aria-hidden=\"true\">"
        << "<defs>";
    if (photo) {
        EmbeddedImage(out, width, height, *photo, "page-image");
    }
    if (map) {
        EmbeddedImage(out, width, height, *map, "page-class-map", true);
    }
    out << "</defs></svg>\n<section id=\"pictures\"><h2>Image and class map</h2>\n";
    if (!photo || !map) {
        out << "<p>No picture: " << (photo ? "the class map" : "the image")
            << " has no pixels.</p>\n";
    }
    out << "<div class=\"pair\">";
    if (photo) {
        out << "<figure>";
        OpenPicture(out, width, height, *photo, "The image " + page.imageFile);
        out << "<use href=\"#page-image\"/></svg><figcaption>"
            << EscapeHtml(PictureNote(page.imageFile, *photo, page.image.width, page.image.height))
            << "</figcaption></figure>";
    }
    if (map) {
        out << "<figure>";
        OpenPicture(out, width, height, *map,
                    "The class map " + page.classMapFile + ": every class in its legend colour");
        out << "<use href=\"#page-class-map\"/></svg><figcaption>"
            << EscapeHtml(PictureNote("class map " + page.classMapFile, *map, page.classMap.Width(),
                                      page.classMap.Height()))
            << "</figcaption></figure>";
    }
    out << "</div>\n";
    if (photo && map) {
        out << "<figure>";
        OpenPicture(out, width, height, *photo,
                    "The class map " + page.classMapFile + " at half opacity over the image " +
                        page.imageFile);
        out << "<use href=\"#page-image\"/><use href=\"#page-class-map\" opacity=\"0.5\"/></svg>"
            << "<figcaption>The class map at 50 % over the image</figcaption></figure>\n";
    }
    const auto given = [&page](auto member) {
        return std::any_of(page.classes.begin(), page.classes.end(),
                           [member](const PageClass& c) { return (c.*member).has_value(); });
    };
    const bool windows = given(&PageClass::windows);
    const bool pixels = given(&PageClass::pixels);
    const bool area = given(&PageClass::area);
    out << "<table class=\"legend\"><caption>Legend</caption><thead><tr><th scope=\"col\">class"
        << "</th>" << (windows ? "<th scope=\"col\">windows</th>" : "")
        << (pixels ? "<th scope=\"col\">pixels</th>" : "");
    if (area) {
        out << "<th scope=\"col\">area"
            << (page.areaUnit.empty() ? "" : " (" + EscapeHtml(page.areaUnit) + ")") << "</th>";
    }
    out << "</tr></thead><tbody>";
    for (const PageClass& entry : page.classes) {
        out << "<tr title=\"class " << EscapeHtml(entry.name) << ", painted " << Hex(entry.colour)
            << "\"><th scope=\"row\">";
        Swatch(out, entry.colour);
        out << EscapeHtml(entry.name) << "</th>";
        if (windows) {
            out << "<td>" << (entry.windows ? std::to_string(*entry.windows) : "") << "</td>";
        }
        if (pixels) {
            out << "<td>" << (entry.pixels ? std::to_string(*entry.pixels) : "") << "</td>";
        }
        if (area) {
            out << "<td>" << (entry.area ? Number(*entry.area) : "") << "</td>";
        }
        out << "</tr>";
    }
    out << "</tbody></table>\n<p>";
    Swatch(out, {0, 0, 0});
    out << "Black: no class (a window answered unknown, or a pixel no window paints).</p>\n"
        << "</section>\n<section id=\"model\"><h2>Model</h2>\n<p>from <code>"
        << EscapeHtml(page.modelFile) << "</code></p>\n";
    SettingsTable(out, page.modelParameters, "Parameters of the model");
    out << "<h3>Files written</h3>\n";
    FileList(out, page.filesWritten);
    out << "</section>\n</body></html>\n";
    return out.str();
}

std::string WriteReportPage(const std::string& path, const std::string& html) {
    OutputFile file(path);
    file.Stream() << html;
    return file.Commit();
}

}  // namespace velkar::ordana
