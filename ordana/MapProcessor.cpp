#include "ordana/MapProcessor.h"

#include <charconv>
#include <fstream>
#include <map>
#include <set>

#include "ordana/ConsoleProgress.h"
#include "ordana/EchoedInput.h"
#include "ordana/FileNames.h"
#include "ordana/InputError.h"
#include "ordana/InputImage.h"
#include "ordana/PolygonRegions.h"
#include "ordana/OutputFile.h"
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

// Writes one line per descriptor, its polygon's class and its values formatted as the standard
// stream does at precision 15 (printf's "%.15g"). Returns the path written: path, or a numbered
// variant of it when that name is taken.
std::string WriteDescriptorFile(const std::string& path, const MapProcessor::PolygonList& polygons,
                                const FlatDescriptors& descriptors, int featureCount) {
    OutputFile file(path);
    std::string text;
    char number[32];
    const std::size_t length = static_cast<std::size_t>(featureCount);
    // Descriptors come polygon after polygon, so the class is looked up once per polygon.
    int lastId = -1;
    std::string className;
    for (std::size_t d = 0; d < descriptors.polygonIds.size(); ++d) {
        if (d == 0 || descriptors.polygonIds[d] != lastId) {
            lastId = descriptors.polygonIds[d];
            className = ClassOf(polygons, lastId);
        }
        text += className;
        for (std::size_t k = 0; k < length; ++k) {
            const auto end =
                std::to_chars(number, number + sizeof number, descriptors.values[d * length + k],
                              std::chars_format::general, 15);
            text += ' ';
            text.append(number, end.ptr);
        }
        text += '\n';
        if (text.size() >= (1 << 20)) {
            file.Stream().write(text.data(), static_cast<std::streamsize>(text.size()));
            text.clear();
        }
    }
    file.Stream().write(text.data(), static_cast<std::streamsize>(text.size()));
    return file.Commit();
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
    FlatDescriptors descriptors;
    std::map<int, long long> leftOut;
    // Runs while the extractor works; reported when its descriptor file is written.
    std::unique_ptr<boost::timer::auto_cpu_timer> timer;
};

void Append(FlatDescriptors& all, FlatDescriptors&& part) {
    all.values.insert(all.values.end(), part.values.begin(), part.values.end());
    all.polygonIds.insert(all.polygonIds.end(), part.polygonIds.begin(), part.polygonIds.end());
}

}  // namespace

std::vector<std::shared_ptr<ExtractionOutput>> MapProcessor::Process() {
    PolygonList polygons = ReadPolygons();
    const SceneRaster& image = LoadScene();
    WarnOfPolygonsPastTheImage(polygons);
    // The image itself (no transformation), or each colour variant in selection order.
    std::vector<std::shared_ptr<imageprocessing::ColorSpaceTransformation>> variants =
        colorTransformations;
    if (variants.empty()) {
        variants.push_back(nullptr);
    }
    std::vector<std::vector<Extraction>> extractions(variants.size());
    for (auto& perVariant : extractions) {
        perVariant.resize(algorithms.size());
        for (Extraction& extraction : perVariant) {
            // Stopped before it is copied, so that neither copy reports when it goes.
            boost::timer::auto_cpu_timer timer = protocol.StepTimer();
            timer.stop();
            extraction.timer = std::make_unique<boost::timer::auto_cpu_timer>(timer);
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
                extraction.timer->resume();
                algorithms[a]->SetImage(variant);
                Append(extraction.descriptors, algorithms[a]->DescribePolygons(moved));
                for (const auto& [id, count] : algorithms[a]->TakeLeftOutWindows()) {
                    extraction.leftOut[id] += count;
                }
                extraction.timer->stop();
            }
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
            FlatDescriptors& descriptors = extraction.descriptors;
            if (reportWindowGaps) {
                WarnOfMissingWindows(polygons, *algorithm, descriptors.polygonIds);
                WarnOfAbsentPixels(polygons, name, extraction.leftOut, descriptors.polygonIds);
            }

            auto output = std::make_shared<ExtractionOutput>();
            output->descriptorFile =
                WriteDescriptorFile(TimestampedFileName(prefix + suffix, algorithm->FileExtension()),
                                    polygons, descriptors, algorithm->FeatureCount());
            output->featureCount = descriptors.polygonIds.empty() ? 0 : algorithm->FeatureCount();
            output->algorithmName = name;
            output->classes = classes;
            output->colors = colors;
            output->parameters = parameters[name];
            output->windowSize = algorithm->ClassificationWindowSize(polygons);
            output->colorSpace = colorSpace;
            output->polygonIds = std::move(descriptors.polygonIds);
            output->bands = RecordedBands(image);
            output->georeference = image.GetGeoreference();
            descriptors.values = {};
            outputs.push_back(output);

            progress = static_cast<int>(progress + step);
            protocol.Progress(progress);
            extraction.timer->report();
        }
    }
    return outputs;
}

}  // namespace velkar::ordana
