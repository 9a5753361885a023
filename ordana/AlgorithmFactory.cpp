#include "ordana/AlgorithmFactory.h"

#include <boost/program_options/variables_map.hpp>

#include "ordana/AlgorithmCatalog.h"
#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"
#include "velkar/imageprocessing/ColorSpaceTransformation.h"
#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"

namespace velkar::ordana {

namespace po = boost::program_options;

namespace {

// Cuts a parameter string at every blank (two blanks in a row give an empty token).
std::vector<std::string> BlankSeparated(const std::string& parameters) {
    std::vector<std::string> pieces;
    if (parameters.empty()) {
        return pieces;
    }
    std::string::size_type start = 0;
    while (true) {
        auto blank = parameters.find(' ', start);
        pieces.push_back(parameters.substr(start, blank - start));
        if (blank == std::string::npos) {
            return pieces;
        }
        start = blank + 1;
    }
}

}  // namespace

AlgorithmFactory::AlgorithmFactory(ParameterParser& parser) : parser(parser) {}

ExtractionSelection AlgorithmFactory::FeatureExtractionAlgorithms() {
    ExtractionSelection selection;
    try {
        po::variables_map variables = parser.ParseAllowed(parser.Arguments());
        for (const ExtractorRow& row : ExtractorRows()) {
            if (variables.count(row.module.flag) == 0) {
                continue;
            }
            std::string parameters;
            auto extractor =
                BuildExtractor(row, parser.ReadModule(row.module, parser.Arguments()), parameters);
            selection.algorithms.push_back(extractor);
            selection.parameters[extractor->Name()] = parameters;
        }
    } catch (const std::exception& error) {
        parser.HandleError(error);
    }
    return selection;
}

std::shared_ptr<featureextraction::FeatureExtractionAlgorithm>
AlgorithmFactory::FeatureExtractionFromParameters(const std::string& parameters,
                                                  bool reportErrors) {
    std::shared_ptr<featureextraction::FeatureExtractionAlgorithm> result;
    try {
        const std::vector<std::string> tokens = BlankSeparated(parameters);
        po::variables_map variables = parser.ParseAllowed(tokens);
        for (const ExtractorRow& row : ExtractorRows()) {
            if (variables.count(row.module.flag) != 0) {
                std::string written;
                result = BuildExtractor(row, parser.ReadModule(row.module, tokens), written);
            }
        }
    } catch (const std::exception& error) {
        parser.HandleError(error, reportErrors);
    }
    return result;
}

std::vector<std::shared_ptr<imageprocessing::ColorSpaceTransformation>>
AlgorithmFactory::ColorTransformations() {
    std::vector<std::shared_ptr<imageprocessing::ColorSpaceTransformation>> transformations;
    try {
        po::variables_map variables = parser.ParseAllowed(parser.Arguments());
        for (const ColorSpaceRow& row : ColorSpaceRows()) {
            if (variables.count(row.module.flag) != 0) {
                transformations.push_back(row.create());
            }
        }
    } catch (const std::exception& error) {
        parser.HandleError(error);
    }
    return transformations;
}

std::vector<std::string> AlgorithmFactory::SelectedAlgorithms() {
    std::vector<std::string> keys;
    try {
        po::variables_map variables = parser.ParseAllowed(parser.Arguments());
        for (const ClassifierRow& row : ClassifierRows()) {
            if (variables.count(row.module.flag) != 0) {
                keys.push_back(row.module.flag);
            }
        }
    } catch (const std::exception& error) {
        parser.HandleError(error);
    }
    return keys;
}

std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm> AlgorithmFactory::CreateAlgorithm(
    const std::string& key, int inputSize) {
    try {
        for (const ClassifierRow& row : ClassifierRows()) {
            if (row.module.flag != key) {
                continue;
            }
            return CreateClassifier(row, parser.ReadModule(row.module, parser.Arguments()),
                                    inputSize);
        }
    } catch (const std::exception& error) {
        parser.HandleError(error);
    }
    return nullptr;
}

std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm> AlgorithmFactory::RestoreAlgorithm(
    const std::string& name, std::shared_ptr<util::Collection> configuration) {
    for (const ClassifierRow& row : ClassifierRows()) {
        if (row.displayName != name || !row.restore) {
            continue;
        }
        auto classifier = row.restore();
        classifier->SetConfiguration(configuration);
        return classifier;
    }
    return nullptr;
}

}  // namespace velkar::ordana
