#include "ordana/ExperimentRunner.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "ordana/AccuracyReport.h"
#include "ordana/AlgorithmFactory.h"
#include "ordana/ConsoleProgress.h"
#include "ordana/EchoedInput.h"
#include "ordana/FileNames.h"
#include "ordana/InputError.h"
#include "ordana/InputImage.h"
#include "ordana/MapProcessor.h"
#include "ordana/ModelFile.h"
#include "ordana/OneBasedClassifier.h"
#include "ordana/OptionDescription.h"
#include "ordana/OutputFile.h"
#include "ordana/PageContent.h"
#include "ordana/ParameterParser.h"
#include "ordana/PolygonFile.h"
#include "ordana/ProtocolWriter.h"
#include "ordana/SceneRaster.h"
#include "ordana/VectorLayerFile.h"
#include "velkar/patternrecognition/Sampling.h"
#include "velkar/util/Random.h"

namespace velkar::ordana {

namespace {

using patternrecognition::Pattern;
using patternrecognition::PatternRecognitionAlgorithm;
using patternrecognition::Sampling;

// The classifier's answer to every pattern, in order.
std::vector<int> Answers(PatternRecognitionAlgorithm& classifier, const PatternSet& patterns) {
    std::vector<int> answers;
    answers.reserve(patterns->size());
    for (const auto& pattern : *patterns) {
        answers.push_back(classifier.Classify(*pattern->Descriptors()));
    }
    return answers;
}

// Counts the answers that are the patterns' classes; every answer also goes into the matrix.
long long CountCorrect(const std::vector<int>& answers, const PatternSet& patterns,
                       ConfusionMatrix* matrix = nullptr) {
    long long correct = 0;
    for (std::size_t i = 0; i < answers.size(); ++i) {
        const int trueClass = (*patterns)[i]->Class();
        correct += answers[i] == trueClass ? 1 : 0;
        if (matrix != nullptr) {
            matrix->Add(trueClass, answers[i]);
        }
    }
    return correct;
}

// For every answer given to the training patterns (a cluster number), the class most of them
// belong to; the lower class on a tie.
std::map<int, int> MajorityClasses(const std::vector<int>& answers, const PatternSet& patterns,
                                   std::size_t classCount) {
    std::map<int, std::vector<long long>> counts;
    for (std::size_t i = 0; i < answers.size(); ++i) {
        auto& row = counts.try_emplace(answers[i], classCount, 0).first->second;
        ++row[static_cast<std::size_t>((*patterns)[i]->Class())];
    }
    std::map<int, int> classes;
    for (const auto& [answer, row] : counts) {
        classes[answer] = static_cast<int>(std::max_element(row.begin(), row.end()) - row.begin());
    }
    return classes;
}

// The test answers mapped to classes into the matrix; an answer no training pattern got is
// unknown.
void AddMapped(const std::map<int, int>& classes, const std::vector<int>& answers,
               const PatternSet& patterns, ConfusionMatrix& matrix) {
    for (std::size_t i = 0; i < answers.size(); ++i) {
        const auto mapped = classes.find(answers[i]);
        matrix.Add((*patterns)[i]->Class(), mapped == classes.end() ? -1 : mapped->second);
    }
}

bool IsFinite(const std::vector<double>& values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

// The patterns of an extraction output with the polygon each came from. Patterns holding a value
// that is not a finite number (possible only in a descriptor file from elsewhere) are left out,
// with one message that counts them.
struct LabelledPatterns {
    PatternSet patterns = std::make_shared<patternrecognition::PatternList>();
    std::vector<int> polygonIds;
};

LabelledPatterns LoadUsablePatterns(const ExtractionOutput& output,
                                    const ProtocolWriter& protocol) {
    const PatternSet all = LoadPatterns(output.descriptorFile, output.featureCount, output.classes);
    const bool knownPolygons = output.polygonIds.size() == all->size();
    LabelledPatterns usable;
    std::size_t skipped = 0;
    for (std::size_t i = 0; i < all->size(); ++i) {
        if (!IsFinite(*(*all)[i]->Descriptors())) {
            ++skipped;
            continue;
        }
        usable.patterns->push_back((*all)[i]);
        usable.polygonIds.push_back(knownPolygons ? output.polygonIds[i] : -1);
    }
    if (skipped > 0) {
        protocol.Warning(std::to_string(skipped) + " of the " + std::to_string(all->size()) +
                         " patterns of '" + EchoedPath(output.descriptorFile) +
                         "' hold values that are not finite numbers; they are left out of training "
                         "and testing.");
    }
    return usable;
}

// The polygons of every class, for splitting classes polygon-wise into halves. Empty when some
// class with windows has fewer than two polygons; reason then says which.
struct HeldOutPlan {
    std::vector<std::vector<int>> polygonsOfClass;
    std::string reason;
};

HeldOutPlan PlanHeldOut(const LabelledPatterns& labelled, const std::vector<std::string>& classes) {
    HeldOutPlan plan;
    std::vector<std::set<int>> polygons(classes.size());
    for (std::size_t i = 0; i < labelled.patterns->size(); ++i) {
        if (labelled.polygonIds[i] < 0) {
            plan.reason = "the polygons of the windows are not known";
            return plan;
        }
        polygons[static_cast<std::size_t>((*labelled.patterns)[i]->Class())].insert(
            labelled.polygonIds[i]);
    }
    for (std::size_t c = 0; c < classes.size(); ++c) {
        if (polygons[c].size() == 1) {
            plan.reason = "the class '" + EchoedInput(classes[c]) +
                          "' has fewer than two polygons with windows, so none of its polygons "
                          "can be held out";
            return plan;
        }
        if (!polygons[c].empty()) {
            plan.polygonsOfClass.emplace_back(polygons[c].begin(), polygons[c].end());
        }
    }
    if (plan.polygonsOfClass.size() < 2) {
        plan.reason = "fewer than two classes have windows";
        plan.polygonsOfClass.clear();
    }
    return plan;
}

// Splits every class's polygons at random into halves (the smaller half trains, as the window
// split does) and returns the windows of the training and of the test polygons.
std::array<PatternSet, 2> DrawHeldOutSplit(const LabelledPatterns& labelled,
                                           const HeldOutPlan& plan) {
    std::set<int> training;
    for (const std::vector<int>& polygons : plan.polygonsOfClass) {
        const std::vector<std::size_t> order = util::RandomPermutation(polygons.size());
        for (std::size_t k = 0; k < polygons.size() / 2; ++k) {
            training.insert(polygons[order[k]]);
        }
    }
    std::array<PatternSet, 2> halves = {std::make_shared<patternrecognition::PatternList>(),
                                        std::make_shared<patternrecognition::PatternList>()};
    for (std::size_t i = 0; i < labelled.patterns->size(); ++i) {
        halves[training.count(labelled.polygonIds[i]) != 0 ? 0 : 1]->push_back(
            (*labelled.patterns)[i]);
    }
    return halves;
}

// A real as the standard stream writes it at its default precision.
std::string StreamText(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

// Reads one real number, accepting the "nan" and "inf" the descriptor writer produces for values
// that are not finite.
bool ParseReal(const std::string& word, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(word.c_str(), &end);
    return end != word.c_str() && *end == '\0';
}

// The results file's lines of one repetition and, after the last, of all of them.
void WriteAccuracies(std::ostream& results, const std::string& prefix, const std::string& label,
                     double training, double test) {
    results << "train " << prefix << label << training << "\n";
    results << "test " << prefix << label << test << "\n";
}

// What the repetitions of one classifier gather: the correct answers of the window split, the
// two confusion matrices, and the classifier of the repetition with the most correct test
// patterns (the first one on a tie).
// A classifier that answers cluster numbers also gathers its answers mapped to classes.
struct RepetitionTotals {
    RepetitionTotals(std::size_t classCount, bool holdsOut, bool answersClusters)
        : windowSplit(classCount) {
        if (holdsOut) {
            heldOut.emplace(classCount);
        }
        if (answersClusters) {
            clusters.emplace(ClusterScores{ConfusionMatrix(classCount), heldOut});
        }
    }
    long long trainingCorrect = 0;
    long long testCorrect = 0;
    long long bestTestCount = 0;
    std::shared_ptr<PatternRecognitionAlgorithm> best;
    ConfusionMatrix windowSplit;
    std::optional<ConfusionMatrix> heldOut;
    std::optional<ClusterScores> clusters;
};

// The classifier of one key, or none (reported) when it cannot be built or cannot hold every
// class of the polygon file.
std::shared_ptr<PatternRecognitionAlgorithm> ExperimentClassifier(AlgorithmBuilder& builder,
                                                                  const ExtractionOutput& output,
                                                                  const std::string& key,
                                                                  const ProtocolWriter& protocol) {
    std::shared_ptr<PatternRecognitionAlgorithm> classifier =
        builder.CreateAlgorithm(key, output.featureCount);
    if (!classifier) {
        protocol.Warning("No classifier could be built for '--" + key +
                         "'; its experiments are skipped.");
        return nullptr;
    }
    // A classifier built for a fixed number of classes must know every class of the polygon file.
    if (const auto* oneBased = dynamic_cast<const OneBasedClassifier*>(classifier.get())) {
        try {
            oneBased->CheckClassCount(static_cast<int>(output.classes.size()));
        } catch (const std::invalid_argument& error) {
            protocol.Warning(std::string(error.what()) + " The experiments with " + key +
                             " are skipped.");
            return nullptr;
        }
    }
    return classifier;
}

// While the classifier trains, the progress line shows text followed by the training's iteration
// and the time it has left. The line is redrawn at most ten times a second, so that short
// iterations are not slowed by the terminal. Without a progress line nobody watches.
void WatchTraining(PatternRecognitionAlgorithm& classifier, ConsoleProgress* progress,
                   const std::string& text) {
    if (progress == nullptr || !progress->Enabled()) {
        return;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    Clock::time_point drawn = start;
    classifier.SetTrainingObserver([=](long long done, long long total) mutable {
        const Clock::time_point now = Clock::now();
        if (now - drawn < std::chrono::milliseconds(100)) {
            return;
        }
        drawn = now;
        const std::chrono::duration<double> taken = now - start;
        const double fraction =
            total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0;
        progress->Show(text + ", training iteration " + std::to_string(done) + " of " +
                       std::to_string(total) + ConsoleProgress::TimeLeft(taken.count(), fraction));
    });
}

// Trains the classifier while the progress line shows its iterations; the observer goes with
// the training, so that a classifier kept as the best one holds no pointer to the line.
void TrainWatched(PatternRecognitionAlgorithm& classifier,
                  const std::shared_ptr<std::vector<std::shared_ptr<Pattern>>>& patterns,
                  ConsoleProgress* progress, const std::string& text) {
    WatchTraining(classifier, progress, text);
    classifier.Train(patterns);
    classifier.SetTrainingObserver(nullptr);
}

// One repetition: train on a random half of the windows and test on the other, then, when the
// polygons allow it, train a fresh classifier on half of every class's polygons and test on the
// others. Returns the number of correct test windows of the window split.
long long RunRepetition(PatternRecognitionAlgorithm& classifier, const LabelledPatterns& labelled,
                        const HeldOutPlan& heldOutPlan, AlgorithmBuilder& builder,
                        const std::string& key, int featureCount, RepetitionTotals& totals,
                        ConsoleProgress* progress, const std::string& progressText) {
    const std::size_t classCount = totals.windowSplit.ClassCount();
    auto split = Sampling::Split(labelled.patterns, 0.5);
    TrainWatched(classifier, split[0], progress, progressText);
    const std::vector<int> trainingAnswers = Answers(classifier, split[0]);
    const std::vector<int> testAnswers = Answers(classifier, split[1]);
    totals.trainingCorrect += CountCorrect(trainingAnswers, split[0]);
    const long long testCount = CountCorrect(testAnswers, split[1], &totals.windowSplit);
    totals.testCorrect += testCount;
    if (totals.clusters) {
        AddMapped(MajorityClasses(trainingAnswers, split[0], classCount), testAnswers, split[1],
                  totals.clusters->windowSplit);
    }

    if (totals.heldOut) {
        const auto halves = DrawHeldOutSplit(labelled, heldOutPlan);
        if (auto polygonWise = builder.CreateAlgorithm(key, featureCount)) {
            TrainWatched(*polygonWise, halves[0], progress, progressText + " (polygon split)");
            const std::vector<int> heldOutAnswers = Answers(*polygonWise, halves[1]);
            CountCorrect(heldOutAnswers, halves[1], &*totals.heldOut);
            if (totals.clusters) {
                AddMapped(MajorityClasses(Answers(*polygonWise, halves[0]), halves[0], classCount),
                          heldOutAnswers, halves[1], *totals.clusters->heldOut);
            }
        }
    }
    return testCount;
}

// The model is named after its descriptor file, whose name holds the extractor and the colour
// variant: "plot.cct_<time>.wca.mlp". Returns the path written.
std::string WriteBestModel(const ExtractionOutput& output, PatternRecognitionAlgorithm& best) {
    auto model = ComposeModel(best.Configuration(), best, output.classes, output.colors,
                              output.parameters, output.windowSize, output.colorSpace,
                              output.bands);
    return WriteModelFile(output.descriptorFile + "." + best.FileExtension(), *model);
}

// The repetitions of one classifier on one extraction output: the results file, the accuracy
// report beside it and the model file of the best repetition. Returns what the report page shows
// of them (the matrices are those the report was written from), none when nothing was run.
std::optional<ClassifierSection> RunClassifier(const ExperimentSettings& settings, const ExtractionOutput& output,
                   const std::string& key, double progressStart, double progressEnd) {
    const ProtocolWriter& protocol = *settings.protocol;
    protocol.Note("Running experiments with " + key + ".");
    AlgorithmBuilder& builder = *settings.builder;
    std::shared_ptr<PatternRecognitionAlgorithm> classifier =
        ExperimentClassifier(builder, output, key, protocol);
    if (!classifier) {
        return std::nullopt;
    }
    const std::string resultsFile = output.descriptorFile + "-" + classifier->FileExtension();
    const std::string classifierName = classifier->Name();
    const int experiments = settings.experiments;

    // The descriptor file is read once; every repetition draws its own random split of it.
    const LabelledPatterns labelled = LoadUsablePatterns(output, protocol);
    const long long trainingSize = static_cast<long long>(labelled.patterns->size() / 2);
    const long long testSize = static_cast<long long>(labelled.patterns->size()) - trainingSize;
    if (trainingSize == 0) {
        protocol.Warning("The descriptor file '" + EchoedPath(output.descriptorFile) + "' holds " +
                         std::to_string(labelled.patterns->size()) +
                         " usable patterns, too few to train and test; the experiments with " +
                         key + " are skipped.");
        return std::nullopt;
    }
    const HeldOutPlan heldOutPlan = PlanHeldOut(labelled, output.classes);
    RepetitionTotals totals(output.classes.size(), heldOutPlan.reason.empty(),
                            builder.AnswersClusters(key));
    OutputFile results(resultsFile);
    // The lines go to the file and, once it is written, to standard output.
    std::ostringstream resultLines;
    resultLines.precision(15);
    const double step = experiments > 0 ? (progressEnd - progressStart) / experiments : 0.0;
    std::vector<double> accumulatedTestAccuracy;

    for (int repetition = 1; repetition <= experiments && classifier; ++repetition) {
        const std::string progressText = "Experiments with " + key + " on " + output.algorithmName +
                                         ": repetition " + std::to_string(repetition) + " of " +
                                         std::to_string(experiments);
        if (settings.progress != nullptr) {
            settings.progress->Show(progressText);
        }
        const long long testCount =
            RunRepetition(*classifier, labelled, heldOutPlan, builder, key, output.featureCount,
                          totals, settings.progress, progressText);
        const double trainingAccuracy = static_cast<double>(totals.trainingCorrect) /
                                        static_cast<double>(repetition * trainingSize);
        const double testAccuracy =
            static_cast<double>(totals.testCorrect) / static_cast<double>(repetition * testSize);
        WriteAccuracies(resultLines, std::to_string(repetition), ":", trainingAccuracy,
                        testAccuracy);
        accumulatedTestAccuracy.push_back(testAccuracy);
        protocol.Progress(static_cast<int>(repetition * step + progressStart));
        protocol.Note("Accumulated train " + std::to_string(repetition) + ": " +
                      StreamText(trainingAccuracy));
        protocol.Note("Accumulated test " + std::to_string(repetition) + ": " +
                      StreamText(testAccuracy));
        if (testCount > totals.bestTestCount) {
            totals.bestTestCount = testCount;
            totals.best = classifier;
        }
        if (repetition < experiments) {
            classifier = builder.CreateAlgorithm(key, output.featureCount);
        }
    }
    if (experiments > 0) {
        WriteAccuracies(
            resultLines, "global", ": ",
            static_cast<double>(totals.trainingCorrect) /
                static_cast<double>(experiments * trainingSize),
            static_cast<double>(totals.testCorrect) / static_cast<double>(experiments * testSize));
    }
    results.Stream() << resultLines.str();
    const std::string resultsPath = results.Commit();
    std::istringstream lines(resultLines.str());
    for (std::string line; std::getline(lines, line);) {
        protocol.Result(resultsPath + ": " + line);
    }
    const std::string extraction =
        output.parameters +
        (output.colorSpace.empty() ? "" : " (colour space " + output.colorSpace + ")");
    const std::string reportPath = WriteAccuracyReport(
        resultsPath + ".report", extraction, classifierName, experiments, output.classes,
        totals.windowSplit, totals.heldOut, heldOutPlan.reason, totals.clusters);
    ClassifierSection section{extraction,
                              classifierName,
                              experiments,
                              std::move(accumulatedTestAccuracy),
                              totals.windowSplit,
                              totals.heldOut,
                              heldOutPlan.reason,
                              resultsPath,
                              reportPath,
                              ""};

    protocol.ForPerson(AccuracySummary(classifierName, output.descriptorFile, output.classes,
                                       totals.windowSplit, totals.heldOut, heldOutPlan.reason,
                                       totals.clusters));
    if (!totals.best) {
        protocol.Warning(experiments > 0
                             ? "No repetition of " + key +
                                   " classified a test pattern correctly; no model file is written."
                             : "No repetition was run, so no model file is written for " + key +
                                   ".");
        return section;
    }
    section.modelFile = WriteBestModel(output, *totals.best);
    return section;
}

}  // namespace

PatternSet LoadPatterns(const std::string& descriptorFile, int featureCount,
                        const std::vector<std::string>& classes) {
    std::ifstream in(descriptorFile);
    if (!in) {
        throw std::runtime_error("Cannot open the descriptor file '" + EchoedPath(descriptorFile) +
                                 "'.");
    }
    auto patterns = std::make_shared<std::vector<std::shared_ptr<Pattern>>>();
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        std::istringstream words(line);
        std::string className;
        if (!(words >> className)) {
            continue;
        }
        auto position = std::find(classes.begin(), classes.end(), className);
        if (position == classes.end()) {
            throw std::runtime_error("The descriptor file '" + EchoedPath(descriptorFile) +
                                     "', line " + std::to_string(lineNumber) + ": the class '" +
                                     EchoedInput(className) + "' is not in the class list.");
        }
        std::vector<double> values;
        values.reserve(static_cast<std::size_t>(std::max(featureCount, 0)));
        std::string word;
        double value = 0.0;
        while (static_cast<int>(values.size()) < featureCount && words >> word) {
            if (!ParseReal(word, value)) {
                break;
            }
            values.push_back(value);
        }
        if (static_cast<int>(values.size()) != featureCount) {
            throw std::runtime_error("The descriptor file '" + EchoedPath(descriptorFile) +
                                     "', line " + std::to_string(lineNumber) + ": expected " +
                                     std::to_string(featureCount) + " feature values.");
        }
        auto pattern = std::make_shared<Pattern>();
        pattern->SetClass(static_cast<int>(position - classes.begin()));
        pattern->SetClassName(className);
        pattern->SetDescriptors(std::move(values));
        patterns->push_back(pattern);
    }
    return patterns;
}

std::vector<ClassifierSection> RunExperiments(const ExperimentSettings& settings,
                                              const ExtractionOutput& output, int progressStart,
                                              int progressEnd) {
    settings.protocol->Progress(progressStart);
    std::vector<ClassifierSection> sections;
    const std::vector<std::string> keys = settings.builder->SelectedAlgorithms();
    if (output.featureCount == 0) {
        settings.protocol->Warning(
            "The " + output.algorithmName + " extraction found no window inside the " +
            "polygons (descriptor file '" + EchoedPath(output.descriptorFile) +
            "'); there is nothing to train on.");
        return sections;
    }
    // Each classifier runs within its share of the output's progress range.
    const double share = keys.empty() ? 0.0
                                      : static_cast<double>(progressEnd - progressStart) /
                                            static_cast<double>(keys.size());
    for (std::size_t k = 0; k < keys.size(); ++k) {
        if (auto section = RunClassifier(settings, output, keys[k],
                                         progressStart + share * static_cast<double>(k),
                                         progressStart + share * static_cast<double>(k + 1))) {
            sections.push_back(std::move(*section));
        }
    }
    return sections;
}

namespace {

// The image with the bands of --bands and --stretch; every extractor and colour space is checked
// against its band count, and the extractors are set to it, so that their feature counts are
// those of the run. The bands and stretches are said when the image is no plain picture.
std::shared_ptr<SceneRaster> OpenScene(ParameterParser& parser, MapProcessor& processor,
                                       const ExtractionSelection& selection,
                                       const ProtocolWriter& protocol) {
    const std::optional<std::string> bands = parser.GivenText("bands");
    const std::optional<std::string> stretch = parser.GivenText("stretch");
    std::shared_ptr<SceneRaster> scene;
    try {
        scene = std::make_shared<SceneRaster>(processor.imageFile, BandRequestOf(bands, stretch));
    } catch (const SceneRaster::BandError& error) {
        throw InputError(RejectionMessage({"bands"}, {bands.value_or("")}, error.what()));
    }
    const std::string description =
        "The image '" + EchoedPath(processor.imageFile) + "' is read as " + scene->Description();
    if (!scene->IsPlain()) {
        protocol.Note(description + ".");
        protocol.ForPerson(description + ".");
    }
    for (const auto& transformation : processor.colorTransformations) {
        if (scene->BandCount() != 3) {
            throw InputError(ColourSpaceBandMessage(*transformation, scene->BandCount()));
        }
    }
    const auto blank = imageprocessing::ImageFileSystem::Create(processor.imageFile, 0, 0,
                                                                scene->BandCount());
    for (const auto& extractor : selection.algorithms) {
        try {
            extractor->SetImage(blank);
        } catch (const std::invalid_argument& error) {
            throw InputError(description + ": " + error.what() + ".");
        }
    }
    return scene;
}

// Everything the experiments will need from the command line, checked before anything is
// extracted or written: the repetition count, the polygon file, and a classifier of every
// selected key for every extractor's features, able to tell every class of the polygon file
// apart. Problems are reported as they are found; any of them stops the run. Returns the
// repetition count.
int CheckedExperiments(ParameterParser& parser, AlgorithmFactory& factory,
                       const ExtractionSelection& selection, MapProcessor& processor,
                       const ProtocolWriter& protocol) {
    const int experiments = parser.Experiments();
    if (experiments < 0) {
        throw InputError(RejectionMessage({"experiments"}, {std::to_string(experiments)},
                                          "it must be 0 or more"));
    }
    // A vector file is laid on the image, so its classes are known once the image is open.
    const bool vectorFile = IsVectorLayerFile(processor.polygonFile);
    std::size_t classCount =
        vectorFile ? 0 : ReadPolygonFile(processor.polygonFile, true).classes.size();
    bool usable = !parser.ProblemReported();
    if (usable) {
        // The extractors' feature counts follow the bands read, which the image's file tells.
        processor.scene = OpenScene(parser, processor, selection, protocol);
    }
    if (vectorFile) {
        if (!usable) {
            throw InputError::AlreadyReported();
        }
        processor.vectorFields.classField = parser.GivenText("class-field").value_or("class");
        processor.vectorFields.colorField = parser.GivenText("color-field");
        classCount = processor.CountClasses();
    }
    for (const std::string& key : factory.SelectedAlgorithms()) {
        for (const auto& extractor : selection.algorithms) {
            const auto classifier = factory.CreateAlgorithm(key, extractor->FeatureCount());
            if (!classifier) {
                usable = false;
                break;
            }
            if (const auto* oneBased = dynamic_cast<const OneBasedClassifier*>(classifier.get())) {
                try {
                    oneBased->CheckClassCount(static_cast<int>(classCount));
                } catch (const std::invalid_argument& error) {
                    protocol.Error(error.what());
                    usable = false;
                    break;
                }
            }
        }
    }
    if (!usable || parser.ProblemReported()) {
        throw InputError::AlreadyReported();
    }
    return experiments;
}

// The report page of the run: the image with the training polygons, every classifier's
// accuracies and matrices, the command line, the seed and the files written.
void WritePage(ParameterParser& parser, MapProcessor& processor,
               const std::vector<std::shared_ptr<ExtractionOutput>>& outputs,
               std::vector<ClassifierSection> sections, const std::string& path) {
    ExperimentPage page;
    page.imageFile = processor.imageFile;
    page.polygonFile = processor.polygonFile;
    page.image = ScenePicture(*processor.scene);
    page.classes = PageClasses(processor.classes, processor.colors);
    page.polygons =
        PagePolygons(processor.ReadContent().polygons, processor.classes);
    page.parameters = CommandLineSettings(parser.Arguments());
    page.seed = parser.RandomSeed();
    for (const auto& output : outputs) {
        page.filesWritten.push_back(output->descriptorFile);
    }
    for (const ClassifierSection& section : sections) {
        for (const std::string* file :
             {&section.resultsFile, &section.reportFile, &section.modelFile}) {
            if (!file->empty()) {
                page.filesWritten.push_back(*file);
            }
        }
    }
    page.sections = std::move(sections);
    WriteReportPage(path, RenderExperimentPage(page));
}

}  // namespace

void RunExperimentMode(ParameterParser& parser, AlgorithmFactory& factory,
                       const ProtocolWriter& protocol) {
    // Asked for what it reports: a command line that cannot be read is named at every query.
    parser.IsChatty();
    MapProcessor processor(protocol);
    processor.imageFile = parser.ImageFile();
    processor.polygonFile = parser.PolygonFile();
    processor.polygonFileName = parser.PolygonFileName();
    processor.outputPrefix = parser.OutputPrefix();

    ExtractionSelection selection = factory.FeatureExtractionAlgorithms();
    auto transformations = factory.ColorTransformations();
    if (selection.algorithms.empty()) {
        protocol.Note("No valid extraction algorithm selected.");
        throw InputError::AlreadyReported();
    }
    processor.colorTransformations.insert(processor.colorTransformations.end(),
                                          transformations.begin(), transformations.end());
    const int experiments = CheckedExperiments(parser, factory, selection, processor, protocol);
    processor.SetExtraction(selection);
    protocol.Task("Extracting features");
    ConsoleProgress progress(protocol);
    processor.progressLine = &progress;
    auto outputs = processor.Process();

    ExperimentSettings settings;
    settings.protocol = &protocol;
    settings.experiments = experiments;
    settings.builder = &factory;
    settings.progress = &progress;

    protocol.Task("Classifying");
    const double count = static_cast<double>(outputs.size());
    std::vector<ClassifierSection> sections;
    for (std::size_t k = 0; k < outputs.size(); ++k) {
        protocol.Note("Processing " + outputs[k]->algorithmName + " output.");
        for (ClassifierSection& section :
             RunExperiments(settings, *outputs[k],
                            static_cast<int>(static_cast<double>(k) / count * 100),
                            static_cast<int>(static_cast<double>(k + 1) / count * 100))) {
            sections.push_back(std::move(section));
        }
    }
    // The page shares the name of the run's first descriptor file, so that runs started in the
    // same second, whose names get numbers, keep every file of one run under one name.
    WritePage(parser, processor, outputs, std::move(sections), outputs.front()->runName + ".html");
}

}  // namespace velkar::ordana
