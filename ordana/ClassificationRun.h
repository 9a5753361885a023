#pragma once

// The classification workflow: read a model written by an experiment, cut the image into square
// windows of the model's size on the grid chosen by --sampling ("window": step w, "half": step
// w / 2 but at least 1, "pixel": step 1; windows lie wholly inside the image and are listed with
// x outer, y inner), write the grid as a segmentation polygon file
// ("<image name>_processing_<time>.cct"), extract the model's features from every window,
// classify them and write the predicted class names as a results polygon file beside the image
// ("<image name>_results_<time>.cct"), with the class map beside it (a GeoTIFF of class ids with
// the image's georeference when the image has a geotransform, a PNG otherwise), a GeoPackage of
// the windows and of the regions of one class (ResultLayers), a legend of the classes
// (ClassLegend, also told to the person at the console) and the report page; the image name is
// the image file's without its extension. --write chooses which of these are written, and
// --region keeps the run to the windows of a rectangle (see GridRegion), whose map area the
// class map, the GeoPackage, the legend and the page cover. The image is read in vertical
// strips: a batch is whole grid columns, whose strip of pixels is read, turned into the model's
// colour space and described on a grid of its own, so the run holds a strip, never the image.
// The model's bands and stretches are applied to the image unless --bands or --stretch say
// otherwise; windows holding pixels without data stay unknown and unpainted.

#include <cstddef>
#include <optional>
#include <string>

#include "ordana/AlgorithmBuilder.h"
#include "ordana/OutputSelection.h"
#include "ordana/ProtocolWriter.h"

namespace velkar::ordana {

class ParameterParser;

// The windows that go through extraction and classification together (at least one grid
// column); the run holds no more than a batch of features and answers at a time. A batch takes
// as many windows as kBatchFeatureValues feature values, between kClassificationBatch and
// kLargestBatch windows: extractors of few features take more grid columns at once, so that
// narrow steps read fewer strip columns twice (a strip overlaps the next by a window less a step).
constexpr std::size_t kClassificationBatch = 1 << 15;
constexpr std::size_t kLargestBatch = 1 << 18;
constexpr std::size_t kBatchFeatureValues = 1 << 21;
// The pixels of the strip a batch reads: fewer columns go together when theirs would be more.
constexpr long long kStripPixels = 1LL << 23;

struct ClassificationSettings {
    std::string modelFile;
    // None when no image is given, which the run reports once the model has been checked.
    std::optional<std::string> imageFile;
    std::string samplingMethod;
    // Where output files go: their names start with it; empty for the image's folder (the
    // segmentation file then goes to the working directory).
    std::string outputPrefix;
    const ProtocolWriter* protocol = &Protocol();
    // The segmentation file, the results file and the class map are the same whatever the batch
    // size; 0 chooses it by the feature count, as above.
    std::size_t batchSize = 0;
    // The values of --bands and --stretch, which replace what the model records.
    std::optional<std::string> bands;
    std::optional<std::string> stretch;
    // The value of --region, "X,Y,W,H": only the windows whose corners lie there are
    // classified, on the whole image's grid; none for the whole image.
    std::optional<std::string> region;
    // The outputs written (--write).
    OutputSelection outputs;
};

// Returns the path of the results file, or of the class map when no results file is written, or
// of the segmentation file when neither is. The grid is generated, not held, and the windows are
// extracted and classified a batch at a time, on every thread, each with a classifier of its
// own restored from the model through the builder.
std::string ClassifyImage(const ClassificationSettings& settings, AlgorithmBuilder& builder);

// The classification run of the command line.
std::string RunClassificationMode(ParameterParser& parser, AlgorithmBuilder& builder,
                                  const ProtocolWriter& protocol);

// The step of a sampling method: w for "window", w / 2 but at least 1 for "half", 1 for
// "pixel"; 0 for anything else.
int SamplingStep(const std::string& samplingMethod, int windowSize);

}  // namespace velkar::ordana
