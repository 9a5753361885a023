#include "ordana/MapProcessor.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <functional>
#include <future>
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
#include "velkar/util/Parallel.h"

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

// Appends the lines of descriptors first ... end - 1 to text: its polygon's class and its
// values formatted as the standard stream does at precision 15 (printf's "%.15g").
void FormatDescriptors(const MapProcessor::PolygonList& polygons,
                       const FlatDescriptors& descriptors, std::size_t length, std::size_t first,
                       std::size_t end, std::string& text) {
    char number[32];
    // Descriptors come polygon after polygon, so the class is looked up once per polygon.
    int lastId = -1;
    std::string className;
    for (std::size_t d = first; d < end; ++d) {
        if (d == first || descriptors.polygonIds[d] != lastId) {
            lastId = descriptors.polygonIds[d];
            className = ClassOf(polygons, lastId);
        }
        text += className;
        for (std::size_t k = 0; k < length; ++k) {
            const auto written =
                std::to_chars(number, number + sizeof number, descriptors.values[d * length + k],
                              std::chars_format::general, 15);
            text += ' ';
            text.append(number, written.ptr);
        }
        text += '\n';
    }
}

// Writes one line per descriptor (FormatDescriptors). Returns the path written: path, or a
// numbered variant of it when that name is taken.
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

std::string WriteDescriptorFile(const std::string& path, const MapProcessor::PolygonList& polygons,
                                const FlatDescriptors& descriptors, int featureCount) {
    OutputFile file(path);
    const std::size_t length = static_cast<std::size_t>(featureCount);
    const std::size_t count = descriptors.polygonIds.size();
    // Blocks of descriptors are formatted on every thread and written in descriptor order; a
    // round of blocks is all that is held at a time. Blocks of at most kBlockValues values keep
    // the text of a round small enough to be formatted into the same warm memory round after
    // round, and a short file still makes a block for every thread.
    constexpr std::size_t kBlockValues = 1 << 16;
    const std::size_t parallel = static_cast<std::size_t>(std::max(util::MaxThreads(), 1)) * 2;
    const std::size_t block =
        std::max<std::size_t>(std::min(kBlockValues / std::max<std::size_t>(length, 1),
                                       (count + parallel - 1) / parallel),
                              1);
    // A value takes at most 23 characters and its space ("-1.23456789012345e-308"), so a block's
    // text fits what is reserved here and never moves while it is formatted.
    std::size_t longestClass = 0;
    for (const auto& polygon : polygons) {
        longestClass = std::max(longestClass, polygon->Class().size());
    }
    const std::size_t blockText = block * (longestClass + 23 * length + 1);
    // Two rounds of blocks: with more than one thread, one is written on a thread of its own while
    // the threads format the next into the other, so no core idles while the text goes to the
    // file; on one thread each round is written before the next is formatted.
    std::vector<std::string> rounds[2] = {std::vector<std::string>(parallel),
                                          std::vector<std::string>(parallel)};
    const std::launch writer = util::MaxThreads() > 1 ? std::launch::async : std::launch::deferred;
    std::future<void> writing;
    const auto write = [&file](const std::vector<std::string>& blocks, std::size_t blockCount) {
        for (std::size_t b = 0; b < blockCount; ++b) {
            file.Stream().write(blocks[b].data(), static_cast<std::streamsize>(blocks[b].size()));
        }
    };
    std::size_t round = 0;
    for (std::size_t start = 0; start < count; start += block * parallel, round ^= 1) {
        std::vector<std::string>& blocks = rounds[round];
        const std::size_t blockCount = std::min(parallel, (count - start + block - 1) / block);
        util::ParallelFor(blockCount, [&](std::size_t b) {
            const std::size_t first = start + b * block;
            blocks[b].clear();
            blocks[b].reserve(blockText);
            FormatDescriptors(polygons, descriptors, length, first, std::min(count, first + block),
                              blocks[b]);
        });
        if (writing.valid()) {
            writing.get();
        }
        writing = std::async(writer, write, std::cref(blocks), blockCount);
    }
    if (writing.valid()) {
        writing.get();
    }
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
    FlatDescriptors descriptors;
    std::map<int, long long> leftOut;
    // Runs while the extractor works; reports when it goes, once the descriptor file is written.
    std::unique_ptr<StepTimer> timer;
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
                Append(extraction.descriptors, algorithms[a]->DescribePolygons(moved));
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
        if (extractions[0][a].descriptors.polygonIds.empty()) {
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
            FlatDescriptors& descriptors = extraction.descriptors;
            if (reportWindowGaps) {
                WarnOfMissingWindows(polygons, *algorithm, descriptors.polygonIds);
                WarnOfAbsentPixels(polygons, name, extraction.leftOut, descriptors.polygonIds);
            }

            auto output = std::make_shared<ExtractionOutput>();
            output->descriptorFile =
                WriteDescriptorFile(TimestampedFileName(prefix + suffix, algorithm->FileExtension()),
                                    polygons, descriptors, algorithm->FeatureCount());
            output->runName = RunName(output->descriptorFile, algorithm->FileExtension());
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
            extraction.timer.reset();
        }
    }
    return outputs;
}

}  // namespace velkar::ordana
