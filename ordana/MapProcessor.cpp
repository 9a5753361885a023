#include "ordana/MapProcessor.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

#include "ordana/ConsoleProgress.h"
#include "ordana/DescriptorFileWriter.h"
#include "ordana/EchoedInput.h"
#include "ordana/FileNames.h"
#include "ordana/InputError.h"
#include "ordana/InputImage.h"
#include "ordana/PolygonRegions.h"
#include "ordana/PolygonFile.h"
#include "ordana/ProtocolWriter.h"

namespace velkar::ordana {

namespace {

using FlatDescriptors = featureextraction::FeatureExtractionAlgorithm::FlatDescriptors;

// The class of the polygon with the id; polygons read from a file have their position as id.
std::string ClassOf(const MapProcessor::PolygonList& polygons, int id) {
    const auto index = static_cast<std::size_t>(id);
    if (id >= 0 && index < polygons.size() && polygons[index]->Id() == id) {
        return polygons[index]->Class();
    }
    for (const auto& polygon : polygons) {
        if (polygon->Id() == id) {
            return polygon->Class();
        }
    }
    throw std::logic_error("no polygon has the id " + std::to_string(id));
}

// The descriptor file's path without its extension ("db2.dwt" for wavelets), keeping the
// number a taken name got: "plot.cct_<time>_2" of "plot.cct_<time>.db2_2.dwt" as of
// "plot.cct_<time>_2.wca".
std::string RunName(const std::string& descriptorFile, const std::string& extension) {
    const std::string dotted = "." + extension;
    if (descriptorFile.ends_with(dotted)) {
        return descriptorFile.substr(0, descriptorFile.size() - dotted.size());
    }
    const std::string head = dotted.substr(0, dotted.rfind('.'));
    const auto lastDot = descriptorFile.rfind('.');
    const auto numberStart = descriptorFile.rfind('_', lastDot);
    const std::string stem = descriptorFile.substr(0, numberStart);
    const std::string number = descriptorFile.substr(numberStart, lastDot - numberStart);
    return (stem.ends_with(head) ? stem.substr(0, stem.size() - head.size()) : stem) + number;
}

}  // namespace

MapProcessor::MapProcessor(const ProtocolWriter& protocol) : protocol(protocol) {}

void MapProcessor::SetExtraction(const ExtractionSelection& selection) {
    algorithms.insert(algorithms.end(), selection.algorithms.begin(), selection.algorithms.end());
    parameters = selection.parameters;
}

PolygonFileContent MapProcessor::ReadContent() {
    if (!IsVectorLayerFile(polygonFile)) {
        return ReadPolygonFile(polygonFile, true);
    }
    if (!vectorContent) {
        const SceneRaster& image = LoadScene();
        vectorContent = ReadVectorLayerFile(
            polygonFile, vectorFields, {image.GetGeoreference(), image.Width(), image.Height()},
            [this](const std::string& message) { protocol.Warning(message); });
    }
    return *vectorContent;
}

std::size_t MapProcessor::CountClasses() { return ReadContent().classes.size(); }

MapProcessor::PolygonList MapProcessor::ReadPolygons() {
    PolygonFileContent content = ReadContent();
    for (const std::string& warning : content.warnings) {
        protocol.Warning(warning);
    }
    classes.insert(classes.end(), content.classes.begin(), content.classes.end());
    colors.insert(colors.end(), content.colors.begin(), content.colors.end());
    return content.polygons;
}

SceneRaster& MapProcessor::LoadScene() {
    if (!scene) {
        scene = std::make_shared<SceneRaster>(imageFile, bandRequest);
    }
    return *scene;
}

void MapProcessor::WarnOfPolygonsPastTheImage(const PolygonList& polygons) const {
    namespace bp = boost::polygon;
    for (const auto& polygon : polygons) {
        if (polygon->Size() == 0) {
            continue;
        }
        const auto box = polygon->Bounds();
        if (bp::xl(box) < 0 || bp::yl(box) < 0 || bp::xh(box) > scene->Width() ||
            bp::yh(box) > scene->Height()) {
            protocol.Warning("The polygon " + std::to_string(polygon->Id() + 1) + " (class '" +
                             EchoedInput(polygon->Class()) + "') of '" + EchoedPath(polygonFile) +
                             "' reaches past the image (" + std::to_string(scene->Width()) +
                             " x " + std::to_string(scene->Height()) +
                             " pixels); its windows outside the image are skipped.");
        }
    }
}

void MapProcessor::WarnOfAbsentPixels(const PolygonList& polygons, const std::string& algorithmName,
                                      const std::map<int, long long>& leftOut,
                                      const std::vector<int>& polygonIds) const {
    if (leftOut.empty()) {
        return;
    }
    const std::set<int> polygonsWithWindows(polygonIds.begin(), polygonIds.end());
    std::map<std::string, long long> perClass;
    for (const auto& [id, count] : leftOut) {
        const std::string name = ClassOf(polygons, id);
        perClass[name] += count;
        if (polygonsWithWindows.count(id) == 0) {
            protocol.Warning("The polygon " + std::to_string(id + 1) + " (class '" +
                             EchoedInput(name) + "') of '" + EchoedPath(polygonFile) +
                             "' gives no window to " + algorithmName + ": each of its " +
                             std::to_string(count) + " holds pixels without data in '" +
                             EchoedPath(imageFile) + "'.");
        }
    }
    for (const std::string& name : classes) {
        const auto found = perClass.find(name);
        if (found != perClass.end()) {
            protocol.Warning(std::to_string(found->second) + " windows of " + algorithmName +
                             " in the class '" + EchoedInput(name) + "' of '" +
                             EchoedPath(polygonFile) + "' hold pixels without data in '" +
                             EchoedPath(imageFile) + "'; they are left out.");
            perClass.erase(found);
        }
    }
}

void MapProcessor::WarnOfMissingWindows(
    const PolygonList& polygons, const featureextraction::FeatureExtractionAlgorithm& algorithm,
    const std::vector<int>& polygonIds) const {
    namespace bp = boost::polygon;
    std::set<int> polygonsWithWindows(polygonIds.begin(), polygonIds.end());
    std::set<std::string> classesWithWindows;
    for (int id : polygonsWithWindows) {
        classesWithWindows.insert(ClassOf(polygons, id));
    }
    const int windowSize = algorithm.WindowSize();
    for (const auto& polygon : polygons) {
        if (polygon->Size() == 0 || windowSize < 1 ||
            polygonsWithWindows.count(polygon->Id()) != 0) {
            continue;
        }
        const auto box = polygon->Bounds();
        if (bp::xh(box) - bp::xl(box) < windowSize || bp::yh(box) - bp::yl(box) < windowSize) {
            protocol.Warning("The polygon " + std::to_string(polygon->Id() + 1) + " (class '" +
                             EchoedInput(polygon->Class()) + "') of '" + EchoedPath(polygonFile) +
                             "' is smaller than the " + std::to_string(windowSize) +
                             "-pixel window of " + algorithm.Name() + "; it gives no window.");
        }
    }
    for (const std::string& name : classes) {
        if (classesWithWindows.count(name) == 0) {
            protocol.Warning("The class '" + EchoedInput(name) + "' of '" +
                             EchoedPath(polygonFile) + "' gets no window from " + algorithm.Name() +
                             "; the classifiers cannot learn it.");
        }
    }
}

namespace {

// What one extractor gathers over the regions for one colour variant.
struct Extraction {
    // The descriptors of each region, in region order; kept apart rather than joined, which
    // would copy them all once more.
    std::vector<FlatDescriptors> blocks;
    std::map<int, long long> leftOut;
    // Runs while the extractor works; reports when it goes, once the descriptor file is written.
    std::unique_ptr<StepTimer> timer;
};

std::vector<int> PolygonIds(const std::vector<FlatDescriptors>& blocks) {
    std::vector<int> ids;
    for (const FlatDescriptors& block : blocks) {
        ids.insert(ids.end(), block.polygonIds.begin(), block.polygonIds.end());
    }
    return ids;
}

}  // namespace

std::vector<std::shared_ptr<ExtractionOutput>> MapProcessor::Process() {
    PolygonList polygons = ReadPolygons();
    const SceneRaster& image = LoadScene();
    WarnOfPolygonsPastTheImage(polygons);
    // A window larger than the image fits no polygon: refused before any extractor sizes its
    // buffers by the window (extractors that describe whole regions have no such window).
    for (const auto& algorithm : algorithms) {
        const int window = algorithm->WindowSize();
        if (algorithm->ClassificationWindowSize(polygons) == window &&
            (window > image.Width() || window > image.Height())) {
            throw InputError("The " + std::to_string(window) + "-pixel window of " +
                             algorithm->Name() + " is larger than the image '" +
                             EchoedPath(imageFile) + "' (" + std::to_string(image.Width()) +
                             " x " + std::to_string(image.Height()) +
                             " pixels); no polygon can give a window.");
        }
    }
    // The image itself (no transformation), or each colour variant in selection order.
    std::vector<std::shared_ptr<imageprocessing::ColorSpaceTransformation>> variants =
        colorTransformations;
    if (variants.empty()) {
        variants.push_back(nullptr);
    }
    std::vector<std::vector<Extraction>> extractions(variants.size());
    for (std::size_t v = 0; v < variants.size(); ++v) {
        extractions[v].resize(algorithms.size());
        for (std::size_t a = 0; a < algorithms.size(); ++a) {
            const std::string label =
                algorithms[a]->Name() +
                (variants[v] ? " (" + variants[v]->ShortName() + ")" : std::string());
            extractions[v][a].timer = std::make_unique<StepTimer>(protocol, label);
            extractions[v][a].timer->Stop();
        }
    }

    const std::vector<PolygonRegion> regions =
        GroupIntoRegions(polygons, image.Width(), image.Height(), regionPixels);
    for (std::size_t r = 0; r < regions.size(); ++r) {
        if (progressLine != nullptr) {
            progressLine->Show("Extracting features: region " + std::to_string(r + 1) + " of " +
                               std::to_string(regions.size()));
        }
        const PolygonRegion& region = regions[r];
        // Polygons that need no pixel are described over an empty image.
        const ImagePointer pixels =
            region.area.width > 0
                ? image.Read(region.area)
                : imageprocessing::ImageFileSystem::Create(imageFile, 0, 0, image.BandCount());
        PolygonList moved = Translated(polygons, region);
        for (std::size_t v = 0; v < variants.size(); ++v) {
            const ImagePointer variant =
                variants[v] ? TransformedImage(*pixels, *variants[v]) : pixels;
            for (std::size_t a = 0; a < algorithms.size(); ++a) {
                Extraction& extraction = extractions[v][a];
                extraction.timer->Resume();
                algorithms[a]->SetImage(variant);
                FlatDescriptors block = algorithms[a]->DescribePolygons(moved);
                if (!block.polygonIds.empty()) {
                    extraction.blocks.push_back(std::move(block));
                }
                for (const auto& [id, count] : algorithms[a]->TakeLeftOutWindows()) {
                    extraction.leftOut[id] += count;
                }
                extraction.timer->Stop();
            }
        }
    }

    // An extractor without a single window leaves nothing to learn: the run ends before any
    // file is written, after the warnings that say which polygons are too small.
    for (std::size_t a = 0; a < algorithms.size(); ++a) {
        if (extractions[0][a].blocks.empty()) {
            WarnOfMissingWindows(polygons, *algorithms[a], {});
            throw InputError("No polygon of '" + EchoedPath(polygonFile) + "' gives a window for " +
                             algorithms[a]->Name() + "; nothing is written.");
        }
    }

    const std::string prefix = OutputPrefixFor(outputPrefix, imageFile) + polygonFileName;
    std::vector<std::shared_ptr<ExtractionOutput>> outputs;
    for (std::size_t v = 0; v < variants.size(); ++v) {
        // The suffix of a colour variant is "_" and the colour space's short name.
        const std::string colorSpace = variants[v] ? variants[v]->ShortName() : "";
        const std::string suffix = colorSpace.empty() ? "" : "_" + colorSpace;
        // The windows of every colour variant are the same, so only the first reports them.
        const bool reportWindowGaps = v == 0;
        const double step = static_cast<double>(100) / static_cast<double>(algorithms.size());
        int progress = 0;
        for (std::size_t a = 0; a < algorithms.size(); ++a) {
            const auto& algorithm = algorithms[a];
            Extraction& extraction = extractions[v][a];
            const std::string name = algorithm->Name();
            protocol.Note("Processing image with " + name + ".");
            std::vector<int> polygonIds = PolygonIds(extraction.blocks);
            if (reportWindowGaps) {
                WarnOfMissingWindows(polygons, *algorithm, polygonIds);
                WarnOfAbsentPixels(polygons, name, extraction.leftOut, polygonIds);
            }

            auto output = std::make_shared<ExtractionOutput>();
            output->descriptorFile = DescriptorFileWriter::Write(
                TimestampedFileName(prefix + suffix, algorithm->FileExtension()),
                [&polygons](int id) { return ClassOf(polygons, id); }, extraction.blocks,
                algorithm->FeatureCount());
            output->runName = RunName(output->descriptorFile, algorithm->FileExtension());
            output->featureCount = polygonIds.empty() ? 0 : algorithm->FeatureCount();
            output->algorithmName = name;
            output->classes = classes;
            output->colors = colors;
            output->parameters = parameters[name];
            output->windowSize = algorithm->ClassificationWindowSize(polygons);
            output->colorSpace = colorSpace;
            output->polygonIds = std::move(polygonIds);
            output->bands = RecordedBands(image);
            output->georeference = image.GetGeoreference();
            extraction.blocks = {};
            outputs.push_back(output);

            progress = static_cast<int>(progress + step);
            protocol.Progress(progress);
            extraction.timer.reset();
        }
    }
    return outputs;
}

}  // namespace velkar::ordana
