#include "velkar/optimization/Genetic.h"

#include <cstdint>
#include <iostream>
#include <stdexcept>
#include <string>

#include "velkar/util/Random.h"

namespace velkar::optimization {

namespace {

using math::Matrix;
using patternrecognition::Pattern;

void CheckEliteCount(int eliteCount) {
    if (eliteCount < 1 || eliteCount > Genetic::maxEliteCount) {
        throw std::invalid_argument("Genetic: the elite count must lie in 1 ... " +
                                    std::to_string(Genetic::maxEliteCount) + ", got " +
                                    std::to_string(eliteCount));
    }
}

void CheckPatterns(const std::shared_ptr<std::vector<std::shared_ptr<Pattern>>>& patterns,
                   const std::string& which, std::size_t featureCount) {
    for (std::size_t i = 0; i < patterns->size(); ++i) {
        const auto& pattern = (*patterns)[i];
        if (!pattern) {
            throw std::invalid_argument("Genetic: " + which + " pattern " + std::to_string(i) +
                                        " is missing");
        }
        if (pattern->Descriptors()->size() != featureCount) {
            throw std::invalid_argument("Genetic: " + which + " pattern " + std::to_string(i) +
                                        " has " + std::to_string(pattern->Descriptors()->size()) +
                                        " features, expected " + std::to_string(featureCount));
        }
    }
}

bool SameRow(const Matrix<double>& a, int rowA, const Matrix<double>& b, int rowB) {
    for (int c = 0; c < a.Columns(); ++c) {
        if (a(rowA, c) != b(rowB, c)) {
            return false;
        }
    }
    return true;
}

void CopyRow(const Matrix<double>& from, int fromRow, Matrix<double>& to, int toRow) {
    for (int c = 0; c < from.Columns(); ++c) {
        to(toRow, c) = from(fromRow, c);
    }
}

// Probability checks draw a number in 0 ... 99 and compare it with a percentage.
bool Chance(int percent) { return static_cast<int>(util::RandomIndex(100)) < percent; }

}  // namespace

Genetic::Genetic(patternrecognition::PatternRecognitionAlgorithm* classifier, int elite)
    : algorithm(classifier), eliteCount(elite) {
    if (classifier == nullptr) {
        throw std::invalid_argument("Genetic needs a classifier");
    }
    CheckEliteCount(elite);
}

void Genetic::RandomChromosome(Matrix<double>& population, int row) {
    const int d = population.Columns();
    for (int c = 0; c < d; ++c) {
        population(row, c) = 0.0;
    }
    const auto squared = static_cast<std::uint64_t>(d) * static_cast<std::uint64_t>(d);
    std::uint64_t r = util::RandomIndex(squared - 1) + 1;
    // For D = 3, r = 8 has a fourth binary digit with no gene left for it; it is dropped.
    for (int gene = d - 1; gene >= 0 && r > 0; --gene, r >>= 1) {
        population(row, gene) = static_cast<double>(r & 1U);
    }
}

double Genetic::Fitness(const Matrix<double>& population, int row, const PatternSet& train,
                        const PatternSet& test) {
    std::vector<int> selected;
    for (int c = 0; c < population.Columns(); ++c) {
        if (population(row, c) == 1.0) {
            selected.push_back(c);
        }
    }
    auto reduce = [&selected](const PatternSet& patterns) {
        auto reduced = std::make_shared<std::vector<std::shared_ptr<Pattern>>>();
        reduced->reserve(patterns->size());
        for (const auto& pattern : *patterns) {
            const std::vector<double>& features = *pattern->Descriptors();
            std::vector<double> values;
            values.reserve(selected.size());
            for (int c : selected) {
                values.push_back(features[static_cast<std::size_t>(c)]);
            }
            auto copy = std::make_shared<Pattern>();
            copy->SetClass(pattern->Class());
            copy->SetDescriptors(std::move(values));
            reduced->push_back(copy);
        }
        return reduced;
    };
    const PatternSet reducedTrain = reduce(train);
    const PatternSet reducedTest = reduce(test);
    std::size_t correct = 0;
    try {
        algorithm->Train(reducedTrain);
        for (const auto& pattern : *reducedTest) {
            if (algorithm->Classify(*pattern->Descriptors()) == pattern->Class()) {
                ++correct;
            }
        }
    } catch (const std::invalid_argument& refusal) {
        if (refusedCount++ == 0) {
            firstRefusal = refusal.what();
        }
        return 0.0;
    }
    return static_cast<double>(correct) / static_cast<double>(reducedTest->size());
}

std::shared_ptr<std::vector<int>> Genetic::Optimize(PatternSet trainPatterns,
                                                    PatternSet testPatterns, double* bestFitness) {
    const int d = CheckOptimizeInputs(trainPatterns, testPatterns);
    Matrix<double> population(populationSize, d);
    for (int row = 0; row < populationSize; ++row) {
        RandomChromosome(population, row);
    }
    // In the first generation rows 0 ... K-1 stand as the elite with fitness 0, unevaluated.
    std::vector<double> eliteFitness(static_cast<std::size_t>(eliteCount), 0.0);
    refusedCount = 0;
    firstRefusal.clear();

    for (int generation = 0; generation < generationCount; ++generation) {
        Matrix<double> next(populationSize, d);
        for (int row = 0; row < eliteCount; ++row) {
            CopyRow(population, row, next, row);
        }
        SelectElite(population, trainPatterns, testPatterns, next, eliteFitness);
        Breed(next);
        population = std::move(next);
        std::cout << generation << std::endl;
    }

    auto best = std::make_shared<std::vector<int>>(static_cast<std::size_t>(d));
    for (int gene = 0; gene < d; ++gene) {
        (*best)[static_cast<std::size_t>(gene)] = population(0, gene) == 1.0 ? 1 : 0;
    }
    if (bestFitness != nullptr) {
        *bestFitness = eliteFitness[0];
    }
    if (refusedCount > 0) {
        std::cerr << "Genetic: the classifier refused " << refusedCount << " of the "
                  << generationCount * (populationSize - eliteCount)
                  << " mask evaluations, which scored 0 (first: " << firstRefusal << ")"
                  << std::endl;
    }
    return best;
}

int Genetic::CheckOptimizeInputs(const PatternSet& trainPatterns,
                                 const PatternSet& testPatterns) const {
    if (algorithm == nullptr) {
        throw std::invalid_argument("Genetic: Optimize needs a classifier");
    }
    CheckEliteCount(eliteCount);
    if (!trainPatterns || trainPatterns->empty() || !(*trainPatterns)[0]) {
        throw std::invalid_argument("Genetic: Optimize needs training patterns");
    }
    if (!testPatterns || testPatterns->empty()) {
        throw std::invalid_argument("Genetic: Optimize needs test patterns to measure accuracy");
    }
    const std::size_t featureCount = (*trainPatterns)[0]->Descriptors()->size();
    if (featureCount < 2) {
        throw std::invalid_argument("Genetic: selecting features needs at least 2 of them, got " +
                                    std::to_string(featureCount));
    }
    CheckPatterns(trainPatterns, "training", featureCount);
    CheckPatterns(testPatterns, "test", featureCount);
    return static_cast<int>(featureCount);
}

void Genetic::SelectElite(const Matrix<double>& population, const PatternSet& train,
                          const PatternSet& test, Matrix<double>& next,
                          std::vector<double>& eliteFitness) {
    const int k = eliteCount;
    for (int row = k; row < populationSize; ++row) {
        const double fitness = Fitness(population, row, train, test);
        // Only the first slot of lower fitness is considered; an equal fitness does not
        // displace, and a mask already in that slot is not inserted twice.
        int slot = 0;
        while (slot < k && !(eliteFitness[static_cast<std::size_t>(slot)] < fitness)) {
            ++slot;
        }
        if (slot == k || SameRow(next, slot, population, row)) {
            continue;
        }
        for (int moved = k - 1; moved > slot; --moved) {
            CopyRow(next, moved - 1, next, moved);
            eliteFitness[static_cast<std::size_t>(moved)] =
                eliteFitness[static_cast<std::size_t>(moved - 1)];
        }
        CopyRow(population, row, next, slot);
        eliteFitness[static_cast<std::size_t>(slot)] = fitness;
    }
}

void Genetic::Breed(Matrix<double>& next) const {
    const int k = eliteCount;
    const int d = next.Columns();
    // Children of elite rows e and e + 1 go to rows K + e and K + e + 1, written one after the
    // other: for odd K the last pair's second parent is row K, the first child of this step.
    const int cut = d / 2;
    for (int e = 0; e < k; e += 2) {
        const int first = k + e;
        const int second = k + e + 1;
        if (Chance(20)) {
            for (int gene = 0; gene < d; ++gene) {
                next(first, gene) = gene < cut ? next(e, gene) : next(e + 1, gene);
            }
            for (int gene = 0; gene < d; ++gene) {
                next(second, gene) = gene < cut ? next(e + 1, gene) : next(e, gene);
            }
        } else {
            CopyRow(next, e, next, first);
            CopyRow(next, e + 1, next, second);
        }
    }
    for (int row = k; row < 2 * k; ++row) {
        for (int gene = 0; gene < d; ++gene) {
            if (Chance(50)) {
                next(row, gene) = next(row, gene) == 1.0 ? 0.0 : 1.0;
            }
        }
    }
    for (int row = 2 * k; row < populationSize; ++row) {
        RandomChromosome(next, row);
    }
}

}  // namespace velkar::optimization
