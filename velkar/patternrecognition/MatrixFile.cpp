#include "velkar/patternrecognition/MatrixFile.h"

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <system_error>

namespace velkar::patternrecognition {

namespace {

std::string Plural(std::size_t count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

MatrixFile::MatrixFile(const std::string& filePath) : path(filePath), in(filePath) {
    if (!in) {
        throw std::runtime_error("Cannot open the file '" + path + "'.");
    }
}

void MatrixFile::Reject(const std::string& problem) const {
    throw std::runtime_error("The file '" + path + "', line " + std::to_string(lineNumber) + ": " +
                             problem + ".");
}

bool MatrixFile::NextFields(std::vector<std::string>& fields) {
    fields.clear();
    std::string line;
    if (!std::getline(in, line)) {
        return false;
    }
    ++lineNumber;
    std::size_t position = 0;
    // Runs of blanks count as one separator; a carriage return of a DOS line end is a blank.
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (position < line.size()) {
        while (position < line.size() && isBlank(line[position])) {
            ++position;
        }
        const std::size_t start = position;
        while (position < line.size() && !isBlank(line[position])) {
            ++position;
        }
        if (position > start) {
            fields.push_back(line.substr(start, position - start));
        }
    }
    return true;
}

std::vector<int> MatrixFile::ReadHeader(int fieldCount) {
    std::vector<std::string> fields;
    if (!NextFields(fields)) {
        lineNumber = 1;
        Reject("the header line is missing");
    }
    if (fields.size() != static_cast<std::size_t>(fieldCount)) {
        Reject("the header needs " + Plural(static_cast<std::size_t>(fieldCount), "integer") +
               ", found " + Plural(fields.size(), "field"));
    }
    std::vector<int> header;
    for (const std::string& field : fields) {
        int value = 0;
        const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
        if (error != std::errc() || end != field.data() + field.size()) {
            Reject("the header field '" + field + "' is not an integer");
        }
        header.push_back(value);
    }
    return header;
}

math::Matrix<double> MatrixFile::ReadRows(int rows, int columns) {
    if (rows < 0 || columns < 0) {
        Reject("a matrix cannot have a negative size");
    }
    if (columns > 0 && rows > kMaxValues / columns) {
        Reject("a matrix of " + std::to_string(rows) + " x " + std::to_string(columns) +
               " values is more than the " + std::to_string(kMaxValues) + " a model may hold");
    }
    std::vector<double> values;
    std::vector<std::string> fields;
    for (int r = 0; r < rows; ++r) {
        if (!NextFields(fields)) {
            // The line where the missing row was expected.
            ++lineNumber;
            Reject("the file ends after " + Plural(static_cast<std::size_t>(r), "row") + " of " +
                   std::to_string(rows));
        }
        if (fields.size() != static_cast<std::size_t>(columns)) {
            Reject("expected " + Plural(static_cast<std::size_t>(columns), "value") + ", found " +
                   std::to_string(fields.size()));
        }
        for (const std::string& field : fields) {
            double value = 0.0;
            const auto [end, error] =
                std::from_chars(field.data(), field.data() + field.size(), value);
            if (error != std::errc() || end != field.data() + field.size() ||
                !std::isfinite(value)) {
                Reject("the field '" + field + "' is not a finite number");
            }
            values.push_back(value);
        }
    }
    while (NextFields(fields)) {
        if (!fields.empty()) {
            Reject("more rows than the " + std::to_string(rows) + " the header announces");
        }
    }
    math::Matrix<double> matrix(rows, columns);
    std::size_t next = 0;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            matrix(r, c) = values[next++];
        }
    }
    return matrix;
}

void MatrixFile::Write(const std::string& path, const std::vector<int>& header,
                       const math::Matrix<double>& matrix) {
    std::ofstream out(path, std::ios::trunc);
    for (std::size_t i = 0; i < header.size(); ++i) {
        out << (i > 0 ? " " : "") << header[i];
    }
    out << "\n";
    for (int r = 0; r < matrix.Rows(); ++r) {
        for (int c = 0; c < matrix.Columns(); ++c) {
            out << (c > 0 ? " " : "") << matrix(r, c);
        }
        out << "\n";
    }
    out.close();
    if (!out) {
        throw std::runtime_error("Cannot write the file '" + path + "'.");
    }
}

}  // namespace velkar::patternrecognition
