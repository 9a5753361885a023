#pragma once

// The accuracy report written beside each results file ("<results file>.report"): how the test
// windows of all repetitions were classified, as the remote-sensing field reports it. Each
// section holds a confusion matrix (rows: the true class, columns: the predicted class and
// "unknown" for an answer outside the class list), every class's recall (producer's accuracy)
// and precision (user's accuracy), the overall accuracy and Cohen's kappa. A figure that is not
// defined (a class without test windows, a class never predicted, kappa when chance agreement
// is 1) is written "n/a". Lines are "key: value", and table rows are tab-separated, so that a
// script can read what a person reads.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace velkar::ordana {

class ConfusionMatrix {
  public:
    explicit ConfusionMatrix(std::size_t classCount);

    // predicted outside 0 ... classCount - 1 counts as "unknown"; trueClass must be inside.
    void Add(int trueClass, int predicted);

    std::size_t ClassCount() const { return classCount; }
    // Column classCount is "unknown".
    long long Count(std::size_t trueClass, std::size_t predicted) const;
    long long Total() const { return total; }

    std::optional<double> Recall(std::size_t classIndex) const;
    std::optional<double> Precision(std::size_t classIndex) const;
    std::optional<double> OverallAccuracy() const;
    std::optional<double> Kappa() const;

    // "overall accuracy A, kappa K; recall name R, ..." for a person at the console.
    std::string Summary(const std::vector<std::string>& classNames) const;

    // The matrix and its figures under the given heading, one section of the report.
    void Write(std::ostream& out, const std::string& heading,
               const std::vector<std::string>& classNames) const;

  private:
    long long RowSum(std::size_t trueClass) const;
    long long ColumnSum(std::size_t predicted) const;

    std::size_t classCount;
    std::vector<long long> counts;
    long long total = 0;
};

// A figure as the report writes it: up to 15 significant digits, or "n/a" when it is not defined.
std::string ReportFigure(const std::optional<double>& figure);

// The report of one classifier on one extraction output, described by its extractor's parameter
// string and colour space (the report is named after the output's files; it holds nothing that
// changes from run to run, so that a seeded run repeats it exactly). heldOut is empty when the
// held-out evaluation could not run; heldOutReason then says why. Returns the path written.
std::string WriteAccuracyReport(const std::string& path, const std::string& extraction,
                                const std::string& classifierName, int repetitions,
                                const std::vector<std::string>& classNames,
                                const ConfusionMatrix& windowSplit,
                                const std::optional<ConfusionMatrix>& heldOut,
                                const std::string& heldOutReason);

}  // namespace velkar::ordana
