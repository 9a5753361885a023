#pragma once

// The classification workflow: read a model written by an experiment, cut the image into square
// windows of the model's size on the grid chosen by --sampling ("window": step w, "half": step
// w / 2 but at least 1, "pixel": step 1; windows lie wholly inside the image and are listed with
// x outer, y inner), write the grid as a segmentation polygon file in the working directory,
// extract the model's features from every window, classify them and write the predicted class
// names as a results polygon file beside the image.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "ordana/PatternRecognitionBuilder.h"
#include "velkar/patternrecognition/Pattern.h"
#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"
#include "velkar/util/Map.h"

namespace velkar::ordana {

class ParameterParser;

struct Window {
    int x = 0;
    int y = 0;
};

struct Segmentation {
    std::string imageFile;
    // The model's metadata map (not owned).
    const util::Map* metadata = nullptr;
    // The sampling grid of the image, laid once and shared by every file of the run.
    std::vector<Window> windows;
};

// The windows that go through extraction and classification together; the run holds no more
// than a batch of features and answers at a time.
constexpr std::size_t kClassificationBatch = 1 << 15;

// Returns the path of the results file. The grid is generated, not held, and the windows are
// extracted and classified batchSize at a time, on every thread, each with a classifier of its
// own restored from the model; the segmentation file, the results file and the class map are the
// same whatever the batch size.
std::string ClassifyImage(ParameterParser& parser, std::size_t batchSize = kClassificationBatch);

// The step of a sampling method: w for "window", w / 2 but at least 1 for "half", 1 for
// "pixel"; 0 for anything else.
int SamplingStep(const std::string& samplingMethod, int windowSize);

// The windows of the sampling grid; none for an unknown method or an image smaller than w.
std::vector<Window> SamplingGrid(const std::string& samplingMethod, int width, int height,
                                 int windowSize);

// The grid with every window "unknown", named TimestampedFileName(base, "cct").
std::string WriteSegmentation(const Segmentation& segmentation, const std::string& base);

// Writes the grid as a polygon file named TimestampedFileName(base, "cct"); window i is labelled
// labels[i] when that exists and is not empty, else "unknown". Returns the file's name.
std::string WritePolygonFile(const std::vector<std::string>& labels,
                             const Segmentation& segmentation, const std::string& base);

// One label per window: the class name the classifier gives the window's pattern (its
// "polygonId" metadata is the window number), or empty when the answer is outside the class list.
std::vector<std::string> ClassifyPatterns(
    patternrecognition::PatternRecognitionAlgorithm& classifier,
    const std::vector<std::string>& classes,
    const std::vector<std::shared_ptr<patternrecognition::Pattern>>& patterns, int windowCount);

}  // namespace velkar::ordana
