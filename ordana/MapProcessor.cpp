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

MapProcessor::PolygonList MapProcessor::ReadPolygons() {
    PolygonFileContent content = ReadPolygonFile(polygonFile, true);
    for (const std::string& warning : content.warnings) {
        protocol.Warning(warning);
    }
    classes.insert(classes.end(), content.classes.begin(), content.classes.end());
    colors.insert(colors.end(), content.colors.begin(), content.colors.end());
    return content.polygons;
}

MapProcessor::ImagePointer MapProcessor::LoadImage() {
    if (!image) {
        image = ReadInputImage(imageFile);
    }
    if (!image->IsLoaded()) {
        throw InputError("Cannot read the image file '" + EchoedPath(imageFile) + "'.");
    }
    return image;
}

void MapProcessor::WarnOfPolygonsPastTheImage(const PolygonList& polygons,
                                              const imageprocessing::ImageFileSystem& image) const {
    namespace bp = boost::polygon;
    for (const auto& polygon : polygons) {
        if (polygon->Size() == 0) {
            continue;
        }
        const auto box = polygon->Bounds();
        if (bp::xl(box) < 0 || bp::yl(box) < 0 || bp::xh(box) > image.Width() ||
            bp::yh(box) > image.Height()) {
            protocol.Warning("The polygon " + std::to_string(polygon->Id() + 1) + " (class '" +
                             EchoedInput(polygon->Class()) + "') of '" + EchoedPath(polygonFile) +
                             "' reaches past the image (" + std::to_string(image.Width()) + " x " +
                             std::to_string(image.Height()) +
                             " pixels); its windows outside the image are skipped.");
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

std::vector<std::shared_ptr<ExtractionOutput>> MapProcessor::Process() {
    PolygonList polygons = ReadPolygons();
    ImagePointer loaded = LoadImage();
    WarnOfPolygonsPastTheImage(polygons, *loaded);
    if (colorTransformations.empty()) {
        return ProcessImage(polygons, "", 0, 100, loaded);
    }
    std::vector<std::shared_ptr<ExtractionOutput>> outputs;
    for (const auto& transformation : colorTransformations) {
        auto variant = ProcessImage(polygons, "_" + transformation->ShortName(), 0, 100,
                                    TransformedImage(*loaded, *transformation),
                                    &transformation == &colorTransformations.front());
        outputs.insert(outputs.end(), variant.begin(), variant.end());
    }
    return outputs;
}

std::vector<std::shared_ptr<ExtractionOutput>> MapProcessor::ProcessImage(
    PolygonList& polygons, const std::string& suffix, int progressStart, int progressEnd,
    ImagePointer variant, bool reportWindowGaps) {
    const std::string prefix = OutputPrefixFor(outputPrefix, imageFile) + polygonFileName + suffix;
    const double step = algorithms.empty() ? 0.0
                                           : static_cast<double>(progressEnd - progressStart) /
                                                 static_cast<double>(algorithms.size());
    int progress = progressStart;

    std::vector<std::shared_ptr<ExtractionOutput>> outputs;
    for (const auto& algorithm : algorithms) {
        const std::string name = algorithm->Name();
        protocol.Note("Processing image with " + name + ".");
        if (progressLine != nullptr) {
            progressLine->Show("Extracting features with " + name +
                               (suffix.empty() ? "" : " (" + suffix.substr(1) + ")"));
        }
        // Reports wall and CPU time of this extractor's step when it goes out of scope.
        const StepTimer timer =
            protocol.TimeStep(name + (suffix.empty() ? "" : " (" + suffix.substr(1) + ")"));

        algorithm->SetImage(variant);
        FlatDescriptors descriptors = algorithm->DescribePolygons(polygons);
        if (reportWindowGaps) {
            WarnOfMissingWindows(polygons, *algorithm, descriptors.polygonIds);
        }

        auto output = std::make_shared<ExtractionOutput>();
        output->descriptorFile =
            WriteDescriptorFile(TimestampedFileName(prefix, algorithm->FileExtension()), polygons,
                                descriptors, algorithm->FeatureCount());
        output->featureCount = descriptors.polygonIds.empty() ? 0 : algorithm->FeatureCount();
        output->algorithmName = name;
        output->classes = classes;
        output->colors = colors;
        output->parameters = parameters[name];
        output->windowSize = algorithm->ClassificationWindowSize(polygons);
        // The suffix of a colour variant is "_" and the colour space's short name.
        output->colorSpace = suffix.empty() ? "" : suffix.substr(1);
        output->polygonIds = std::move(descriptors.polygonIds);
        outputs.push_back(output);

        progress = static_cast<int>(progress + step);
        protocol.Progress(progress);
    }
    return outputs;
}

}  // namespace velkar::ordana
