// Chooses a subset of the features of a descriptor file written by an ordana experiment with the
// genetic selection of the library, using one classifier chosen with ordana's own options.
//
//   select_features <descriptor file> <polygon file> [--elite K] [--seed S] <classifier options>
//
// for example
//
//   select_features scene.cct_2026-12-07_12-00-00.wca scene.cct --mahd --mdcc 4
//
// The patterns are split at random into a training and a test half; every candidate mask is
// scored by the test accuracy of the classifier trained on the masked training half. The program
// prints the generation numbers as the selection runs, then the chosen mask (one 0/1 per
// feature), the positions of the chosen features and their accuracy.

#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ordana/AlgorithmFactory.h"
#include "ordana/ExperimentRunner.h"
#include "ordana/OneBasedClassifier.h"
#include "ordana/ParameterParser.h"
#include "ordana/PolygonFile.h"
#include "velkar/optimization/Genetic.h"
#include "velkar/patternrecognition/Sampling.h"
#include "velkar/util/Random.h"

namespace {

using velkar::ordana::ParameterParser;

// The number of values on the first line holding a class name: the feature count of the file.
int FeatureCount(const std::string& descriptorFile) {
    std::ifstream in(descriptorFile);
    if (!in) {
        throw std::runtime_error("Cannot open the descriptor file '" + descriptorFile + "'.");
    }
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        int count = -1;
        for (std::string word; words >> word;) {
            ++count;
        }
        if (count >= 0) {
            return count;
        }
    }
    throw std::runtime_error("The descriptor file '" + descriptorFile + "' holds no pattern.");
}

int Run(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: " << argv[0]
                  << " <descriptor file> <polygon file> [--elite K] [--seed S] <classifier "
                     "options, e.g. --mahd --mdcc 4>\n";
        return 2;
    }
    const std::string descriptorFile = argv[1];
    const std::string polygonFile = argv[2];
    int eliteCount = 2;
    // The classifier's options go to ordana's parser, after a placeholder program name.
    std::vector<const char*> options = {argv[0]};
    for (int i = 3; i < argc; ++i) {
        if (std::string(argv[i]) == "--elite" && i + 1 < argc) {
            eliteCount = std::stoi(argv[++i]);
        } else {
            options.push_back(argv[i]);
        }
    }
    ParameterParser parser(static_cast<int>(options.size()), options.data());
    velkar::ordana::AlgorithmFactory factory(parser);
    if (const auto seed = parser.RandomSeed()) {
        velkar::util::Seed(*seed);
    }

    const std::vector<std::string> classes =
        velkar::ordana::ReadPolygonFile(polygonFile, true).classes;
    const int featureCount = FeatureCount(descriptorFile);
    auto patterns = velkar::ordana::LoadPatterns(descriptorFile, featureCount, classes);

    const std::vector<std::string> keys = factory.SelectedAlgorithms();
    if (keys.empty()) {
        std::cerr << "No classifier selected (for example --mahd --mdcc " << classes.size()
                  << ").\n";
        return 2;
    }
    auto classifier = factory.CreateAlgorithm(keys[0], featureCount);
    if (!classifier) {
        return 2;  // the parser has reported why
    }
    if (const auto* oneBased =
            dynamic_cast<const velkar::ordana::OneBasedClassifier*>(classifier.get())) {
        oneBased->CheckClassCount(static_cast<int>(classes.size()));
    }

    const auto halves = velkar::patternrecognition::Sampling::Split(patterns, 0.5);
    velkar::optimization::Genetic genetic(classifier.get(), eliteCount);
    double accuracy = 0.0;
    const auto mask = genetic.Optimize(halves[0], halves[1], &accuracy);

    std::cout << "classifier: " << classifier->Name() << "\n";
    std::cout << "patterns: " << halves[0]->size() << " training, " << halves[1]->size()
              << " test\n";
    std::cout << "mask:";
    for (int gene : *mask) {
        std::cout << " " << gene;
    }
    std::cout << "\nfeatures:";
    for (std::size_t i = 0; i < mask->size(); ++i) {
        if ((*mask)[i] == 1) {
            std::cout << " " << i;
        }
    }
    std::cout << "\naccuracy: " << accuracy << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
}
