#pragma once

// A small dense matrix of reals, stored row by row: element (r, c) is the r * Columns() + c-th
// stored value. Written for clarity, not speed: every operation loops over the elements and
// returns a new matrix. Arithmetic checks the operands' shapes and throws std::invalid_argument
// on a mismatch; element access, Fill and SwapRows check nothing, so indices must lie inside
// the matrix. A singular matrix is not detected: Inverse and Solve then divide by zero and
// produce infinities or NaN. Instantiated for double only; not thread-safe.

#include <cstddef>
#include <type_traits>
#include <vector>

namespace velkar::math {

template <typename T>
class Matrix {
  public:
    Matrix() = default;
    // Elements start at 0. Negative dimensions throw std::invalid_argument.
    Matrix(int rows, int columns);
    Matrix(const Matrix& other) = default;
    Matrix(Matrix&& other) noexcept;
    Matrix& operator=(const Matrix& other) = default;
    Matrix& operator=(Matrix&& other) noexcept;
    virtual ~Matrix() = default;

    int Rows() const { return rows; }
    int Columns() const { return columns; }

    T& operator()(int row, int column) { return elements[Index(row, column)]; }
    const T& operator()(int row, int column) const { return elements[Index(row, column)]; }

    void Fill(T value);
    Matrix Transposed() const;

    // Matrix product: columns of this must equal rows of other.
    Matrix operator*(const Matrix& other) const;
    // Element-wise difference of two matrices of one shape.
    Matrix operator-(const Matrix& other) const;

    // Sum of the element-wise products of two n x 1 (or two 1 x n) matrices.
    T DotProduct(const Matrix& other) const;

    // Gauss-Jordan elimination with partial pivoting (rows exchanged for the largest element of
    // each column); only a singular matrix meets a zero pivot and gives non-finite values.
    Matrix Inverse() const;

    // Solves this * x = b by Gaussian elimination with partial pivoting. b (n x 1) is replaced
    // by x and this matrix by its eliminated (upper triangular) form.
    void Solve(Matrix& b);

    void SwapRows(int first, int second);

    // The index of the row nearest to values (Columns() of them) in Euclidean distance; a tie
    // keeps the lower index, and a matrix without rows answers 0.
    int NearestRow(const T* values) const;

  private:
    std::size_t Index(int row, int column) const {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) +
               static_cast<std::size_t>(column);
    }

    int rows = 0;
    int columns = 0;
    std::vector<T> elements;
};

// Scalar product: every element multiplied by scalar.
template <typename T>
Matrix<T> operator*(std::type_identity_t<T> scalar, const Matrix<T>& matrix);

extern template class Matrix<double>;
extern template Matrix<double> operator*<double>(double scalar, const Matrix<double>& matrix);

}  // namespace velkar::math
