#pragma once

// Brings an image and a polygon file together with the library's extractors for the experiments:
// it runs every extractor over every colour variant of the image (or the image itself when no
// colour space is selected), writes each run's descriptors to a time-stamped descriptor file
// (one line per descriptor: its class, then every feature value, precision 15) and returns one
// ExtractionOutput per run. An image or polygon file that cannot be used is rejected with an
// InputError before anything is written. Polygons reaching past the image, polygons smaller
// than an extractor's window and classes that get no window are reported as warnings.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ordana/AlgorithmFactory.h"
#include "ordana/ExtractionOutput.h"
#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"
#include "velkar/imageprocessing/ColorSpaceTransformation.h"
#include "velkar/imageprocessing/ImageFileSystem.h"
#include "velkar/math/Polygon.h"

namespace velkar::ordana {

class ConsoleProgress;
class ProtocolWriter;

class MapProcessor {
  public:
    using PolygonList = std::vector<std::shared_ptr<math::Polygon>>;
    using ImagePointer = std::shared_ptr<imageprocessing::ImageFileSystem>;

    explicit MapProcessor(const ProtocolWriter& protocol);
    virtual ~MapProcessor() = default;

    void SetExtraction(const ExtractionSelection& selection);

    // Reads polygonFile, whose every polygon label must be one of its classes; appends its
    // classes and colours.
    PolygonList ReadPolygons();

    std::vector<std::shared_ptr<ExtractionOutput>> Process();
    // reportWindowGaps names polygons and classes that give no window; the windows of every
    // colour variant are the same, so only the first variant reports them.
    std::vector<std::shared_ptr<ExtractionOutput>> ProcessImage(PolygonList& polygons,
                                                                const std::string& suffix,
                                                                int progressStart, int progressEnd,
                                                                ImagePointer image,
                                                                bool reportWindowGaps = true);

    std::vector<std::shared_ptr<featureextraction::FeatureExtractionAlgorithm>> algorithms;
    std::vector<std::shared_ptr<imageprocessing::ColorSpaceTransformation>> colorTransformations;
    std::string polygonFile;
    std::string imageFile;
    std::string polygonFileName;
    // Where output files go: their names start with it; empty for the image's folder.
    std::string outputPrefix;
    std::vector<std::string> classes;
    std::vector<std::string> colors;
    std::map<std::string, std::string> parameters;
    // An image the caller has already loaded from imageFile; loaded on demand when empty.
    ImagePointer image;
    // Shows which extractor runs, to a person at a terminal; may be null.
    ConsoleProgress* progressLine = nullptr;

  private:
    ImagePointer LoadImage();
    void WarnOfPolygonsPastTheImage(const PolygonList& polygons,
                                    const imageprocessing::ImageFileSystem& image) const;
    void WarnOfMissingWindows(const PolygonList& polygons,
                              const featureextraction::FeatureExtractionAlgorithm& algorithm,
                              const std::vector<int>& polygonIds) const;

    const ProtocolWriter& protocol;
};

}  // namespace velkar::ordana
