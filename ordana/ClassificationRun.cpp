#include "ordana/ClassificationRun.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <new>

#include "ordana/AlgorithmCatalog.h"
#include "ordana/ClassMap.h"
#include "ordana/EchoedInput.h"
#include "ordana/FileNames.h"
#include "ordana/InputError.h"
#include "ordana/MapProcessor.h"
#include "ordana/ModelFile.h"
#include "ordana/OutputFile.h"
#include "ordana/ParameterParser.h"
#include "ordana/WindowFileWriter.h"

namespace velkar::ordana {

namespace {

using patternrecognition::Pattern;
using patternrecognition::PatternRecognitionAlgorithm;

void Chat(bool chatty, const std::string& text) {
    if (chatty) {
        LogMessage(text);
    }
}

// Restores the model's classifier, or rejects a model that cannot classify.
std::shared_ptr<PatternRecognitionAlgorithm> RestoreClassifier(PatternRecognitionBuilder& builder,
                                                               std::shared_ptr<util::Map> model,
                                                               const std::string& modelFile) {
    const std::string name = *ModelMetadata(*model).GetString("algorithm_name");
    if (model->Size() == 1) {
        throw InputError("The model file '" + EchoedPath(modelFile) +
                         "' holds no trained state of the " + EchoedInput(name) +
                         " classifier, so it cannot classify.");
    }
    std::shared_ptr<PatternRecognitionAlgorithm> classifier;
    try {
        classifier = builder.RestoreAlgorithm(name, model);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& error) {
        throw InputError("The model file '" + EchoedPath(modelFile) +
                         "' is damaged: " + error.what());
    }
    if (!classifier) {
        throw InputError("The model file '" + EchoedPath(modelFile) +
                         "' names an unknown algorithm '" + EchoedInput(name) + "'.");
    }
    return classifier;
}

// The stored window size and the classifier's input must be what the stored extractor settings
// give, or every window would be cut or described otherwise than in training. An extractor that
// lays windows of its own size needs exactly that size; one that describes whole regions learnt
// its size from the training polygons and needs at least the smallest it can describe.
void CheckModelAgainstExtractor(const util::Map& metadata,
                                const featureextraction::FeatureExtractionAlgorithm& extractor,
                                PatternRecognitionAlgorithm& classifier,
                                const std::string& modelFile) {
    const std::string parameters = *metadata.GetString("feature_extraction_parameters");
    const int windowSize = *metadata.GetInt("window_size");
    const int ownSize = extractor.WindowSize();
    const int smallest = extractor.ClassificationWindowSize({});
    const bool windowed = smallest == ownSize;
    if (windowed ? windowSize != ownSize : windowSize < smallest) {
        throw InputError("The model file '" + EchoedPath(modelFile) +
                         "' holds a \"window_size\" of " + std::to_string(windowSize) +
                         ", but its \"feature_extraction_parameters\" ('" +
                         EchoedInput(parameters) + "') need " + (windowed ? "" : "at least ") +
                         std::to_string(windowed ? ownSize : smallest) + ".");
    }
    const int inputSize = classifier.InputSize();
    if (inputSize >= 0 && inputSize != extractor.FeatureCount()) {
        throw InputError("The model file '" + EchoedPath(modelFile) + "' holds a classifier of " +
                         std::to_string(inputSize) +
                         " inputs, but its \"feature_extraction_parameters\" ('" +
                         EchoedInput(parameters) + "') give " +
                         std::to_string(extractor.FeatureCount()) + " features per window.");
    }
}

// The colour space the model was trained in, or none for the image itself.
std::shared_ptr<imageprocessing::ColorSpaceTransformation> ModelColorSpace(
    const util::Map& metadata, const std::string& modelFile) {
    const std::string* name = metadata.GetString("color_space");
    if (name == nullptr) {
        return nullptr;
    }
    for (const ColorSpaceRow& row : ColorSpaceRows()) {
        if (row.module.name == *name) {
            return row.create();
        }
    }
    throw InputError("The model file '" + EchoedPath(modelFile) +
                     "' names an unknown colour space '" + EchoedInput(*name) +
                     "' under \"color_space\".");
}

// Patterns holding a value that is not a finite number cannot be classified; their windows stay
// "unknown", with one message that counts them.
std::vector<std::shared_ptr<Pattern>> ClassifiablePatterns(
    std::vector<std::shared_ptr<Pattern>> patterns) {
    const std::size_t all = patterns.size();
    std::erase_if(patterns, [](const std::shared_ptr<Pattern>& pattern) {
        const std::vector<double>& values = *pattern->Descriptors();
        return !std::all_of(values.begin(), values.end(),
                            [](double value) { return std::isfinite(value); });
    });
    if (patterns.size() < all) {
        LogMessage(std::to_string(all - patterns.size()) + " of the " + std::to_string(all) +
                   " windows hold feature values that are not finite numbers; they stay "
                   "unknown.");
    }
    return patterns;
}

}  // namespace

int SamplingStep(const std::string& samplingMethod, int windowSize) {
    if (windowSize < 1) {
        return 0;
    }
    if (samplingMethod == "window") {
        return windowSize;
    }
    if (samplingMethod == "half") {
        return std::max(windowSize / 2, 1);
    }
    return samplingMethod == "pixel" ? 1 : 0;
}

std::vector<Window> SamplingGrid(const std::string& samplingMethod, int width, int height,
                                 int windowSize) {
    const int step = SamplingStep(samplingMethod, windowSize);
    std::vector<Window> windows;
    if (step < 1) {
        return windows;
    }
    for (int x = 0; x + windowSize <= width; x += step) {
        for (int y = 0; y + windowSize <= height; y += step) {
            windows.push_back({x, y});
        }
    }
    return windows;
}

std::string WritePolygonFile(const std::vector<std::string>& labels,
                             const Segmentation& segmentation, const std::string& base) {
    const util::Map& metadata = *segmentation.metadata;
    const std::vector<Window>& windows = segmentation.windows;
    WindowFileWriter writer(TimestampedFileName(base, "cct"),
                            LastPathComponent(segmentation.imageFile),
                            StringList(metadata.GetCollection("classes")),
                            StringList(metadata.GetCollection("colors")), windows.size());
    for (std::size_t i = 0; i < windows.size() && i < labels.size(); ++i) {
        writer.AddLabel(labels[i]);
    }
    return writer.Finish(*metadata.GetInt("window_size"),
                         [&](std::size_t i) { return std::make_pair(windows[i].x, windows[i].y); });
}

std::string WriteSegmentation(const Segmentation& segmentation, const std::string& base) {
    return WritePolygonFile({}, segmentation, base);
}

std::vector<std::string> ClassifyPatterns(PatternRecognitionAlgorithm& classifier,
                                          const std::vector<std::string>& classes,
                                          const std::vector<std::shared_ptr<Pattern>>& patterns,
                                          int windowCount) {
    std::vector<std::string> labels(static_cast<std::size_t>(std::max(windowCount, 0)));
    for (const auto& pattern : patterns) {
        const int answer = classifier.Classify(*pattern->Descriptors());
        if (answer < 0 || answer >= static_cast<int>(classes.size())) {
            continue;
        }
        const int window = std::stoi(pattern->Metadata("polygonId"));
        if (window >= 0 && window < windowCount) {
            labels[static_cast<std::size_t>(window)] = classes[static_cast<std::size_t>(answer)];
        }
    }
    return labels;
}

std::string ClassifyImage(ParameterParser& parser) {
    const bool chatty = parser.IsChatty();
    const std::string modelFile = parser.ModelFile();
    const std::string samplingMethod = parser.SamplingMethod();
    const std::string outputPrefix = parser.OutputPrefix();
    Chat(chatty, "Loading model");
    std::shared_ptr<util::Map> model = ReadModelFile(modelFile);
    const util::Map& metadata = ModelMetadata(*model);
    auto classifier = RestoreClassifier(parser, model, modelFile);
    const std::string parameters = *metadata.GetString("feature_extraction_parameters");
    // Built now, quietly, so that a model whose parts disagree is refused before the image is
    // read; a parameter string that builds nothing is reported below, in its place in the
    // protocol.
    auto extractor = parser.FeatureExtractionFromParameters(parameters, false);
    if (extractor) {
        CheckModelAgainstExtractor(metadata, *extractor, *classifier, modelFile);
    }

    const auto transformation = ModelColorSpace(metadata, modelFile);
    const std::string imageFile = parser.ImageFile();
    if (imageFile.empty()) {
        throw InputError::AlreadyReported();
    }
    auto image = ReadInputImage(imageFile);
    const int windowSize = *metadata.GetInt("window_size");
    const int step = SamplingStep(samplingMethod, windowSize);
    if (step < 1) {
        throw InputError("The sampling method '" + EchoedInput(samplingMethod) +
                         "' is not one of \"window\", \"half\" and \"pixel\" (option "
                         "'--sampling').");
    }
    // A stored parameter string that builds no extractor is reported here, before anything is
    // written, so that such a model leaves no file behind.
    if (!extractor) {
        extractor = parser.FeatureExtractionFromParameters(parameters);
    }

    Chat(chatty, "Segmenting image");
    if (!extractor) {
        Chat(chatty, "Creating extraction algorithm");
        Chat(chatty, "No valid extraction algorithm selected.");
        throw InputError::AlreadyReported();
    }
    const Segmentation segmentation{
        imageFile, &metadata,
        SamplingGrid(samplingMethod, image->Width(), image->Height(), windowSize)};
    const std::string segmentationFile =
        WriteSegmentation(segmentation, outputPrefix + "processing");
    const int windowCount = static_cast<int>(segmentation.windows.size());

    MapProcessor processor(chatty);
    processor.imageFile = imageFile;
    // A model trained on a colour variant sees the new image in the same colour space.
    processor.image = transformation ? TransformedImage(*image, *transformation) : image;
    processor.polygonFile = segmentationFile;

    Chat(chatty, "Creating extraction algorithm");
    if (chatty) {
        std::cout << "[TASK] !Extracting features!" << std::endl;
    }
    auto descriptors = processor.Process(*extractor);

    std::vector<std::shared_ptr<Pattern>> patterns;
    patterns.reserve(descriptors.size());
    for (const auto& descriptor : descriptors) {
        auto pattern = std::make_shared<Pattern>();
        pattern->SetMetadata({{"polygonId", std::to_string(descriptor->PolygonId())}});
        std::vector<double> values;
        for (const auto& band : descriptor->Features()) {
            values.insert(values.end(), band.begin(), band.end());
        }
        pattern->SetDescriptors(std::move(values));
        patterns.push_back(pattern);
    }

    if (chatty) {
        std::cout << "[TASK] !Classifying!" << std::endl;
    }
    const std::vector<std::string> classes = StringList(metadata.GetCollection("classes"));
    const std::vector<std::string> labels = ClassifyPatterns(
        *classifier, classes, ClassifiablePatterns(std::move(patterns)), windowCount);
    const std::string resultsFile = WritePolygonFile(
        labels, segmentation,
        (outputPrefix.empty() ? DirectoryPrefix(imageFile) : outputPrefix) + "results");

    ClassMap picture(image->Width(), image->Height(), windowSize, step, classes,
                     StringList(metadata.GetCollection("colors")));
    for (std::size_t i = 0; i < segmentation.windows.size(); ++i) {
        const auto position = std::find(classes.begin(), classes.end(), labels[i]);
        picture.Paint(
            segmentation.windows[i].x, segmentation.windows[i].y,
            position == classes.end() ? -1 : static_cast<int>(position - classes.begin()));
    }
    picture.Write(resultsFile.substr(0, resultsFile.rfind('.')) + ".png");
    return resultsFile;
}

}  // namespace velkar::ordana
