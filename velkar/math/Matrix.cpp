#include "velkar/math/Matrix.h"

#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

namespace velkar::math {

namespace {

std::string ShapeMismatch(int rowsA, int columnsA, int rowsB, int columnsB) {
    return "Invalid matrix dimensions: (" + std::to_string(rowsA) + ", " +
           std::to_string(columnsA) + ") != (" + std::to_string(rowsB) + ", " +
           std::to_string(columnsB) + ")";
}

}  // namespace

template <typename T>
Matrix<T>::Matrix(int rowCount, int columnCount) : rows(rowCount), columns(columnCount) {
    if (rowCount < 0 || columnCount < 0) {
        throw std::invalid_argument("Matrix dimensions must not be negative: (" +
                                    std::to_string(rowCount) + ", " + std::to_string(columnCount) +
                                    ")");
    }
    elements.assign(static_cast<std::size_t>(rowCount) * static_cast<std::size_t>(columnCount),
                    T(0));
}

template <typename T>
Matrix<T>::Matrix(Matrix&& other) noexcept
    : rows(std::exchange(other.rows, 0)),
      columns(std::exchange(other.columns, 0)),
      elements(std::move(other.elements)) {
    other.elements.clear();
}

template <typename T>
Matrix<T>& Matrix<T>::operator=(Matrix&& other) noexcept {
    if (this != &other) {
        rows = std::exchange(other.rows, 0);
        columns = std::exchange(other.columns, 0);
        elements = std::move(other.elements);
        other.elements.clear();
    }
    return *this;
}

template <typename T>
void Matrix<T>::Fill(T value) {
    for (T& element : elements) {
        element = value;
    }
}

template <typename T>
Matrix<T> Matrix<T>::Transposed() const {
    Matrix result(columns, rows);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            result(c, r) = (*this)(r, c);
        }
    }
    return result;
}

template <typename T>
Matrix<T> Matrix<T>::operator*(const Matrix& other) const {
    if (columns != other.rows) {
        throw std::invalid_argument(ShapeMismatch(rows, columns, other.rows, other.columns));
    }
    Matrix result(rows, other.columns);
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < other.columns; ++j) {
            T sum = T(0);
            for (int t = 0; t < columns; ++t) {
                sum += (*this)(i, t) * other(t, j);
            }
            result(i, j) = sum;
        }
    }
    return result;
}

template <typename T>
Matrix<T> Matrix<T>::operator-(const Matrix& other) const {
    if (rows != other.rows || columns != other.columns) {
        throw std::invalid_argument(ShapeMismatch(rows, columns, other.rows, other.columns));
    }
    Matrix result(rows, columns);
    for (std::size_t i = 0; i < elements.size(); ++i) {
        result.elements[i] = elements[i] - other.elements[i];
    }
    return result;
}

template <typename T>
T Matrix<T>::DotProduct(const Matrix& other) const {
    // Only vectors have a dot product here; any other shape is refused rather than given an
    // arbitrary meaning.
    if (rows != other.rows || columns != other.columns || (rows != 1 && columns != 1)) {
        throw std::invalid_argument("Dotproduct only possible for two equal n x 1 matrices");
    }
    T sum = T(0);
    if (columns == 1) {
        for (int t = 0; t < rows; ++t) {
            sum += (*this)(t, 0) * other(t, 0);
        }
    } else {
        for (int t = 0; t < columns; ++t) {
            sum += (*this)(0, t) * other(0, t);
        }
    }
    return sum;
}

template <typename T>
Matrix<T> Matrix<T>::Inverse() const {
    if (rows != columns) {
        throw std::invalid_argument("Matrix x dimension != y dimension");
    }
    const int n = rows;
    Matrix a(*this);
    // Row k of step k is swapped with the row holding the largest remaining element of column k,
    // so a nonsingular matrix with a zero on its diagonal inverts too. The swaps are undone at
    // the end as column swaps in reverse order.
    std::vector<int> pivotRows(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        int pivot = k;
        for (int r = k + 1; r < n; ++r) {
            // Strictly greater keeps the earlier row on ties and leaves a usable pivot in place.
            if (std::abs(a(r, k)) > std::abs(a(pivot, k))) {
                pivot = r;
            }
        }
        pivotRows[static_cast<std::size_t>(k)] = pivot;
        a.SwapRows(k, pivot);

        const T p = T(-1) / a(k, k);
        a(k, k) = p;
        for (int i = 0; i < n; ++i) {
            if (i != k) {
                a(i, k) *= p;
            }
        }
        // Row k is scaled only after this update, which needs its unscaled values.
        for (int i = 0; i < n; ++i) {
            if (i == k) {
                continue;
            }
            for (int j = 0; j < n; ++j) {
                if (j != k) {
                    a(i, j) += a(i, k) * a(k, j);
                }
            }
        }
        for (int j = 0; j < n; ++j) {
            if (j != k) {
                a(k, j) *= p;
            }
        }
    }
    for (T& element : a.elements) {
        element = -element;
    }
    for (int k = n - 1; k >= 0; --k) {
        const int pivot = pivotRows[static_cast<std::size_t>(k)];
        if (pivot != k) {
            for (int r = 0; r < n; ++r) {
                std::swap(a(r, k), a(r, pivot));
            }
        }
    }
    return a;
}

template <typename T>
void Matrix<T>::Solve(Matrix& b) {
    // b must be a column; other widths would leave its layout undefined for the result.
    if (rows != columns || b.rows != rows || b.columns != 1) {
        throw std::invalid_argument("Matrix not quadratic or vector dimension mismatch");
    }
    const int n = rows;
    for (int i = 0; i + 1 < n; ++i) {
        int pivot = i;
        for (int r = i + 1; r < n; ++r) {
            // Strictly greater keeps the first row on ties.
            if (std::abs((*this)(r, i)) > std::abs((*this)(pivot, i))) {
                pivot = r;
            }
        }
        SwapRows(i, pivot);
        b.SwapRows(i, pivot);
        for (int r = i + 1; r < n; ++r) {
            const T factor = (*this)(r, i) / (*this)(i, i);
            for (int c = 0; c < n; ++c) {
                (*this)(r, c) -= factor * (*this)(i, c);
            }
            b(r, 0) -= factor * b(i, 0);
        }
    }
    for (int i = n - 1; i >= 0; --i) {
        T sum = T(0);
        for (int j = n - 1; j > i; --j) {
            sum += (*this)(i, j) * b(j, 0);
        }
        b(i, 0) = (b(i, 0) - sum) / (*this)(i, i);
    }
}

template <typename T>
void Matrix<T>::SwapRows(int first, int second) {
    if (first == second) {
        return;
    }
    for (int c = 0; c < columns; ++c) {
        std::swap((*this)(first, c), (*this)(second, c));
    }
}

template <typename T>
int Matrix<T>::NearestRow(const T* values) const {
    int nearest = 0;
    T nearestDistance = T(0);
    for (int r = 0; r < rows; ++r) {
        T distance = T(0);
        for (int c = 0; c < columns; ++c) {
            const T difference = (*this)(r, c) - values[c];
            distance += difference * difference;
        }
        // Squared distances order the rows as the distances do.
        if (r == 0 || distance < nearestDistance) {
            nearest = r;
            nearestDistance = distance;
        }
    }
    return nearest;
}

template <typename T>
Matrix<T> operator*(std::type_identity_t<T> scalar, const Matrix<T>& matrix) {
    Matrix<T> result(matrix.Rows(), matrix.Columns());
    for (int r = 0; r < matrix.Rows(); ++r) {
        for (int c = 0; c < matrix.Columns(); ++c) {
            result(r, c) = scalar * matrix(r, c);
        }
    }
    return result;
}

template class Matrix<double>;
template Matrix<double> operator*<double>(double scalar, const Matrix<double>& matrix);

}  // namespace velkar::math
