#pragma once

// The plain-text matrix files of the statistical classifiers: a header line of integers
// separated by blanks, then one line per matrix row holding its values separated by single
// blanks, every value in the stream's default formatting (six significant digits). Reading is
// strict: a missing file, a header with another number of fields, a field that is not a finite
// number, or more or fewer rows or values than expected throws std::runtime_error naming the file
// and the line. Blank lines after the last row are allowed. Rows are collected as they are read,
// so a header cannot make the reader allocate more than the file holds, and a matrix of more than
// kMaxValues values is refused from its sizes before any row is read.

#include <fstream>
#include <string>
#include <vector>

#include "velkar/math/Matrix.h"

namespace velkar::patternrecognition {

class MatrixFile {
  public:
    // The limit new models are held to.
    static constexpr long long kMaxValues = 10'000'000;

    // Opens path for reading; a file that cannot be opened is rejected.
    explicit MatrixFile(const std::string& path);

    // Reads the first line: exactly fieldCount integers.
    std::vector<int> ReadHeader(int fieldCount);
    // Reads rows lines of columns values each, then checks that only blank lines follow.
    math::Matrix<double> ReadRows(int rows, int columns);
    // Throws the reader's error for the line read last.
    [[noreturn]] void Reject(const std::string& problem) const;

    // Writes header and matrix in the format above; a file that cannot be written throws
    // std::runtime_error naming it.
    static void Write(const std::string& path, const std::vector<int>& header,
                      const math::Matrix<double>& matrix);

  private:
    // The next line cut into its blank-separated fields; false at the end of the file.
    bool NextFields(std::vector<std::string>& fields);

    std::string path;
    std::ifstream in;
    int lineNumber = 0;
};

}  // namespace velkar::patternrecognition
