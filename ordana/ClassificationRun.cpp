#include "ordana/ClassificationRun.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "ordana/AlgorithmCatalog.h"
#include "ordana/ClassMap.h"
#include "ordana/ConsoleProgress.h"
#include "ordana/EchoedInput.h"
#include "ordana/FileNames.h"
#include "ordana/InputError.h"
#include "ordana/InputImage.h"
#include "ordana/ModelFile.h"
#include "ordana/ParameterParser.h"
#include "ordana/WindowFileWriter.h"
#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"
#include "velkar/featureextraction/WindowGrid.h"
#include "velkar/util/Parallel.h"

namespace velkar::ordana {

namespace {

using featureextraction::FeatureExtractionAlgorithm;
using featureextraction::WindowGrid;
using patternrecognition::PatternRecognitionAlgorithm;

// Restores the model's classifier, or rejects a model that cannot classify.
std::shared_ptr<PatternRecognitionAlgorithm> RestoreClassifier(AlgorithmBuilder& builder,
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

// The model and what it holds, checked against itself.
struct LoadedModel {
    std::shared_ptr<util::Map> model;
    std::string parameters;
    int windowSize = 0;
    std::vector<std::string> classes;
    std::vector<std::string> colours;
    // Built quietly for the checks; none when the parameter string builds nothing, which is
    // reported once the image is read.
    std::shared_ptr<FeatureExtractionAlgorithm> extractor;
    std::shared_ptr<imageprocessing::ColorSpaceTransformation> transformation;
};

// Reads the model, restores its classifier and builds its extractor, so that a model whose
// parts disagree is refused before the image is read.
LoadedModel LoadModel(const ClassificationSettings& settings, AlgorithmBuilder& builder) {
    settings.protocol->Note("Loading model");
    LoadedModel loaded;
    loaded.model = ReadModelFile(settings.modelFile);
    const util::Map& metadata = ModelMetadata(*loaded.model);
    auto classifier = RestoreClassifier(builder, loaded.model, settings.modelFile);
    loaded.parameters = *metadata.GetString("feature_extraction_parameters");
    loaded.extractor = builder.FeatureExtractionFromParameters(loaded.parameters, false);
    if (loaded.extractor) {
        CheckModelAgainstExtractor(metadata, *loaded.extractor, *classifier, settings.modelFile);
    }
    loaded.transformation = ModelColorSpace(metadata, settings.modelFile);
    loaded.windowSize = *metadata.GetInt("window_size");
    loaded.classes = StringList(metadata.GetCollection("classes"));
    loaded.colours = StringList(metadata.GetCollection("colors"));
    return loaded;
}

// The image, the grid of windows over it and the extractor set to the image; the segmentation
// file is written meanwhile on a thread of its own, as it does not depend on the answers.
struct SegmentedImage {
    std::string imageName;
    std::unique_ptr<WindowGrid> grid;
    int step = 0;
    std::future<WindowFileWriter::Written> segmentation;
    // The windows of the segmentation file written so far.
    std::unique_ptr<std::atomic<std::size_t>> segmentationDone =
        std::make_unique<std::atomic<std::size_t>>(0);
};

SegmentedImage SegmentImage(const ClassificationSettings& settings, AlgorithmBuilder& builder,
                            LoadedModel& loaded) {
    const ProtocolWriter& protocol = *settings.protocol;
    if (!settings.imageFile) {
        throw InputError(MissingParameterMessage("image"));
    }
    const std::string& imageFile = *settings.imageFile;
    if (imageFile.empty()) {
        throw InputError::AlreadyReported();
    }
    auto image = ReadInputImage(imageFile);
    SegmentedImage segmented;
    segmented.step = SamplingStep(settings.samplingMethod, loaded.windowSize);
    if (segmented.step < 1) {
        throw InputError("The sampling method '" + EchoedInput(settings.samplingMethod) +
                         "' is not one of \"window\", \"half\" and \"pixel\" (option "
                         "'--sampling').");
    }
    // A stored parameter string that builds no extractor is reported here, before anything is
    // written, so that such a model leaves no file behind.
    if (!loaded.extractor) {
        loaded.extractor = builder.FeatureExtractionFromParameters(loaded.parameters);
    }

    protocol.Note("Segmenting image");
    if (!loaded.extractor) {
        protocol.Note("Creating extraction algorithm");
        protocol.Note("No valid extraction algorithm selected.");
        throw InputError::AlreadyReported();
    }
    // The grid is generated, never held: window i lies at (grid.X(i), grid.Y(i)).
    segmented.grid = std::make_unique<WindowGrid>(loaded.windowSize, segmented.step, image->Width(),
                                                  image->Height());
    const WindowGrid& grid = *segmented.grid;
    if (grid.Count() == 0) {
        protocol.Warning("The image '" + EchoedPath(imageFile) + "' (" +
                         std::to_string(image->Width()) + " x " + std::to_string(image->Height()) +
                         " pixels) is smaller than the " + std::to_string(loaded.windowSize) +
                         "-pixel window of the model; it gives no window, and the results list "
                         "none.");
    }
    segmented.imageName = LastPathComponent(imageFile);
    segmented.segmentation = std::async(
        std::launch::async, [&grid, &loaded, &settings, name = segmented.imageName,
                             done = segmented.segmentationDone.get(), stem = ImageStem(imageFile)] {
            return WindowFileWriter(
                       TimestampedFileName(settings.outputPrefix + stem + "_processing", "cct"),
                       name, loaded.classes, loaded.colours, grid.Count())
                .Finish(
                    loaded.windowSize,
                    [&grid](std::size_t i) { return std::make_pair(grid.X(i), grid.Y(i)); }, done);
        });

    protocol.Note("Creating extraction algorithm");
    protocol.Task("Extracting features");
    protocol.Note("Processing image with " + loaded.extractor->Name() + ".");
    // A model trained on a colour variant sees the new image in the same colour space.
    loaded.extractor->SetImage(
        loaded.transformation ? TransformedImage(*image, *loaded.transformation) : image);
    protocol.Task("Classifying");
    return segmented;
}

// Classifies the windows of a batch on every thread, in chunks of kChunk windows, each thread
// with a classifier restored for it (a classifier changes its own state while classifying).
// Every window's label line goes into its chunk's text, in window order, and its square into the
// picture: the squares of different windows never overlap, so the chunks paint side by side.
// Windows whose features are not all finite numbers stay unknown without being classified.
class BatchClassifier {
  public:
    static constexpr std::size_t kChunk = 4096;

    BatchClassifier(AlgorithmBuilder& builder, std::shared_ptr<util::Map> model,
                    const std::vector<std::string>& classes, ClassMap& picture)
        : classes(classes), picture(picture), classifiers([this, &builder, model] {
              std::lock_guard<util::CriticalSection> guard(restoring);
              return builder.RestoreAlgorithm(*ModelMetadata(*model).GetString("algorithm_name"),
                                              model);
          }) {}

    // The count windows from first on, their features in rows of featureCount values; text gets
    // one string of label lines per chunk. Returns the number of windows whose features are not
    // all finite.
    std::size_t Classify(const featureextraction::WindowGrid& grid, std::size_t first,
                         std::size_t count, const std::vector<double>& features, int featureCount,
                         std::vector<std::string>& text) {
        std::atomic<std::size_t> notFinite{0};
        const std::size_t length = static_cast<std::size_t>(featureCount);
        text.resize((count + kChunk - 1) / kChunk);
        util::ParallelFor(text.size(), [&](std::size_t chunk) {
            PatternRecognitionAlgorithm& classifier = *classifiers.Local();
            std::vector<double> row(length);
            std::string& lines = text[chunk];
            lines.clear();
            const std::size_t end = std::min(count, (chunk + 1) * kChunk);
            for (std::size_t i = chunk * kChunk; i < end; ++i) {
                const double* values = features.data() + i * length;
                int answer = -1;
                if (std::all_of(values, values + length,
                                [](double v) { return std::isfinite(v); })) {
                    row.assign(values, values + length);
                    answer = classifier.Classify(row);
                } else {
                    ++notFinite;
                }
                const bool known = answer >= 0 && answer < static_cast<int>(classes.size());
                const std::string_view label =
                    known ? std::string_view(classes[static_cast<std::size_t>(answer)]) : "";
                lines.append(label.empty() ? WindowFileWriter::kUnknown : label);
                lines.push_back('\n');
                picture.Paint(grid.X(first + i), grid.Y(first + i), known ? answer : -1);
            }
        });
        return notFinite;
    }

  private:
    const std::vector<std::string>& classes;
    ClassMap& picture;
    util::CriticalSection restoring;
    util::Combinable<std::shared_ptr<PatternRecognitionAlgorithm>> classifiers;
};

// The progress line of a classification: the windows classified and the windows of the
// segmentation file written count as one half of the work each.
void ShowProgress(ConsoleProgress& progress, std::size_t classified,
                  const SegmentedImage& segmented) {
    const std::size_t count = segmented.grid->Count();
    if (count == 0) {
        return;
    }
    const double done = static_cast<double>(classified + segmented.segmentationDone->load()) /
                        (2.0 * static_cast<double>(count));
    progress.Show("Classifying windows: " + std::to_string(static_cast<int>(done * 100.0)) +
                      "% of " + std::to_string(count),
                  done);
}

// Windows go through extraction and classification a batch at a time; the results file and
// the picture take each batch's answers as it completes.
void ClassifyBatches(const ClassificationSettings& settings, AlgorithmBuilder& builder,
                     const LoadedModel& loaded, const SegmentedImage& segmented,
                     WindowFileWriter& results, ClassMap& picture, ConsoleProgress& progress) {
    const WindowGrid& grid = *segmented.grid;
    BatchClassifier classifiers(builder, loaded.model, loaded.classes, picture);
    FeatureExtractionAlgorithm& extractor = *loaded.extractor;
    std::vector<double> features;
    std::vector<std::string> labelText;
    std::size_t skipped = 0;
    const std::size_t batch = std::max<std::size_t>(settings.batchSize, 1);
    for (std::size_t first = 0; first < grid.Count(); first += batch) {
        const std::size_t count = std::min(batch, grid.Count() - first);
        ShowProgress(progress, first, segmented);
        extractor.DescribeGrid(grid, first, count, features);
        skipped +=
            classifiers.Classify(grid, first, count, features, extractor.FeatureCount(), labelText);
        for (std::size_t chunk = 0; chunk < labelText.size(); ++chunk) {
            results.AddLabelLines(
                labelText[chunk],
                std::min(BatchClassifier::kChunk, count - chunk * BatchClassifier::kChunk));
        }
    }
    if (skipped > 0) {
        settings.protocol->Warning(std::to_string(skipped) + " of the " +
                                   std::to_string(grid.Count()) +
                                   " windows hold feature values that are not finite numbers; "
                                   "they stay unknown.");
    }
}

// The window section of the results equals the segmentation file's: it is copied, not formatted
// again, once that file is written. The picture goes beside the results. Returns the results
// file's path.
std::string FinishFiles(WindowFileWriter& results, SegmentedImage& segmented,
                        const ClassMap& picture, ConsoleProgress& progress) {
    while (segmented.segmentation.wait_for(std::chrono::milliseconds(200)) !=
           std::future_status::ready) {
        ShowProgress(progress, segmented.grid->Count(), segmented);
    }
    const std::string resultsFile = results.FinishWithCornersOf(segmented.segmentation.get());
    picture.Write(resultsFile.substr(0, resultsFile.rfind('.')) + ".png");
    return resultsFile;
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

std::string ClassifyImage(const ClassificationSettings& settings, AlgorithmBuilder& builder) {
    LoadedModel loaded = LoadModel(settings, builder);
    SegmentedImage segmented = SegmentImage(settings, builder, loaded);
    const WindowGrid& grid = *segmented.grid;
    WindowFileWriter results(
        TimestampedFileName(OutputPrefixFor(settings.outputPrefix, *settings.imageFile) +
                                ImageStem(*settings.imageFile) + "_results",
                            "cct"),
        segmented.imageName, loaded.classes, loaded.colours, grid.Count());
    ClassMap picture(grid.Width(), grid.Height(), loaded.windowSize, segmented.step, loaded.classes,
                     loaded.colours);
    ConsoleProgress progress(*settings.protocol);
    ClassifyBatches(settings, builder, loaded, segmented, results, picture, progress);
    return FinishFiles(results, segmented, picture, progress);
}

std::string RunClassificationMode(ParameterParser& parser, AlgorithmBuilder& builder,
                                  const ProtocolWriter& protocol) {
    ClassificationSettings settings;
    settings.modelFile = parser.ModelFile();
    settings.imageFile = parser.GivenImageFile();
    settings.samplingMethod = parser.SamplingMethod();
    settings.outputPrefix = parser.OutputPrefix();
    settings.protocol = &protocol;
    return ClassifyImage(settings, builder);
}

}  // namespace velkar::ordana
