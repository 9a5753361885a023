#include "ordana/MapProcessor.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iostream>
#include <map>
#include <set>

#include <boost/timer/timer.hpp>

#include "ordana/ConsoleProgress.h"
#include "ordana/EchoedInput.h"
#include "ordana/FileNames.h"
#include "ordana/InputError.h"
#include "ordana/OutputFile.h"
#include "ordana/PolygonFile.h"
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
    std::vector<std::string> blocks(parallel);
    for (std::size_t start = 0; start < count; start += block * parallel) {
        const std::size_t blockCount = std::min(parallel, (count - start + block - 1) / block);
        util::ParallelFor(blockCount, [&](std::size_t b) {
            const std::size_t first = start + b * block;
            blocks[b].clear();
            blocks[b].reserve(blockText);
            FormatDescriptors(polygons, descriptors, length, first, std::min(count, first + block),
                              blocks[b]);
        });
        for (std::size_t b = 0; b < blockCount; ++b) {
            file.Stream().write(blocks[b].data(), static_cast<std::streamsize>(blocks[b].size()));
        }
    }
    return file.Commit();
}

// The segmentation file lists each window by its corner pixels, so its polygon spans w − 1
// pixels, while the window extractors take a window only when the corners one past it lie
// inside the polygon. Widening the polygon to span the window's full w pixels makes every
// extractor take exactly that one window.
void WidenToCoveredPixels(math::Polygon& polygon) {
    if (polygon.Size() == 0) {
        return;
    }
    namespace bp = boost::polygon;
    const auto box = polygon.Bounds();
    const math::Polygon::Point corners[] = {{bp::xl(box), bp::yl(box)},
                                            {bp::xl(box), bp::yh(box) + 1},
                                            {bp::xh(box) + 1, bp::yh(box) + 1},
                                            {bp::xh(box) + 1, bp::yl(box)}};
    polygon.SetPoints(corners, 4);
}

}  // namespace

MapProcessor::MapProcessor(bool chatty) : chatty(chatty) {}

void MapProcessor::SetExtraction(const ExtractionSelection& selection) {
    algorithms.insert(algorithms.end(), selection.algorithms.begin(), selection.algorithms.end());
    parameters = selection.parameters;
}

MapProcessor::PolygonList MapProcessor::ReadPolygons(bool requireKnownLabels) {
    PolygonFileContent content = ReadPolygonFile(polygonFile, requireKnownLabels);
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

std::shared_ptr<imageprocessing::ImageFileSystem> ReadInputImage(const std::string& path) {
    auto loaded = std::make_shared<imageprocessing::ImageFileSystem>(path);
    if (!loaded->IsLoaded()) {
        const std::string& reason = loaded->LoadError();
        throw InputError("Cannot read the image file '" + EchoedPath(path) + "'" +
                         (reason.empty() ? "" : ": " + reason) + ".");
    }
    if (loaded->FileBandCount() > 3 || loaded->FileBitsPerSample() > 8) {
        const int bands = loaded->FileBandCount();
        LogMessage("The image file '" + EchoedPath(path) + "' has " + std::to_string(bands) +
                   (bands == 1 ? " band of " : " bands of ") +
                   std::to_string(loaded->FileBitsPerSample()) +
                   " bits; it is read as 8-bit RGB, as every extractor works on three 8-bit "
                   "channels.");
    }
    return loaded;
}

std::shared_ptr<imageprocessing::ImageFileSystem> TransformedImage(
    const imageprocessing::ImageFileSystem& source,
    const imageprocessing::ColorSpaceTransformation& transformation) {
    auto copy = imageprocessing::ImageFileSystem::Create("tmpfile.jpg", source.Width(),
                                                         source.Height(), 24);
    imageprocessing::Pixel in;
    imageprocessing::Pixel out;
    for (int x = 0; x < source.Width(); ++x) {
        for (int y = 0; y < source.Height(); ++y) {
            source.Pixel(x, y, in);
            transformation.ForwardTransformation(in, out);
            copy->SetPixel(x, y, out);
        }
    }
    return copy;
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
            LogMessage("The polygon " + std::to_string(polygon->Id() + 1) + " (class '" +
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
            LogMessage("The polygon " + std::to_string(polygon->Id() + 1) + " (class '" +
                       EchoedInput(polygon->Class()) + "') of '" + EchoedPath(polygonFile) +
                       "' is smaller than the " + std::to_string(windowSize) + "-pixel window of " +
                       algorithm.Name() + "; it gives no window.");
        }
    }
    for (const std::string& name : classes) {
        if (classesWithWindows.count(name) == 0) {
            LogMessage("The class '" + EchoedInput(name) + "' of '" + EchoedPath(polygonFile) +
                       "' gets no window from " + algorithm.Name() +
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

std::vector<std::shared_ptr<ExtractionOutput>> MapProcessor::ProcessImage(PolygonList& polygons,
                                                                          const std::string& suffix,
                                                                          int progressStart,
                                                                          int progressEnd,
                                                                          ImagePointer variant,
                                                                          bool reportWindowGaps) {
    const std::string prefix = OutputPrefixFor(outputPrefix, imageFile) +
                               polygonFileName + suffix;
    const double step = algorithms.empty() ? 0.0
                                           : static_cast<double>(progressEnd - progressStart) /
                                                 static_cast<double>(algorithms.size());
    int progress = progressStart;

    std::vector<std::shared_ptr<ExtractionOutput>> outputs;
    for (const auto& algorithm : algorithms) {
        const std::string name = algorithm->Name();
        if (chatty) {
            std::cout << "[LOGMESSAGE] !Processing image with " << name << ".!" << std::endl;
        }
        if (progressLine != nullptr) {
            progressLine->Show("Extracting features with " + name +
                               (suffix.empty() ? "" : " (" + suffix.substr(1) + ")"));
        }
        // Reports wall and CPU time of this extractor's step when it goes out of scope.
        boost::timer::auto_cpu_timer timer(std::cout, 6);

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
        if (chatty) {
            std::cout << "[PROGRESS] !" << progress << "!" << std::endl;
        }
    }
    return outputs;
}

MapProcessor::DescriptorList MapProcessor::Process(
    featureextraction::FeatureExtractionAlgorithm& extractor) {
    PolygonList polygons = ReadPolygons(false);
    for (const auto& polygon : polygons) {
        WidenToCoveredPixels(*polygon);
    }
    ImagePointer loaded = LoadImage();
    if (chatty) {
        std::cout << "[LOGMESSAGE] !Processing image with " << extractor.Name() << ".!"
                  << std::endl;
    }
    extractor.SetImage(loaded);
    return extractor.Process(polygons);
}

}  // namespace velkar::ordana
