#pragma once

// The report page of a run: one HTML file that holds everything it shows (pictures as PNG data
// URIs, charts as inline SVG, the style sheet in the page; no script and no reference to another
// file or the network), so that it opens from disk anywhere. Pictures are scaled down to at most
// kPagePictureSide pixels on the longer side (area-averaged; class maps by majority), and further
// while their PNG would be larger than its byte budget, so that a page stays a few megabytes
// whatever the image's size (outlines drop vertices closer than one embedded pixel, for the same
// reason); drawings over a picture keep the image's pixel coordinates. Small pictures are shown
// enlarged.
//
// An experiment page shows the image with the training polygons outlined in their class colours,
// the legend, and per classifier section the accumulated test accuracy over the repetitions, the
// confusion matrices of the window split and of the held-out polygons as heat maps (each cell
// shaded by its share of its row, the count written in it), recall and precision per class as
// bars, overall accuracy and kappa, then the run's parameters, seed and files. A classification
// page shows the image and the class map side by side and the class map at 50 % over the image,
// the legend with each class's windows, pixels and area, and the model with its parameters.
// Every figure is the accuracy report's text (ReportFigure), every count the matrix's count, so
// the page and the .report file agree. Classes are named wherever a colour stands for them
// (legend, hover titles), and all text from the input is escaped.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ordana/AccuracyReport.h"
#include "velkar/imageprocessing/IndexedImage.h"

namespace velkar::ordana {

using PageColour = imageprocessing::IndexedImage::Colour;

constexpr int kPagePictureSide = 1600;
// The largest PNG of the image and of the class map on a page; base64 makes them a third larger.
constexpr std::size_t kPagePhotoBytes = 2'500'000;
constexpr std::size_t kPageClassMapBytes = 1'000'000;

// width x height red, green, blue triples, rows from the top.
struct RgbPicture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
};

// A class as the legend shows it; the counts that are given get a column.
struct PageClass {
    std::string name;
    PageColour colour{};
    std::optional<long long> windows;
    std::optional<long long> pixels;
    std::optional<double> area;
};

// A training polygon: its vertices in the image's pixel coordinates and its class, an index into
// the page's classes (any other value outlines it in grey as "no class").
struct PagePolygon {
    std::vector<std::pair<double, double>> vertices;
    int classIndex = -1;
};

// One classifier on one extraction output: the accumulated test accuracy after repetition 1, 2,
// ... and the matrices of its accuracy report (with the report's extraction and classifier
// lines). The matrices' classes are the page's classes.
struct ClassifierSection {
    std::string extraction;
    std::string classifierName;
    int repetitions = 0;
    std::vector<double> accumulatedTestAccuracy;
    ConfusionMatrix windowSplit{0};
    std::optional<ConfusionMatrix> heldOut;
    std::string heldOutReason;
    std::string resultsFile;
    std::string reportFile;
    std::string modelFile;
};

struct PageSetting {
    std::string name;
    std::string value;
};

struct ExperimentPage {
    std::string imageFile;
    std::string polygonFile;
    RgbPicture image;
    std::vector<PageClass> classes;
    std::vector<PagePolygon> polygons;
    std::vector<ClassifierSection> sections;
    std::vector<PageSetting> parameters;
    std::optional<unsigned> seed;
    std::vector<std::string> filesWritten;
};

struct ClassificationPage {
    std::string imageFile;
    RgbPicture image;
    // As ClassMap paints it: index 0 is no class, index 1 + c class c (its colour is taken from
    // classes[c], so the picture and the legend agree). It may have another size than the image
    // and is drawn over the same area.
    imageprocessing::IndexedImage classMap{0, 0};
    std::string classMapFile;
    std::vector<PageClass> classes;
    // The unit of the classes' areas ("m²", ...); empty when areas are not given in map units.
    std::string areaUnit;
    std::string modelFile;
    std::vector<PageSetting> modelParameters;
    std::vector<std::string> filesWritten;
};

// The pages' HTML. A picture without pixels is left out (the page says so); a bad picture (its
// bytes do not match its size) throws std::invalid_argument.
std::string RenderExperimentPage(const ExperimentPage& page);
std::string RenderClassificationPage(const ClassificationPage& page);

// Writes the HTML through OutputFile (whole or not at all, never over an existing file) and
// returns the path written.
std::string WriteReportPage(const std::string& path, const std::string& html);

}  // namespace velkar::ordana
