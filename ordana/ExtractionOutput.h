#pragma once

// The record of one extractor run over one image variant: where its descriptors were written,
// how many features each has (0 when the run produced none), the polygon each descriptor came
// from, and what the model file needs to repeat the extraction (extractor name, parameter
// string, window size, colour space, classes and colours, the bands read), and where the image
// lies on the ground.

#include <string>
#include <vector>

#include "ordana/SceneRaster.h"
#include "velkar/imageprocessing/Georeference.h"

namespace velkar::ordana {

struct ExtractionOutput {
    std::string descriptorFile;
    // The descriptor file's name without the extractor's extension: the name of the run.
    std::string runName;
    int featureCount = 0;
    std::string algorithmName;
    std::vector<std::string> classes;
    std::vector<std::string> colors;
    std::string parameters;
    int windowSize = 0;
    // The module name of the colour space of the image variant ("lab", "hsv", ...); empty for
    // the image itself.
    std::string colorSpace;
    // The polygon id of every descriptor, in the order of the descriptor file.
    std::vector<int> polygonIds;
    // What a model records of the bands (empty for a plain picture, see RecordedBands).
    BandRequest bands;
    imageprocessing::Georeference georeference;
};

}  // namespace velkar::ordana
