#pragma once

// The model file: a trained classifier's configuration tree with a "metadata" map added by the
// program (algorithm name and version, class names and colours of the polygon file, the
// extractor's parameter string and window size), written as pretty JSON. A classifier that
// keeps no tree gets a file holding only the metadata. Reading checks everything the
// classification run relies on and rejects anything else with an InputError naming the file.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "ordana/SceneRaster.h"
#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"
#include "velkar/util/Map.h"

namespace velkar::ordana {

// Puts the metadata map into configuration (a new Map when the classifier returned none) and
// returns it. A model trained on a colour variant also records its colour space's module name
// under "color_space"; one trained on other than a plain picture records the file bands it read
// under "bands" ([4, 3, 2]) and, when a band was stretched, every band's stretch under
// "stretch" ([[low, high], [], ...], an empty pair for a band read as its levels).
std::shared_ptr<util::Map> ComposeModel(std::shared_ptr<util::Collection> configuration,
                                        patternrecognition::PatternRecognitionAlgorithm& classifier,
                                        const std::vector<std::string>& classes,
                                        const std::vector<std::string>& colors,
                                        const std::string& parameters, int windowSize,
                                        const std::string& colorSpace = "",
                                        const BandRequest& bands = {});

// Model files larger than this (512 MiB, far beyond the largest model the classifiers' limits
// allow) are refused before they are read whole.
constexpr std::size_t kMaxModelFileSize = std::size_t{512} << 20;

// Writes the model to path, or to a numbered variant of it when that name is taken (see
// OutputFile); returns the path written.
std::string WriteModelFile(const std::string& path, const util::Map& model);

// The model map of a file written by WriteModelFile. The whole text must be one JSON object
// (a file cut short is refused). Its "metadata" map is checked to hold "algorithm_name",
// "classes" (at least one string), "colors" (strings, no more than classes),
// "feature_extraction_parameters" and a "window_size" of at least 1, and when present a string
// "color_space", "bands" of whole numbers from 1 and a "stretch" of one pair per band. A file of more than sizeLimit bytes is refused without being read whole.
std::shared_ptr<util::Map> ReadModelFile(const std::string& path,
                                         std::size_t sizeLimit = kMaxModelFileSize);

// The bands and stretches a model read by ReadModelFile records; empty for a plain picture.
BandRequest ModelBands(const util::Map& metadata);

// The model's metadata map; only valid for a model returned by ReadModelFile or ComposeModel.
util::Map& ModelMetadata(const util::Map& model);

// The strings of an array of strings.
std::vector<std::string> StringList(const util::Collection* array);

}  // namespace velkar::ordana
