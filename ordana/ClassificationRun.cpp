#include "ordana/ClassificationRun.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <mutex>
#include <new>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#include "ordana/AlgorithmCatalog.h"
#include "ordana/ClassLegend.h"
#include "ordana/ClassMap.h"
#include "ordana/ConsoleProgress.h"
#include "ordana/EchoedInput.h"
#include "ordana/FileNames.h"
#include "ordana/GridRegion.h"
#include "ordana/InputError.h"
#include "ordana/InputImage.h"
#include "ordana/ModelFile.h"
#include "ordana/PageContent.h"
#include "ordana/OutputFile.h"
#include "ordana/ParameterParser.h"
#include "ordana/ResultLayers.h"
#include "ordana/SceneRaster.h"
#include "ordana/WindowFileWriter.h"
#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"
#include "velkar/featureextraction/WindowGrid.h"
#include "velkar/imageprocessing/AbsentPixels.h"
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
    // The bands and stretches the model records, and its classifier's input size (-1 when it
    // takes any).
    BandRequest bands;
    int inputSize = -1;
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
    loaded.bands = ModelBands(metadata);
    if (loaded.extractor) {
        // The extractor counts the features of the bands the model was trained on.
        const int bandCount =
            loaded.bands.numbers ? static_cast<int>(loaded.bands.numbers->size()) : 3;
        try {
            loaded.extractor->SetImage(imageprocessing::ImageFileSystem::Create(
                settings.modelFile, 0, 0, bandCount));
        } catch (const std::invalid_argument& error) {
            throw InputError("The model file '" + EchoedPath(settings.modelFile) +
                             "' records " + std::to_string(bandCount) +
                             " bands, which its extractor cannot take: " + error.what() + ".");
        }
        CheckModelAgainstExtractor(metadata, *loaded.extractor, *classifier, settings.modelFile);
    }
    loaded.transformation = ModelColorSpace(metadata, settings.modelFile);
    loaded.windowSize = *metadata.GetInt("window_size");
    loaded.classes = StringList(metadata.GetCollection("classes"));
    loaded.colours = StringList(metadata.GetCollection("colors"));
    loaded.inputSize = classifier->InputSize();
    return loaded;
}

// The image, the grid of windows over it and the extractor set to the image; the segmentation
// file is written meanwhile on a thread of its own, as it does not depend on the answers.
struct SegmentedImage {
    std::string imageName;
    std::unique_ptr<SceneRaster> scene;
    std::unique_ptr<GridRegion> grid;
    int step = 0;
    // The windows of the segmentation file written so far.
    std::unique_ptr<std::atomic<std::size_t>> segmentationDone =
        std::make_unique<std::atomic<std::size_t>>(0);
    // Not valid when the segmentation file is not written. Declared last, so that a run that
    // fails waits here for the writer before the count and the grid it uses go.
    std::future<WindowFileWriter::Written> segmentation;
};

// The image with the bands and stretches of the command line, or else of the model; a request
// the image cannot meet is refused naming where it came from.
std::unique_ptr<SceneRaster> OpenScene(const ClassificationSettings& settings,
                                       const LoadedModel& loaded) {
    const std::string& imageFile = *settings.imageFile;
    BandRequest request = loaded.bands;
    if (settings.bands) {
        request = BandRequest{};
        request.numbers = ParseBandList(*settings.bands);
    }
    if (settings.stretch) {
        request.stretch = ParseStretch(*settings.stretch);
        request.stretches.reset();
    }
    try {
        // A large picture decodes while the first bands of grid rows are classified, when no
        // output wants the windows in column order (and no segmentation file is being written,
        // which a damaged picture would otherwise wait for before its message).
        const bool byRows = !settings.outputs.Has("grid") && !settings.outputs.Has("labels") &&
                            !settings.outputs.Has("gpkg");
        return std::make_unique<SceneRaster>(imageFile, request, byRows);
    } catch (const SceneRaster::BandError& error) {
        if (settings.bands) {
            throw InputError(RejectionMessage({"bands"}, {*settings.bands}, error.what()));
        }
        throw InputError("The model file '" + EchoedPath(settings.modelFile) +
                         "' records bands the image cannot give: " + error.what() + ".");
    }
}

// The model's extractor, colour space and classifier must take the bands the image is read
// as: refused otherwise, naming both counts.
void CheckBandsAgainstModel(const ClassificationSettings& settings, const LoadedModel& loaded,
                            const SceneRaster& scene) {
    const std::string image = "The image '" + EchoedPath(*settings.imageFile) + "' is read as " +
                              scene.Description();
    if (loaded.transformation && scene.BandCount() != 3) {
        throw InputError(ColourSpaceBandMessage(*loaded.transformation, scene.BandCount()));
    }
    try {
        loaded.extractor->SetImage(imageprocessing::ImageFileSystem::Create(
            *settings.imageFile, 0, 0, scene.BandCount()));
    } catch (const std::invalid_argument& error) {
        throw InputError(image + ": " + error.what() + ".");
    }
    if (loaded.inputSize >= 0 && loaded.inputSize != loaded.extractor->FeatureCount()) {
        const std::size_t recorded =
            loaded.bands.numbers ? loaded.bands.numbers->size() : std::size_t{3};
        throw InputError(image + ", which gives " +
                         std::to_string(loaded.extractor->FeatureCount()) +
                         " features per window, but the model file '" +
                         EchoedPath(settings.modelFile) + "' takes " +
                         std::to_string(loaded.inputSize) + " (it was trained on " +
                         std::to_string(recorded) + " bands); choose the bands with '--bands'.");
    }
}

// Whether a stored parameter string holds the flag of any feature extractor.
bool NamesAnExtractor(const std::string& parameters) {
    std::istringstream words(parameters);
    for (std::string word; words >> word;) {
        for (const ExtractorRow& row : ExtractorRows()) {
            if (word == "--" + row.module.flag) {
                return true;
            }
        }
    }
    return false;
}

SegmentedImage SegmentImage(const ClassificationSettings& settings, AlgorithmBuilder& builder,
                            LoadedModel& loaded);

// The segmented image, with the steps of the run announced.
SegmentedImage StartRun(const ClassificationSettings& settings, AlgorithmBuilder& builder,
                        LoadedModel& loaded) {
    SegmentedImage segmented = SegmentImage(settings, builder, loaded);
    const ProtocolWriter& protocol = *settings.protocol;
    protocol.Note("Creating extraction algorithm");
    protocol.Task("Extracting features");
    protocol.Note("Processing image with " + loaded.extractor->Name() + ".");
    protocol.Task("Classifying");
    return segmented;
}

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
    SegmentedImage segmented;
    segmented.scene = OpenScene(settings, loaded);
    const SceneRaster& image = *segmented.scene;
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
        // The protocol line above is the front end's. A parameter string that fails to build
        // its extractor has had its reason reported; one that names none is explained here.
        if (!NamesAnExtractor(loaded.parameters)) {
            protocol.ForPerson("ordana: error: The model file '" + EchoedPath(settings.modelFile) +
                           "' names no feature extractor in its \"feature_extraction_parameters\" ('" +
                           EchoedInput(loaded.parameters) + "').");
        }
        throw InputError::AlreadyReported();
    }
    CheckBandsAgainstModel(settings, loaded, image);
    if (!image.IsPlain()) {
        const std::string description =
            "The image '" + EchoedPath(imageFile) + "' is read as " + image.Description() + ".";
        protocol.Note(description);
        protocol.ForPerson(description);
    }
    // The grid is generated, never held: window i lies at (grid.X(i), grid.Y(i)).
    const GridRegion::Rectangle area =
        settings.region ? GridRegion::Parse(*settings.region, image.Width(), image.Height())
                        : GridRegion::Rectangle{0, 0, image.Width(), image.Height()};
    segmented.grid = std::make_unique<GridRegion>(area, loaded.windowSize, segmented.step,
                                                  image.Width(), image.Height());
    const GridRegion& grid = *segmented.grid;
    if (grid.Count() == 0 && !grid.IsWholeImage()) {
        throw InputError("The region '" + EchoedInput(*settings.region) +
                         "' (option '--region') of '" + EchoedPath(imageFile) +
                         "' holds the corner of no " + std::to_string(loaded.windowSize) +
                         "-pixel window of the grid, so nothing is classified.");
    }
    if (grid.Count() == 0) {
        throw InputError("The image '" + EchoedPath(imageFile) + "' (" +
                         std::to_string(image.Width()) + " x " + std::to_string(image.Height()) +
                         " pixels) is smaller than the " + std::to_string(loaded.windowSize) +
                         "-pixel window of the model; it gives no window, so nothing is "
                         "classified.");
    }
    segmented.imageName = LastPathComponent(imageFile);
    segmented.imageName = LastPathComponent(imageFile);
    if (!settings.outputs.Has("grid")) {
        // The progress line counts the segmentation file's half of the work as done.
        segmented.segmentationDone->store(grid.Count());
        return segmented;
    }
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

    // picture may be null, for a run that paints none.
    BatchClassifier(AlgorithmBuilder& builder, std::shared_ptr<util::Map> model,
                    const std::vector<std::string>& classes, ClassMap* picture)
        : classes(classes), picture(picture), classifiers([this, &builder, model] {
              std::lock_guard<util::CriticalSection> guard(restoring);
              return builder.RestoreAlgorithm(*ModelMetadata(*model).GetString("algorithm_name"),
                                              model);
          }) {}

    struct Unknown {
        std::size_t notFinite = 0;
        std::size_t absent = 0;
        // Answers past the model's class list, and the largest of them.
        std::size_t beyondClasses = 0;
        int largestAnswer = -1;
        // The windows given each class, and then those left unknown for any reason.
        std::vector<long long> perAnswer;
    };

    // The count windows of the batch's grid, whose window n has its corner at (left, top) +
    // (batch.X(n), batch.Y(n)) in the image, their features in rows of featureCount values; a
    // window whose absent flag is set holds pixels without data and stays unknown. text gets one
    // string of label lines per chunk, unless it is null, and answers each window's class (-1
    // for unknown). Returns the windows left unknown for either reason.
    Unknown Classify(const WindowGrid& batch, int left, int top, std::size_t count,
                     const std::vector<double>& features, int featureCount,
                     const std::vector<unsigned char>& absent, std::vector<std::string>* text,
                     std::vector<int>& answers) {
        std::atomic<std::size_t> notFinite{0};
        std::atomic<std::size_t> withoutData{0};
        std::atomic<std::size_t> beyond{0};
        std::atomic<int> largest{-1};
        const std::size_t length = static_cast<std::size_t>(featureCount);
        const std::size_t chunks = (count + kChunk - 1) / kChunk;
        if (text != nullptr) {
            text->resize(chunks);
        }
        answers.assign(count, -1);
        std::vector<long long> perAnswer(classes.size() + 1, 0);
        std::mutex counting;
        util::ParallelFor(chunks, [&](std::size_t chunk) {
            PatternRecognitionAlgorithm& classifier = *classifiers.Local();
            std::vector<long long> counts(classes.size() + 1, 0);
            std::vector<double> row(length);
            std::string* lines = text != nullptr ? &(*text)[chunk] : nullptr;
            if (lines != nullptr) {
                lines->clear();
            }
            const std::size_t end = std::min(count, (chunk + 1) * kChunk);
            for (std::size_t i = chunk * kChunk; i < end; ++i) {
                const double* values = features.data() + i * length;
                int answer = -1;
                if (!absent.empty() && absent[i] != 0) {
                    ++withoutData;
                } else if (std::all_of(values, values + length,
                                       [](double v) { return std::isfinite(v); })) {
                    row.assign(values, values + length);
                    answer = classifier.Classify(row);
                } else {
                    ++notFinite;
                }
                const bool known = answer >= 0 && answer < static_cast<int>(classes.size());
                if (answer >= static_cast<int>(classes.size())) {
                    ++beyond;
                    for (int seen = largest.load(); answer > seen &&
                                                    !largest.compare_exchange_weak(seen, answer);) {
                    }
                }
                if (lines != nullptr) {
                    const std::string_view label =
                        known ? std::string_view(classes[static_cast<std::size_t>(answer)]) : "";
                    lines->append(label.empty() ? WindowFileWriter::kUnknown : label);
                    lines->push_back('\n');
                }
                answers[i] = known ? answer : -1;
                ++counts[known ? static_cast<std::size_t>(answer) : classes.size()];
                if (picture != nullptr) {
                    picture->Paint(left + batch.X(i), top + batch.Y(i), answers[i]);
                }
            }
            const std::lock_guard<std::mutex> guard(counting);
            for (std::size_t c = 0; c < counts.size(); ++c) {
                perAnswer[c] += counts[c];
            }
        });
        return {notFinite, withoutData, beyond, largest, std::move(perAnswer)};
    }

  private:
    const std::vector<std::string>& classes;
    ClassMap* picture;
    util::CriticalSection restoring;
    util::Combinable<std::shared_ptr<PatternRecognitionAlgorithm>> classifiers;
};

// The grid lines (columns of `across` windows each, or rows) a batch takes: as many as hold
// batchSize windows, fewer when their strip of pixels would pass kStripPixels, and one at least.
std::size_t LinesPerBatch(const WindowGrid& grid, std::size_t across, std::size_t batchSize) {
    const long long stripSide =
        static_cast<long long>(across - 1) * grid.Step() + grid.WindowSize();
    const long long byPixels =
        (kStripPixels / stripSide - grid.WindowSize()) / grid.Step() + 1;
    const std::size_t byWindows = std::max<std::size_t>(batchSize, 1) / across;
    return std::max<std::size_t>(
        1, std::min(byWindows, static_cast<std::size_t>(std::max(byPixels, 1LL))));
}

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

// The windows given each class, and those left unknown.
struct WindowTally {
    std::vector<long long> perClass;
    long long unknown = 0;
};

// Windows go through extraction and classification a batch of grid columns at a time (or of
// grid rows, when no results file and no GeoPackage take the answers in window order): the strip
// of pixels the batch's windows cover is read, turned into the model's colour space and
// described on a grid local to it, whose windows are the batch's in the same order. The results
// file and the picture, where they are written (not null), take each batch's answers as it
// completes.
void ClassifyBatches(const ClassificationSettings& settings, AlgorithmBuilder& builder,
                     const LoadedModel& loaded, const SegmentedImage& segmented,
                     WindowFileWriter* results, ClassMap* picture, ResultLayers* layers,
                     WindowTally& tally, ConsoleProgress& progress) {
    const GridRegion& grid = *segmented.grid;
    const SceneRaster& scene = *segmented.scene;
    BatchClassifier classifiers(builder, loaded.model, loaded.classes, picture);
    tally.perClass.assign(loaded.classes.size(), 0);
    std::vector<int> answers;
    FeatureExtractionAlgorithm& extractor = *loaded.extractor;
    std::vector<double> features;
    std::vector<unsigned char> absent;
    std::vector<std::string> labelText;
    BatchClassifier::Unknown unknown;
    if (grid.Count() == 0) {
        return;
    }
    const WindowGrid& regionGrid = grid.Local();
    const std::size_t rows = regionGrid.Rows();
    const std::size_t batchSize =
        settings.batchSize != 0
            ? settings.batchSize
            : std::clamp(kBatchFeatureValues /
                             static_cast<std::size_t>(std::max(extractor.FeatureCount(), 1)),
                         kClassificationBatch, kLargestBatch);
    const int w = regionGrid.WindowSize();
    const int step = regionGrid.Step();
    // The windows of grid columns column ... column + columns - 1 and rows row ... row + count
    // / columns - 1, described on a grid local to their strip of pixels, in the same order.
    std::size_t classified = 0;
    const auto classifyBatch = [&](std::size_t column, std::size_t columns, std::size_t row,
                                   std::size_t batchRows) {
        const std::size_t count = columns * batchRows;
        ShowProgress(progress, classified, segmented);
        const int left = grid.X(column * rows);
        const int top = grid.Y(row);
        const int stripWidth = static_cast<int>(columns - 1) * step + w;
        const int stripHeight = static_cast<int>(batchRows - 1) * step + w;
        auto strip = scene.Read({left, top, stripWidth, stripHeight});
        // A model trained on a colour variant sees the new image in the same colour space.
        extractor.SetImage(loaded.transformation ? TransformedImage(*strip, *loaded.transformation)
                                                 : strip);
        const WindowGrid local(w, step, stripWidth, stripHeight);
        extractor.DescribeGrid(local, 0, count, features);
        absent.clear();
        const imageprocessing::AbsentPixels absentPixels(*strip);
        if (absentPixels.Any()) {
            absent.resize(count);
            for (std::size_t n = 0; n < count; ++n) {
                absent[n] = absentPixels.Count(local.X(n), local.Y(n), w, w) > 0 ? 1 : 0;
            }
        }
        if (picture != nullptr) {
            picture->BeginStrip(left, left + local.X(count - 1), top, top + local.Y(count - 1));
        }
        const BatchClassifier::Unknown batchUnknown =
            classifiers.Classify(local, left, top, count, features, extractor.FeatureCount(),
                                 absent, results != nullptr ? &labelText : nullptr, answers);
        if (picture != nullptr) {
            picture->EndStrip();
        }
        for (std::size_t c = 0; c < tally.perClass.size(); ++c) {
            tally.perClass[c] += batchUnknown.perAnswer[c];
        }
        tally.unknown += batchUnknown.perAnswer.back();
        if (layers != nullptr) {
            layers->AddWindows(regionGrid, column * rows, answers, grid.OriginX(),
                               grid.OriginY());
        }
        unknown.notFinite += batchUnknown.notFinite;
        unknown.absent += batchUnknown.absent;
        unknown.beyondClasses += batchUnknown.beyondClasses;
        unknown.largestAnswer = std::max(unknown.largestAnswer, batchUnknown.largestAnswer);
        for (std::size_t chunk = 0; results != nullptr && chunk < labelText.size(); ++chunk) {
            results->AddLabelLines(
                labelText[chunk],
                std::min(BatchClassifier::kChunk, count - chunk * BatchClassifier::kChunk));
        }
        classified += count;
    };
    if (results == nullptr && layers == nullptr) {
        // Nothing is written in window order: bands of whole grid rows from the top, so that a
        // picture still being decoded is classified as its rows arrive.
        const std::size_t rowsPerBatch =
            LinesPerBatch(regionGrid, regionGrid.Columns(), batchSize);
        for (std::size_t row = 0; row < rows; row += rowsPerBatch) {
            classifyBatch(0, regionGrid.Columns(), row, std::min(rowsPerBatch, rows - row));
        }
    } else {
        const std::size_t columnsPerBatch = LinesPerBatch(regionGrid, rows, batchSize);
        for (std::size_t column = 0; column < regionGrid.Columns(); column += columnsPerBatch) {
            classifyBatch(column, std::min(columnsPerBatch, regionGrid.Columns() - column), 0,
                          rows);
        }
    }
    // A model whose class list is shorter than its classifier's outputs would leave part of the
    // map unknown without a word: the run ends, and the files it wrote go with it.
    if (unknown.beyondClasses > 0) {
        throw InputError("The model file '" + EchoedPath(settings.modelFile) + "' lists " +
                         std::to_string(loaded.classes.size()) +
                         " classes, but its classifier answered class " +
                         std::to_string(unknown.largestAnswer + 1) + " for " +
                         std::to_string(unknown.beyondClasses) + " of the " +
                         std::to_string(grid.Count()) +
                         " windows: its \"classes\" list is shorter than the classifier's "
                         "outputs.");
    }
    if (unknown.absent > 0) {
        settings.protocol->Warning(std::to_string(unknown.absent) + " of the " +
                                   std::to_string(grid.Count()) +
                                   " windows hold pixels without data in '" +
                                   EchoedPath(*settings.imageFile) + "'; they stay unknown.");
    }
    if (unknown.notFinite > 0) {
        settings.protocol->Warning(std::to_string(unknown.notFinite) + " of the " +
                                   std::to_string(grid.Count()) +
                                   " windows hold feature values that are not finite numbers; "
                                   "they stay unknown.");
    }
}

// The report page of the run: the image, the class map and the legend with each class's windows,
// pixels and area (in map units when the image is georeferenced, otherwise in pixels), the model
// and the files written, the class map's among them.
void WritePage(const ClassificationSettings& settings, const LoadedModel& loaded,
               const SceneRaster& scene, const ClassMap& picture,
               const std::vector<long long>& windowsPerClass, const std::string& pictureFile,
               const std::vector<std::string>& filesWritten, const std::string& path) {
    ClassificationPage page;
    page.imageFile = *settings.imageFile;
    page.image = ScenePicture(scene);
    page.classMap = picture.Preview();
    page.classMapFile = pictureFile;
    page.classes = PageClasses(loaded.classes, loaded.colours);
    const PixelArea pixelArea = PixelAreaOf(scene.GetGeoreference());
    page.areaUnit = pixelArea.unit.empty() ? "pixels" : pixelArea.unit;
    for (std::size_t c = 0; c < page.classes.size(); ++c) {
        page.classes[c].windows = windowsPerClass[c];
        page.classes[c].pixels = picture.PixelCounts()[c];
        page.classes[c].area = static_cast<double>(picture.PixelCounts()[c]) *
                               (pixelArea.unit.empty() ? 1.0 : pixelArea.area);
    }
    page.modelFile = settings.modelFile;
    page.modelParameters = ModelSettings(*loaded.model);
    page.filesWritten = filesWritten;
    WriteReportPage(path, RenderClassificationPage(page));
}

// The georeference of the part of the image the area covers.
imageprocessing::Georeference AreaGeoreference(imageprocessing::Georeference georeference,
                                               const GridRegion::Rectangle& area) {
    if (georeference.geoTransform) {
        auto& t = *georeference.geoTransform;
        t[0] += area.x * t[1] + area.y * t[2];
        t[3] += area.x * t[4] + area.y * t[5];
    }
    return georeference;
}

// The outputs of a run, null where --write leaves them out. The class map is painted whenever
// the map, the GeoPackage's regions, the legend or the page need it, and written only when the
// map is chosen.
struct RunOutputs {
    std::optional<WindowFileWriter> results;
    std::optional<ClassMap> picture;
    std::optional<ResultLayers> layers;
};

// The window section of the results equals the segmentation file's: it is copied, not formatted
// again, once that file is written. The class map (a GeoTIFF for an image with a
// geotransform, a PNG otherwise), the GeoPackage, the legend and the report page go beside the
// results, and the legend to the person at the console. Returns the results file's path, or the
// class map's when no results file is written, or the segmentation file's when neither is, or
// else the first file written.
std::string FinishFiles(const ClassificationSettings& settings, const LoadedModel& loaded,
                        RunOutputs& outputs, SegmentedImage& segmented, const std::string& base,
                        const WindowTally& tally, ConsoleProgress& progress) {
    std::optional<WindowFileWriter::Written> segmentation;
    if (segmented.segmentation.valid()) {
        while (segmented.segmentation.wait_for(std::chrono::milliseconds(200)) !=
               std::future_status::ready) {
            ShowProgress(progress, segmented.grid->Count(), segmented);
        }
        segmentation = segmented.segmentation.get();
    }
    const GridRegion& grid = *segmented.grid;
    std::string resultsFile;
    if (outputs.results && segmentation) {
        resultsFile = outputs.results->FinishWithCornersOf(*segmentation);
    } else if (outputs.results) {
        resultsFile = outputs.results
                          ->Finish(loaded.windowSize,
                                   [&grid](std::size_t i) {
                                       return std::make_pair(grid.X(i), grid.Y(i));
                                   })
                          .path;
    }
    // The files beside the results take its name, numbered variant and all.
    const std::string sideBase =
        resultsFile.empty() ? base : resultsFile.substr(0, resultsFile.rfind('.'));
    const SceneRaster& scene = *segmented.scene;
    const auto& geoTransform = scene.GetGeoreference().geoTransform;
    const GridRegion::Rectangle& mapArea = grid.MapArea();
    std::string pictureFile;
    std::string layersFile;
    std::string legendPath;
    std::string pagePath;
    if (outputs.picture) {
        ClassMap& picture = *outputs.picture;
        picture.Finish(geoTransform.has_value());
        if (outputs.layers) {
            outputs.layers->AddRegions(picture.RasterPath(), mapArea.x, mapArea.y);
        }
        if (settings.outputs.Has("map")) {
            pictureFile = geoTransform ? picture.WriteGeoTiff(sideBase + ".tif")
                                       : picture.Write(sideBase + ".png");
        }
    }
    if (outputs.layers) {
        layersFile = outputs.layers->Commit(sideBase + ".gpkg");
    }
    if (outputs.picture && settings.outputs.Has("legend")) {
        std::optional<double> pixelArea;
        if (geoTransform) {
            const auto& t = *geoTransform;
            pixelArea = std::abs(t[1] * t[5] - t[2] * t[4]);
        }
        const std::string legend =
            ClassLegend(loaded.classes, loaded.colours, tally.perClass, tally.unknown,
                        outputs.picture->PixelCounts(),
                        static_cast<long long>(mapArea.width) * mapArea.height, pixelArea)
                .Text();
        OutputFile legendFile(sideBase + ".legend");
        legendFile.Stream() << legend;
        legendPath = legendFile.Commit();
        settings.protocol->ForPerson(legend.substr(0, legend.size() - 1));
    }
    std::vector<std::string> written;
    for (const std::string* path : {segmentation ? &segmentation->path : nullptr, &resultsFile,
                                    &pictureFile, &layersFile, &legendPath}) {
        if (path != nullptr && !path->empty()) {
            written.push_back(*path);
        }
    }
    if (outputs.picture && settings.outputs.Has("page")) {
        pagePath = sideBase + ".html";
        WritePage(settings, loaded, scene, *outputs.picture, tally.perClass, pictureFile, written,
                  pagePath);
    }
    if (!resultsFile.empty()) {
        return resultsFile;
    }
    if (!pictureFile.empty()) {
        return pictureFile;
    }
    if (segmentation) {
        return segmentation->path;
    }
    return !written.empty() ? written.front() : pagePath;
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
    SegmentedImage segmented = StartRun(settings, builder, loaded);
    const GridRegion& grid = *segmented.grid;
    const std::string resultsBase = OutputPrefixFor(settings.outputPrefix, *settings.imageFile) +
                                    ImageStem(*settings.imageFile) + "_results";
    const std::string timedResults = TimestampedFileName(resultsBase, "cct");
    const std::string base = timedResults.substr(0, timedResults.rfind('.'));
    const OutputSelection& chosen = settings.outputs;
    RunOutputs outputs;
    if (chosen.Has("labels")) {
        outputs.results.emplace(timedResults, segmented.imageName, loaded.classes,
                                loaded.colours, grid.Count());
    }
    const GridRegion::Rectangle& mapArea = grid.MapArea();
    const bool paints = chosen.Has("map") || chosen.Has("gpkg") || chosen.Has("legend") ||
                        chosen.Has("page");
    if (paints && mapArea.width > 0 && mapArea.height > 0) {
        outputs.picture.emplace(base + ".tif", mapArea, loaded.windowSize, segmented.step,
                                loaded.classes, loaded.colours,
                                AreaGeoreference(segmented.scene->GetGeoreference(), mapArea));
    } else if (paints) {
        settings.protocol->Warning("The region '" + EchoedInput(*settings.region) +
                                   "' owns no pixel of the class map; no map is written.");
    }
    if (chosen.Has("gpkg")) {
        outputs.layers.emplace(base + ".gpkg", segmented.scene->GetGeoreference(),
                               loaded.classes);
    }
    WindowTally tally;
    ConsoleProgress progress(*settings.protocol);
    ClassifyBatches(settings, builder, loaded, segmented,
                    outputs.results ? &*outputs.results : nullptr,
                    outputs.picture ? &*outputs.picture : nullptr,
                    outputs.layers ? &*outputs.layers : nullptr, tally, progress);
    return FinishFiles(settings, loaded, outputs, segmented, base, tally, progress);
}

std::string RunClassificationMode(ParameterParser& parser, AlgorithmBuilder& builder,
                                  const ProtocolWriter& protocol) {
    ClassificationSettings settings;
    settings.modelFile = parser.ModelFile();
    settings.imageFile = parser.GivenImageFile();
    settings.samplingMethod = parser.SamplingMethod();
    settings.outputPrefix = parser.OutputPrefix();
    settings.bands = parser.GivenText("bands");
    settings.stretch = parser.GivenText("stretch");
    settings.region = parser.GivenText("region");
    settings.outputs = OutputSelection::Parse(parser.GivenText("write"));
    settings.protocol = &protocol;
    return ClassifyImage(settings, builder);
}

}  // namespace velkar::ordana
