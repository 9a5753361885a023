#pragma once

// Brings an image and a polygon file together with the library's extractors for the experiments:
// it runs every extractor over every colour variant of the image (or the image itself when no
// colour space is selected), writes each run's descriptors to a time-stamped descriptor file
// (one line per descriptor: its class, then every feature value, precision 15) and returns one
// ExtractionOutput per run. The image is never held whole: consecutive polygons share a region
// of it (PolygonRegions), read once, turned into each colour variant and described by every
// extractor before the next region is read; the descriptor files are written once every region
// is described, so an image or polygon file that cannot be used is rejected with an InputError
// before anything is written. Polygons reaching past the image, polygons smaller than an
// extractor's window, classes that get no window, and windows left out because they hold pixels
// without data (counted per class, and naming the polygons that lose every window) are reported
// as warnings.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ordana/AlgorithmFactory.h"
#include "ordana/ExtractionOutput.h"
#include "ordana/PolygonRegions.h"
#include "ordana/SceneRaster.h"
#include "ordana/VectorLayerFile.h"
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
    // classes and colours. A vector file (VectorLayerFile) is laid on the scene, which is
    // opened for it, and read once.
    PolygonList ReadPolygons();
    // The number of classes polygonFile names.
    std::size_t CountClasses();
    // What polygonFile holds, polygons in pixel coordinates (a vector file is read once).
    PolygonFileContent ReadContent();

    std::vector<std::shared_ptr<ExtractionOutput>> Process();

    std::vector<std::shared_ptr<featureextraction::FeatureExtractionAlgorithm>> algorithms;
    std::vector<std::shared_ptr<imageprocessing::ColorSpaceTransformation>> colorTransformations;
    std::string polygonFile;
    // The attributes of a vector polygonFile that give the class and the colour.
    VectorFields vectorFields;
    std::string imageFile;
    std::string polygonFileName;
    // Where output files go: their names start with it; empty for the image's folder.
    std::string outputPrefix;
    std::vector<std::string> classes;
    std::vector<std::string> colors;
    std::map<std::string, std::string> parameters;
    // The image the caller has already opened from imageFile; opened on demand with
    // bandRequest when empty.
    std::shared_ptr<SceneRaster> scene;
    BandRequest bandRequest;
    // The pixels one region of consecutive polygons may span.
    long long regionPixels = kRegionPixels;
    // Shows which extractor runs, to a person at a terminal; may be null.
    ConsoleProgress* progressLine = nullptr;

  private:
    SceneRaster& LoadScene();
    void WarnOfPolygonsPastTheImage(const PolygonList& polygons) const;
    void WarnOfMissingWindows(const PolygonList& polygons,
                              const featureextraction::FeatureExtractionAlgorithm& algorithm,
                              const std::vector<int>& polygonIds) const;
    void WarnOfAbsentPixels(const PolygonList& polygons, const std::string& algorithmName,
                            const std::map<int, long long>& leftOut,
                            const std::vector<int>& polygonIds) const;

    const ProtocolWriter& protocol;
    std::optional<PolygonFileContent> vectorContent;
};

}  // namespace velkar::ordana
