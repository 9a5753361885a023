// Feeds arbitrary bytes, through a file, to the Load readers of the Mahalanobis distance, Point K
// and learning vector quantization classifiers. Each reader either rejects the text with a
// std::runtime_error or leaves a model that keeps its promises: a matrix of the announced shape,
// finite values, answers within the classifier's range for a vector of the loaded length, and a
// file written by Save that loads again to the same shape.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TemporaryFile.h"
#include "velkar/patternrecognition/LearningVectorQuantization.h"
#include "velkar/patternrecognition/MahalanobisDistance.h"
#include "velkar/patternrecognition/PointK.h"

namespace {

using fuzzing::TemporaryFile;
using velkar::math::Matrix;
using velkar::patternrecognition::LearningVectorQuantization;
using velkar::patternrecognition::MahalanobisDistance;
using velkar::patternrecognition::PointK;

const std::string& InputPath() {
    static const TemporaryFile input("matrixfile-fuzz");
    return input.path;
}

const std::string& RewrittenPath() {
    static const TemporaryFile rewritten("matrixfile-fuzz-rewritten");
    return rewritten.path;
}

void Require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

void RequireFinite(const Matrix<double>& matrix) {
    for (int r = 0; r < matrix.Rows(); ++r) {
        for (int c = 0; c < matrix.Columns(); ++c) {
            Require(std::isfinite(matrix(r, c)));
        }
    }
}

// Runs load on the input; false when the reader rejected it.
template <typename Load>
bool Accepted(Load load) {
    try {
        load(InputPath());
    } catch (const std::runtime_error&) {
        return false;
    }
    return true;
}

void CheckMahalanobis() {
    MahalanobisDistance classifier(2);
    if (!Accepted([&](const std::string& path) { classifier.Load(path); })) {
        Require(classifier.InputSize() == -1);
        return;
    }
    const int n = classifier.InputSize();
    const Matrix<double>& inverse = *classifier.InverseCovariance();
    Require(n >= 0 && inverse.Rows() == n && inverse.Columns() == n);
    RequireFinite(inverse);
    // The file holds no class means: the loaded model refuses to classify.
    std::vector<double> zeros(static_cast<std::size_t>(n), 0.0);
    try {
        classifier.Classify(zeros);
        __builtin_trap();
    } catch (const std::logic_error&) {
    }
    classifier.Save(RewrittenPath());
    MahalanobisDistance reloaded(2);
    reloaded.Load(RewrittenPath());
    Require(reloaded.InputSize() == n);
}

void CheckPointK() {
    PointK classifier;
    if (!Accepted([&](const std::string& path) { classifier.Load(path); })) {
        Require(classifier.InputSize() == -1);
        return;
    }
    const int n = classifier.InputSize();
    const int k = classifier.PointCount();
    Require(n >= 0 && k >= 1 && classifier.Points().Rows() == k &&
            classifier.Points().Columns() == n);
    RequireFinite(classifier.Points());
    std::vector<double> zeros(static_cast<std::size_t>(n), 0.0);
    const int answer = classifier.Classify(zeros);
    Require(answer >= 1 && answer <= k);
    classifier.Save(RewrittenPath());
    PointK reloaded;
    reloaded.Load(RewrittenPath());
    Require(reloaded.InputSize() == n && reloaded.PointCount() == k);
}

void CheckVectorQuantization() {
    LearningVectorQuantization classifier;
    if (!Accepted([&](const std::string& path) { classifier.Load(path); })) {
        Require(classifier.InputSize() == -1);
        return;
    }
    const int n = classifier.InputSize();
    const Matrix<double>& weights = *classifier.Weights();
    const int hidden = weights.Rows();
    Require(n >= 0 && hidden >= 1 && weights.Columns() == n);
    RequireFinite(weights);
    std::vector<double> zeros(static_cast<std::size_t>(n), 0.0);
    const int answer = classifier.Classify(zeros);
    Require(answer >= 1 && answer <= classifier.NeuronClass(hidden - 1));
    classifier.Save(RewrittenPath());
    LearningVectorQuantization reloaded;
    reloaded.Load(RewrittenPath());
    Require(reloaded.InputSize() == n && reloaded.Weights()->Rows() == hidden);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream out(InputPath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    CheckMahalanobis();
    CheckPointK();
    CheckVectorQuantization();
    return 0;
}
