#pragma once

// Report-page data as the workflows would hand it over, made from seeded draws: a scene of three
// colour bands with noise, polygons inside the bands, seeded confusion matrices whose accuracy
// reports are written beside, and a class map of the bands.

#include <algorithm>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ordana/AccuracyReport.h"
#include "ordana/ReportPage.h"

namespace reportpage {

using velkar::ordana::ClassificationPage;
using velkar::ordana::ClassifierSection;
using velkar::ordana::ConfusionMatrix;
using velkar::ordana::ExperimentPage;
using velkar::ordana::PageClass;
using velkar::ordana::PagePolygon;
using velkar::ordana::RgbPicture;

inline const std::vector<velkar::ordana::PageColour> kBandColours = {
    {0x3c, 0x8d, 0x2f}, {0x2a, 0x5d, 0xa8}, {0xc8, 0xa0, 0x5a}};

// Vertical bands, band i of the colour kBandColours[i % 3], with noise of +-noise levels; a noise
// of 0 and one band give a picture of one colour.
inline RgbPicture Scene(int width, int height, int bands, int noise, unsigned seed) {
    std::mt19937 random(seed);
    RgbPicture picture{width, height, {}};
    picture.rgb.reserve(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto& colour = kBandColours[static_cast<std::size_t>(x * bands / width) % 3];
            for (const unsigned char level : colour) {
                const int shift =
                    noise == 0 ? 0 : static_cast<int>(random() % (2 * noise + 1)) - noise;
                picture.rgb.push_back(
                    static_cast<unsigned char>(std::clamp(level + shift, 0, 255)));
            }
        }
    }
    return picture;
}

// Class colours that stand out on the bands.
inline const std::vector<velkar::ordana::PageColour> kClassColours = {
    {0xe6, 0x19, 0x4b}, {0xff, 0xe1, 0x19}, {0x91, 0x1e, 0xb4}};

inline std::vector<PageClass> Classes(const std::vector<std::string>& names) {
    std::vector<PageClass> classes;
    for (std::size_t c = 0; c < names.size(); ++c) {
        classes.push_back(
            {names[c], kClassColours[c % 3], std::nullopt, std::nullopt, std::nullopt});
    }
    return classes;
}

// Every class gets up to `windows` test windows (class 0 none when emptyFirstClass), answered
// right with probability 0.7, else by another class or "unknown".
inline ConfusionMatrix Matrix(std::size_t classCount, int windows, unsigned seed,
                              bool emptyFirstClass = false) {
    std::mt19937 random(seed);
    ConfusionMatrix matrix(classCount);
    for (std::size_t c = emptyFirstClass ? 1 : 0; c < classCount; ++c) {
        const int count = windows / 2 + static_cast<int>(random() % static_cast<unsigned>(windows));
        for (int i = 0; i < count; ++i) {
            const bool right = random() % 10 < 7;
            const int answer =
                right ? static_cast<int>(c) : static_cast<int>(random() % (classCount + 1)) - 1;
            matrix.Add(static_cast<int>(c), answer);
        }
    }
    return matrix;
}

// An experiment on a scene of three bands with two classifier sections: the first with both
// report sections, the second without held-out polygons. Their reports are written into folder.
inline ExperimentPage Experiment(const std::filesystem::path& folder,
                                 const std::vector<std::string>& names, int width, int height,
                                 unsigned seed) {
    ExperimentPage page;
    page.imageFile = (folder / "scene.png").string();
    page.polygonFile = (folder / "scene.cct").string();
    page.image = Scene(width, height, 3, 30, seed);
    page.classes = Classes(names);
    std::mt19937 random(seed);
    for (int i = 0; i < 9; ++i) {
        const double left = (i % 3) * width / 3.0 + 4 + random() % 10;
        const double top = 4 + (i / 3) * height / 3.0 + random() % 10;
        const double side = std::min(width, height) / 5.0;
        page.polygons.push_back(
            {{{left, top}, {left + side, top}, {left + side * 0.8, top + side}, {left, top + side}},
             i % 3 < static_cast<int>(names.size()) ? i % 3 : -1});
    }
    const std::string classifiers[] = {"mlp", "mahalanobis"};
    for (int s = 0; s < 2; ++s) {
        ClassifierSection section;
        section.extraction = "wca aws=5";
        section.classifierName = classifiers[s];
        section.repetitions = 4;
        for (int r = 1; r <= 4; ++r) {
            section.accumulatedTestAccuracy.push_back(0.55 + 0.3 * r / 4 - 0.05 * s);
        }
        section.windowSplit = Matrix(names.size(), 20, seed * 10 + s, s == 1);
        if (s == 0) {
            section.heldOut = Matrix(names.size(), 12, seed * 10 + 5);
        } else {
            section.heldOutReason = "class '" + names.back() + "' has only 1 polygon";
        }
        const std::string base =
            (folder / ("scene.cct_run.wca-" + section.classifierName)).string();
        section.resultsFile = base;
        section.modelFile = (folder / ("scene.cct_run." + section.classifierName)).string();
        section.reportFile = velkar::ordana::WriteAccuracyReport(
            base + ".report", section.extraction, section.classifierName, section.repetitions,
            names, section.windowSplit, section.heldOut, section.heldOutReason);
        page.filesWritten.push_back(section.resultsFile);
        page.filesWritten.push_back(section.reportFile);
        page.sections.push_back(std::move(section));
    }
    page.parameters = {{"--experiments", "4"}, {"--wca", "true"}, {"--aws", "5"}};
    page.seed = seed;
    return page;
}

// A classification of a scene of three bands: the class map paints band c in class c (palette
// index 1 + c) but leaves a black frame of 4 pixels; the legend counts every class's pixels.
inline ClassificationPage Classification(const std::vector<std::string>& names, int width,
                                         int height, int mapWidth, int mapHeight, int noise,
                                         unsigned seed) {
    ClassificationPage page;
    page.imageFile = "scene.png";
    page.image = Scene(width, height, 3, noise, seed);
    page.classMap = velkar::imageprocessing::IndexedImage(mapWidth, mapHeight);
    page.classes = Classes(names);
    for (std::size_t c = 0; c < 3; ++c) {
        const int left = static_cast<int>(c) * mapWidth / 3;
        const int right = static_cast<int>(c + 1) * mapWidth / 3;
        const int x0 = std::max(left, 4);
        const int x1 = std::min(right, mapWidth - 4);
        page.classMap.Fill(x0, 4, x1 - x0, mapHeight - 8, static_cast<unsigned char>(1 + c));
        if (c < page.classes.size()) {
            page.classes[c].pixels = static_cast<long long>(x1 - x0) * (mapHeight - 8);
            page.classes[c].windows = *page.classes[c].pixels / 25;
            page.classes[c].area = *page.classes[c].pixels * 0.25;
        }
    }
    page.areaUnit = "m²";
    page.classMapFile = "results_run.png";
    page.modelFile = "scene.cct_run.mlp";
    page.modelParameters = {{"extractor", "wca aws=5"}, {"classifier", "mlp"}};
    page.filesWritten = {"processing_run.cct", "results_run.cct", "results_run.png"};
    return page;
}

}  // namespace reportpage
