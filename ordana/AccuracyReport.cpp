#include "ordana/AccuracyReport.h"

#include <sstream>
#include <stdexcept>

#include "ordana/OutputFile.h"

namespace velkar::ordana {

namespace {

void WriteFigure(std::ostream& out, const std::optional<double>& figure) {
    if (figure) {
        out << *figure;
    } else {
        out << "n/a";
    }
}

}  // namespace

std::string ReportFigure(const std::optional<double>& figure) {
    std::ostringstream text;
    text.precision(15);
    WriteFigure(text, figure);
    return text.str();
}

ConfusionMatrix::ConfusionMatrix(std::size_t classCount)
    : classCount(classCount), counts(classCount * (classCount + 1), 0) {}

void ConfusionMatrix::Add(int trueClass, int predicted) {
    if (trueClass < 0 || static_cast<std::size_t>(trueClass) >= classCount) {
        throw std::out_of_range("ConfusionMatrix: true class " + std::to_string(trueClass) +
                                " outside the " + std::to_string(classCount) + " classes");
    }
    const std::size_t column = predicted < 0 || static_cast<std::size_t>(predicted) >= classCount
                                   ? classCount
                                   : static_cast<std::size_t>(predicted);
    ++counts[static_cast<std::size_t>(trueClass) * (classCount + 1) + column];
    ++total;
}

long long ConfusionMatrix::Count(std::size_t trueClass, std::size_t predicted) const {
    return counts.at(trueClass * (classCount + 1) + predicted);
}

long long ConfusionMatrix::RowSum(std::size_t trueClass) const {
    long long sum = 0;
    for (std::size_t column = 0; column <= classCount; ++column) {
        sum += Count(trueClass, column);
    }
    return sum;
}

long long ConfusionMatrix::ColumnSum(std::size_t predicted) const {
    long long sum = 0;
    for (std::size_t row = 0; row < classCount; ++row) {
        sum += Count(row, predicted);
    }
    return sum;
}

std::optional<double> ConfusionMatrix::Recall(std::size_t classIndex) const {
    const long long row = RowSum(classIndex);
    if (row == 0) {
        return std::nullopt;
    }
    return static_cast<double>(Count(classIndex, classIndex)) / static_cast<double>(row);
}

std::optional<double> ConfusionMatrix::Precision(std::size_t classIndex) const {
    const long long column = ColumnSum(classIndex);
    if (column == 0) {
        return std::nullopt;
    }
    return static_cast<double>(Count(classIndex, classIndex)) / static_cast<double>(column);
}

std::optional<double> ConfusionMatrix::OverallAccuracy() const {
    if (total == 0) {
        return std::nullopt;
    }
    long long correct = 0;
    for (std::size_t c = 0; c < classCount; ++c) {
        correct += Count(c, c);
    }
    return static_cast<double>(correct) / static_cast<double>(total);
}

// kappa = (p_o - p_e) / (1 - p_e), p_e the agreement expected from the row and column totals
// by chance; "unknown" answers count in the total but agree with no class.
std::optional<double> ConfusionMatrix::Kappa() const {
    const std::optional<double> observed = OverallAccuracy();
    if (!observed) {
        return std::nullopt;
    }
    const double n = static_cast<double>(total);
    double chance = 0.0;
    for (std::size_t c = 0; c < classCount; ++c) {
        chance += static_cast<double>(RowSum(c)) / n * (static_cast<double>(ColumnSum(c)) / n);
    }
    if (chance >= 1.0) {
        return std::nullopt;
    }
    return (*observed - chance) / (1.0 - chance);
}

std::string ConfusionMatrix::Summary(const std::vector<std::string>& classNames) const {
    std::ostringstream text;
    text << "overall accuracy ";
    WriteFigure(text, OverallAccuracy());
    text << ", kappa ";
    WriteFigure(text, Kappa());
    text << "; recall";
    for (std::size_t c = 0; c < classCount; ++c) {
        text << (c == 0 ? " " : ", ") << classNames.at(c) << " ";
        WriteFigure(text, Recall(c));
    }
    return text.str();
}

void ConfusionMatrix::Write(std::ostream& out, const std::string& heading,
                            const std::vector<std::string>& classNames) const {
    out << "[" << heading << "]\n";
    out << "test windows: " << total << "\n";
    out << "confusion matrix (rows: true class, columns: predicted class):\n";
    out << "true\\predicted";
    for (const std::string& name : classNames) {
        out << "\t" << name;
    }
    out << "\tunknown\n";
    for (std::size_t row = 0; row < classCount; ++row) {
        out << classNames.at(row);
        for (std::size_t column = 0; column <= classCount; ++column) {
            out << "\t" << Count(row, column);
        }
        out << "\n";
    }
    out << "class\trecall (producer's accuracy)\tprecision (user's accuracy)\n";
    for (std::size_t c = 0; c < classCount; ++c) {
        out << classNames.at(c) << "\t";
        out << ReportFigure(Recall(c)) << "\t" << ReportFigure(Precision(c)) << "\n";
    }
    out << "overall accuracy: " << ReportFigure(OverallAccuracy()) << "\n";
    out << "kappa: " << ReportFigure(Kappa()) << "\n";
}

std::string WriteAccuracyReport(const std::string& path, const std::string& extraction,
                                const std::string& classifierName, int repetitions,
                                const std::vector<std::string>& classNames,
                                const ConfusionMatrix& windowSplit,
                                const std::optional<ConfusionMatrix>& heldOut,
                                const std::string& heldOutReason) {
    OutputFile file(path);
    std::ostream& out = file.Stream();
    out.precision(15);
    out << "extraction: " << extraction << "\n";
    out << "classifier: " << classifierName << "\n";
    out << "repetitions: " << repetitions << "\n\n";
    out << "# Every repetition splits the windows at random into a training and a test half.\n"
        << "# Windows of one polygon land in both halves, so these figures overstate the\n"
        << "# accuracy on ground that no training polygon covers.\n";
    windowSplit.Write(out, "window split", classNames);
    out << "\n# Every repetition also splits each class's polygons at random into halves, trains\n"
        << "# on the windows of one half and tests on the windows of the other.\n";
    if (heldOut) {
        heldOut->Write(out, "held-out polygons", classNames);
    } else {
        out << "[held-out polygons]\n"
            << "not evaluated: " << heldOutReason << "\n";
    }
    return file.Commit();
}

}  // namespace velkar::ordana
