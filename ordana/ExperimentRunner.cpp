#include "ordana/ExperimentRunner.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "ordana/FileNames.h"
#include "ordana/InputError.h"
#include "ordana/MapProcessor.h"
#include "ordana/ModelFile.h"
#include "ordana/OneBasedClassifier.h"
#include "ordana/ParameterParser.h"
#include "velkar/patternrecognition/Sampling.h"

namespace velkar::ordana {

namespace {

using patternrecognition::Pattern;
using patternrecognition::PatternRecognitionAlgorithm;
using patternrecognition::Sampling;

void Progress(int value) { std::cout << "[PROGRESS] !" << value << "!" << std::endl; }

int CountCorrect(PatternRecognitionAlgorithm& classifier, const PatternSet& patterns) {
    int correct = 0;
    for (const auto& pattern : *patterns) {
        if (classifier.Classify(*pattern->Descriptors()) == pattern->Class()) {
            ++correct;
        }
    }
    return correct;
}

// Reads one real number, accepting the "nan" and "inf" the descriptor writer produces for values
// that are not finite.
bool ParseReal(const std::string& word, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(word.c_str(), &end);
    return end != word.c_str() && *end == '\0';
}

// The repetitions of one classifier on one extraction output.
void RunClassifier(const ExperimentSettings& settings, const ExtractionOutput& output,
                   const std::string& key, double progressStart, double progressEnd) {
    if (settings.chatty) {
        std::cout << "[LOGMESSAGE] !Running experiments with " << key << ".!" << std::endl;
    }
    PatternRecognitionBuilder& builder = *settings.builder;
    std::shared_ptr<PatternRecognitionAlgorithm> classifier =
        builder.CreateAlgorithm(key, output.featureCount);
    if (!classifier) {
        LogMessage("No classifier could be built for '--" + key +
                   "'; its experiments are skipped.");
        return;
    }
    // A classifier built for a fixed number of classes must know every class of the polygon file.
    if (const auto* oneBased = dynamic_cast<const OneBasedClassifier*>(classifier.get())) {
        try {
            oneBased->CheckClassCount(static_cast<int>(output.classes.size()));
        } catch (const std::invalid_argument& error) {
            LogMessage(std::string(error.what()) + " The experiments with " + key +
                       " are skipped.");
            return;
        }
    }

    const std::string resultsFile = output.descriptorFile + "-" + classifier->FileExtension();
    const int experiments = settings.experiments;

    // The descriptor file is read once; every repetition draws its own random split of it.
    PatternSet patterns = LoadPatterns(output.descriptorFile, output.featureCount, output.classes);
    const long long trainingSize = static_cast<long long>(patterns->size() / 2);
    const long long testSize = static_cast<long long>(patterns->size()) - trainingSize;
    if (trainingSize == 0) {
        LogMessage("The descriptor file '" + output.descriptorFile + "' holds " +
                   std::to_string(patterns->size()) +
                   " patterns, too few to train and test; the experiments with " + key +
                   " are skipped.");
        return;
    }

    std::ofstream results(resultsFile);
    results.precision(15);

    long long trainingCorrect = 0;
    long long testCorrect = 0;
    int bestTestCount = 0;
    std::shared_ptr<PatternRecognitionAlgorithm> best;
    const double step = experiments > 0 ? (progressEnd - progressStart) / experiments : 0.0;

    for (int repetition = 1; repetition <= experiments; ++repetition) {
        auto split = Sampling::Split(patterns, 0.5);
        classifier->Train(split[0]);
        trainingCorrect += CountCorrect(*classifier, split[0]);
        const int repetitionTestCount = CountCorrect(*classifier, split[1]);
        testCorrect += repetitionTestCount;

        const double trainingAccuracy =
            static_cast<double>(trainingCorrect) / static_cast<double>(repetition * trainingSize);
        const double testAccuracy =
            static_cast<double>(testCorrect) / static_cast<double>(repetition * testSize);
        results << "train " << repetition << ":" << trainingAccuracy << "\n";
        results << "test " << repetition << ":" << testAccuracy << "\n";
        if (settings.chatty) {
            Progress(static_cast<int>(repetition * step + progressStart));
            std::cout << "[LOGMESSAGE] !Accumulated train " << repetition << ": "
                      << trainingAccuracy << "!\n";
            std::cout << "[LOGMESSAGE] !Accumulated test " << repetition << ": " << testAccuracy
                      << "!" << std::endl;
        }

        if (repetitionTestCount > bestTestCount) {
            bestTestCount = repetitionTestCount;
            best = classifier;
        }
        if (repetition < experiments) {
            classifier = builder.CreateAlgorithm(key, output.featureCount);
            if (!classifier) {
                break;
            }
        }
    }

    if (experiments > 0) {
        results << "train global: "
                << static_cast<double>(trainingCorrect) /
                       static_cast<double>(experiments * trainingSize)
                << "\n";
        results << "test global: "
                << static_cast<double>(testCorrect) / static_cast<double>(experiments * testSize)
                << "\n";
    }
    results.close();
    if (!results) {
        throw std::runtime_error("Cannot write the results file '" + resultsFile + "'.");
    }

    if (!best) {
        LogMessage(experiments > 0
                       ? "No repetition of " + key +
                             " classified a test pattern correctly; no model file is written."
                       : "No repetition was run, so no model file is written for " + key + ".");
        return;
    }
    auto model = ComposeModel(best->Configuration(), *best, output.classes, output.colors,
                              output.parameters, output.windowSize);
    // Outputs of several extractors or colour variants share the model's base name; within one
    // second they would otherwise replace each other's model.
    WriteModelFile(UnusedTimestampedFileName(settings.outputPrefix, best->FileExtension()), *model);
}

}  // namespace

PatternSet LoadPatterns(const std::string& descriptorFile, int featureCount,
                        const std::vector<std::string>& classes) {
    std::ifstream in(descriptorFile);
    if (!in) {
        throw std::runtime_error("Cannot open the descriptor file '" + descriptorFile + "'.");
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
            throw std::runtime_error("The descriptor file '" + descriptorFile + "', line " +
                                     std::to_string(lineNumber) + ": the class '" + className +
                                     "' is not in the class list.");
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
            throw std::runtime_error("The descriptor file '" + descriptorFile + "', line " +
                                     std::to_string(lineNumber) + ": expected " +
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

void RunExperiments(const ExperimentSettings& settings, const ExtractionOutput& output,
                    int progressStart, int progressEnd) {
    if (settings.chatty) {
        Progress(progressStart);
    }
    const std::vector<std::string> keys = settings.builder->SelectedAlgorithms();
    if (output.featureCount == 0) {
        LogMessage("The " + output.algorithmName + " extraction found no window inside the " +
                   "polygons (descriptor file '" + output.descriptorFile +
                   "'); there is nothing to train on.");
        return;
    }
    // Each classifier runs within its share of the output's progress range.
    const double share = keys.empty() ? 0.0
                                      : static_cast<double>(progressEnd - progressStart) /
                                            static_cast<double>(keys.size());
    for (std::size_t k = 0; k < keys.size(); ++k) {
        RunClassifier(settings, output, keys[k], progressStart + share * static_cast<double>(k),
                      progressStart + share * static_cast<double>(k + 1));
    }
}

void RunExperimentMode(ParameterParser& parser) {
    const bool chatty = parser.IsChatty();
    MapProcessor processor(chatty);
    processor.imageFile = parser.ImageFile();
    processor.polygonFile = parser.PolygonFile();
    processor.polygonFileName = parser.PolygonFileName();

    ExtractionSelection selection = parser.FeatureExtractionAlgorithms();
    auto transformations = parser.ColorTransformations();
    if (selection.algorithms.empty()) {
        if (chatty) {
            LogMessage("No valid extraction algorithm selected.");
        }
        return;
    }
    processor.colorTransformations.insert(processor.colorTransformations.end(),
                                          transformations.begin(), transformations.end());
    processor.SetExtraction(selection);
    if (chatty) {
        std::cout << "[TASK] !Extracting features!" << std::endl;
    }
    auto outputs = processor.Process();

    ExperimentSettings settings;
    settings.chatty = chatty;
    settings.experiments = parser.Experiments();
    if (settings.experiments < 0) {
        throw InputError("Invalid value for option '--experiments': " +
                         std::to_string(settings.experiments) + " (it must be 0 or more).");
    }
    settings.outputPrefix = DirectoryPrefix(processor.imageFile) + processor.polygonFileName;
    settings.builder = &parser;

    if (chatty) {
        std::cout << "[TASK] !Classifying!" << std::endl;
    }
    const double count = static_cast<double>(outputs.size());
    for (std::size_t k = 0; k < outputs.size(); ++k) {
        if (chatty) {
            std::cout << "[LOGMESSAGE] !Processing " << outputs[k]->algorithmName << " output.!"
                      << std::endl;
        }
        RunExperiments(settings, *outputs[k],
                       static_cast<int>(static_cast<double>(k) / count * 100),
                       static_cast<int>(static_cast<double>(k + 1) / count * 100));
    }
}

}  // namespace velkar::ordana
