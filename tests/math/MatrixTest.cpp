#include "velkar/math/Matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using velkar::math::Matrix;

Matrix<double> MakeMatrix(int rows, int columns, std::initializer_list<double> values) {
    Matrix<double> m(rows, columns);
    auto it = values.begin();
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            m(r, c) = *it++;
        }
    }
    return m;
}

void ExpectMatrixNear(const Matrix<double>& actual, const Matrix<double>& expected,
                      double tolerance) {
    ASSERT_EQ(actual.Rows(), expected.Rows());
    ASSERT_EQ(actual.Columns(), expected.Columns());
    for (int r = 0; r < actual.Rows(); ++r) {
        for (int c = 0; c < actual.Columns(); ++c) {
            EXPECT_NEAR(actual(r, c), expected(r, c), tolerance) << "at (" << r << ", " << c << ")";
        }
    }
}

void ExpectMatrixEq(const Matrix<double>& actual, const Matrix<double>& expected) {
    ExpectMatrixNear(actual, expected, 0.0);
}

Matrix<double> Identity(int n) {
    Matrix<double> m(n, n);
    for (int i = 0; i < n; ++i) {
        m(i, i) = 1.0;
    }
    return m;
}

// Random matrix whose diagonal outweighs the rest of its row, so it is well conditioned.
Matrix<double> DiagonallyDominant(int n, std::mt19937& generator) {
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    Matrix<double> m(n, n);
    for (int r = 0; r < n; ++r) {
        double rowSum = 0.0;
        for (int c = 0; c < n; ++c) {
            m(r, c) = value(generator);
            rowSum += std::abs(m(r, c));
        }
        m(r, r) = (m(r, r) < 0 ? -1.0 : 1.0) * (rowSum + 1.0);
    }
    return m;
}

template <typename Operation>
std::string ThrownMessage(Operation operation) {
    try {
        operation();
    } catch (const std::invalid_argument& error) {
        return error.what();
    }
    return "<nothing thrown>";
}

TEST(MatrixTest, NewMatrixHasItsShapeAndZeroElements) {
    Matrix<double> m(2, 3);
    EXPECT_EQ(m.Rows(), 2);
    EXPECT_EQ(m.Columns(), 3);
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(m(r, c), 0.0);
        }
    }
    Matrix<double> empty(0, 0);
    EXPECT_EQ(empty.Rows(), 0);
    EXPECT_EQ(empty.Columns(), 0);
}

TEST(MatrixTest, NegativeDimensionsAreRejected) {
    EXPECT_THROW(Matrix<double>(-1, 3), std::invalid_argument);
    EXPECT_THROW(Matrix<double>(3, -1), std::invalid_argument);
}

TEST(MatrixTest, ElementsAreStoredRowByRow) {
    Matrix<double> m(2, 3);
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 3; ++c) {
            m(r, c) = 10 * r + c;
        }
    }
    // The storage seen as one block: row 0, then row 1.
    const double* stored = &m(0, 0);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(stored[i], 10 * (i / 3) + i % 3) << i;
    }
}

TEST(MatrixTest, CopiesAreIndependent) {
    Matrix<double> original = MakeMatrix(2, 2, {1, 2, 3, 4});
    Matrix<double> copy(original);
    copy(0, 0) = 100.0;
    EXPECT_EQ(original(0, 0), 1.0);

    Matrix<double> assigned(5, 5);
    assigned = original;
    EXPECT_EQ(assigned.Rows(), 2);
    EXPECT_EQ(assigned.Columns(), 2);
    assigned(1, 1) = -7.0;
    EXPECT_EQ(original(1, 1), 4.0);
    ExpectMatrixEq(copy, MakeMatrix(2, 2, {100, 2, 3, 4}));
}

TEST(MatrixTest, MovedFromMatrixIsEmpty) {
    Matrix<double> source = MakeMatrix(2, 2, {1, 2, 3, 4});
    Matrix<double> target(std::move(source));
    ExpectMatrixEq(target, MakeMatrix(2, 2, {1, 2, 3, 4}));
    EXPECT_EQ(source.Rows(), 0);     // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(source.Columns(), 0);  // NOLINT(bugprone-use-after-move)
}

TEST(MatrixTest, FillSetsEveryElement) {
    Matrix<double> m(3, 2);
    m.Fill(2.5);
    ExpectMatrixEq(m, MakeMatrix(3, 2, {2.5, 2.5, 2.5, 2.5, 2.5, 2.5}));
}

TEST(MatrixTest, TransposedSwapsRowsAndColumns) {
    Matrix<double> m = MakeMatrix(2, 3, {1, 2, 3, 4, 5, 6});
    ExpectMatrixEq(m.Transposed(), MakeMatrix(3, 2, {1, 4, 2, 5, 3, 6}));
    ExpectMatrixEq(m.Transposed().Transposed(), m);
}

TEST(MatrixTest, SwapRowsExchangesWholeRows) {
    Matrix<double> m = MakeMatrix(3, 2, {1, 2, 3, 4, 5, 6});
    m.SwapRows(0, 2);
    ExpectMatrixEq(m, MakeMatrix(3, 2, {5, 6, 3, 4, 1, 2}));
    m.SwapRows(1, 1);
    ExpectMatrixEq(m, MakeMatrix(3, 2, {5, 6, 3, 4, 1, 2}));
}

TEST(MatrixTest, ProductOfHandComputedMatrices) {
    Matrix<double> a = MakeMatrix(2, 3, {1, 2, 3, 4, 5, 6});
    Matrix<double> b = MakeMatrix(3, 2, {7, 8, 9, 10, 11, 12});
    ExpectMatrixEq(a * b, MakeMatrix(2, 2, {58, 64, 139, 154}));
    ExpectMatrixEq(b * a, MakeMatrix(3, 3, {39, 54, 69, 49, 68, 87, 59, 82, 105}));
    // Operands are left as they were.
    ExpectMatrixEq(a, MakeMatrix(2, 3, {1, 2, 3, 4, 5, 6}));
}

TEST(MatrixTest, ProductWithEmptyInnerDimensionIsZero) {
    Matrix<double> a(2, 0);
    Matrix<double> b(0, 3);
    ExpectMatrixEq(a * b, Matrix<double>(2, 3));
}

TEST(MatrixTest, ProductOfMismatchedShapesNamesBothShapes) {
    Matrix<double> a(1, 3);
    Matrix<double> b(1, 4);
    EXPECT_EQ(ThrownMessage([&] { (void)(a * b); }), "Invalid matrix dimensions: (1, 3) != (1, 4)");
    Matrix<double> c(12, 10);
    Matrix<double> d(11, 2);
    EXPECT_EQ(ThrownMessage([&] { (void)(c * d); }),
              "Invalid matrix dimensions: (12, 10) != (11, 2)");
}

TEST(MatrixTest, DifferenceIsElementWise) {
    Matrix<double> a = MakeMatrix(2, 2, {5, 7, 9, 11});
    Matrix<double> b = MakeMatrix(2, 2, {1, 2, 3, 4});
    ExpectMatrixEq(a - b, MakeMatrix(2, 2, {4, 5, 6, 7}));
    ExpectMatrixEq(b - a, MakeMatrix(2, 2, {-4, -5, -6, -7}));
}

TEST(MatrixTest, DifferenceOfMismatchedShapesNamesBothShapes) {
    Matrix<double> a(2, 2);
    Matrix<double> b(2, 3);
    EXPECT_EQ(ThrownMessage([&] { (void)(a - b); }), "Invalid matrix dimensions: (2, 2) != (2, 3)");
    // Same number of elements but another shape is still a mismatch.
    Matrix<double> c(3, 2);
    EXPECT_EQ(ThrownMessage([&] { (void)(b - c); }), "Invalid matrix dimensions: (2, 3) != (3, 2)");
}

TEST(MatrixTest, ScalarProductScalesEveryElement) {
    Matrix<double> a = MakeMatrix(2, 2, {1, -2, 3.5, 0});
    ExpectMatrixEq(2.0 * a, MakeMatrix(2, 2, {2, -4, 7, 0}));
    ExpectMatrixEq(-0.5 * a, MakeMatrix(2, 2, {-0.5, 1, -1.75, 0}));
    ExpectMatrixEq(a, MakeMatrix(2, 2, {1, -2, 3.5, 0}));
}

TEST(MatrixTest, DotProductOfColumnsAndOfRows) {
    Matrix<double> a = MakeMatrix(3, 1, {1, 2, 3});
    Matrix<double> b = MakeMatrix(3, 1, {4, 5, 6});
    EXPECT_EQ(a.DotProduct(b), 32.0);
    EXPECT_EQ(a.Transposed().DotProduct(b.Transposed()), 32.0);
    Matrix<double> single = MakeMatrix(1, 1, {-3});
    EXPECT_EQ(single.DotProduct(MakeMatrix(1, 1, {4})), -12.0);
}

TEST(MatrixTest, DotProductOfDifferentShapesThrows) {
    Matrix<double> column = MakeMatrix(3, 1, {1, 2, 3});
    Matrix<double> row = MakeMatrix(1, 3, {4, 5, 6});
    EXPECT_EQ(ThrownMessage([&] { (void)column.DotProduct(row); }),
              "Dotproduct only possible for two equal n x 1 matrices");
    EXPECT_EQ(ThrownMessage([&] { (void)column.DotProduct(Matrix<double>(4, 1)); }),
              "Dotproduct only possible for two equal n x 1 matrices");
}

TEST(MatrixTest, InverseOfSmallKnownMatrices) {
    ExpectMatrixNear(MakeMatrix(1, 1, {4}).Inverse(), MakeMatrix(1, 1, {0.25}), 1e-15);
    ExpectMatrixNear(MakeMatrix(1, 1, {-0.5}).Inverse(), MakeMatrix(1, 1, {-2}), 1e-15);
    ExpectMatrixEq(Identity(2).Inverse(), Identity(2));
    ExpectMatrixNear(MakeMatrix(2, 2, {4, 7, 2, 6}).Inverse(),
                     MakeMatrix(2, 2, {0.6, -0.7, -0.2, 0.4}), 1e-12);
    // Tridiagonal matrix with the closed-form inverse (3 2 1; 2 4 2; 1 2 3) / 4.
    ExpectMatrixNear(MakeMatrix(3, 3, {2, -1, 0, -1, 2, -1, 0, -1, 2}).Inverse(),
                     MakeMatrix(3, 3, {0.75, 0.5, 0.25, 0.5, 1, 0.5, 0.25, 0.5, 0.75}), 1e-12);
}

TEST(MatrixTest, InverseLeavesItsOperandUnchanged) {
    Matrix<double> a = MakeMatrix(2, 2, {4, 7, 2, 6});
    (void)a.Inverse();
    ExpectMatrixEq(a, MakeMatrix(2, 2, {4, 7, 2, 6}));
}

TEST(MatrixTest, InverseOfNonSquareMatrixThrows) {
    Matrix<double> a(2, 3);
    EXPECT_EQ(ThrownMessage([&] { (void)a.Inverse(); }), "Matrix x dimension != y dimension");
}

TEST(MatrixTest, InverseOfMatricesWithZerosOnTheDiagonal) {
    // These need row exchanges: every one has a zero where an unpivoted sweep would divide.
    ExpectMatrixEq(MakeMatrix(2, 2, {0, 1, 1, 0}).Inverse(), MakeMatrix(2, 2, {0, 1, 1, 0}));
    ExpectMatrixNear(MakeMatrix(2, 2, {0, 2, 4, 0}).Inverse(), MakeMatrix(2, 2, {0, 0.25, 0.5, 0}),
                     1e-15);
    // A cyclic permutation inverts to its transpose.
    Matrix<double> cycle = MakeMatrix(3, 3, {0, 1, 0, 0, 0, 1, 1, 0, 0});
    ExpectMatrixEq(cycle.Inverse(), cycle.Transposed());
    // (1 1 0; 1 1 1; 0 1 1): the second pivot becomes zero after the first step.
    ExpectMatrixNear(MakeMatrix(3, 3, {1, 1, 0, 1, 1, 1, 0, 1, 1}).Inverse(),
                     MakeMatrix(3, 3, {0, 1, -1, 1, -1, 1, -1, 1, 0}), 1e-12);
}

TEST(MatrixTest, InverseOfSingularMatricesGivesNonFiniteValues) {
    for (const Matrix<double>& singular :
         {MakeMatrix(2, 2, {0, 0, 0, 1}), MakeMatrix(2, 2, {1, 2, 2, 4}), Matrix<double>(3, 3)}) {
        Matrix<double> inverse(0, 0);
        ASSERT_NO_THROW(inverse = singular.Inverse());
        bool anyNonFinite = false;
        for (int r = 0; r < inverse.Rows(); ++r) {
            for (int c = 0; c < inverse.Columns(); ++c) {
                anyNonFinite = anyNonFinite || !std::isfinite(inverse(r, c));
            }
        }
        EXPECT_TRUE(anyNonFinite);
    }
}

TEST(MatrixTest, InverseMatchesColumnsSolvedOneByOne) {
    // General random matrices with zeros planted on the diagonal; the reference solves A x = e_j
    // for every unit column e_j.
    std::mt19937 generator(4711);
    std::uniform_real_distribution<double> value(-5.0, 5.0);
    for (int trial = 0; trial < 40; ++trial) {
        const int n = 2 + trial % 7;
        Matrix<double> a(n, n);
        for (int r = 0; r < n; ++r) {
            for (int c = 0; c < n; ++c) {
                a(r, c) = value(generator);
            }
        }
        for (int i = trial % 2; i < n; i += 2) {
            a(i, i) = 0.0;
        }
        Matrix<double> reference(n, n);
        for (int j = 0; j < n; ++j) {
            Matrix<double> eliminated(a);
            Matrix<double> unit(n, 1);
            unit(j, 0) = 1.0;
            eliminated.Solve(unit);
            for (int r = 0; r < n; ++r) {
                reference(r, j) = unit(r, 0);
            }
        }
        SCOPED_TRACE("trial " + std::to_string(trial) + ", size " + std::to_string(n));
        ExpectMatrixNear(a.Inverse(), reference, 1e-8);
        ExpectMatrixNear(a * a.Inverse(), Identity(n), 1e-9);
    }
}

TEST(MatrixTest, InverseTimesMatrixIsIdentityForRandomMatrices) {
    std::mt19937 generator(20240611);
    for (int trial = 0; trial < 50; ++trial) {
        const int n = 1 + trial % 8;
        Matrix<double> a = DiagonallyDominant(n, generator);
        Matrix<double> inverse = a.Inverse();
        SCOPED_TRACE("trial " + std::to_string(trial) + ", size " + std::to_string(n));
        ExpectMatrixNear(inverse * a, Identity(n), 1e-9);
        ExpectMatrixNear(a * inverse, Identity(n), 1e-9);
    }
}

TEST(MatrixTest, SolvePivotsOnTheLargestElement) {
    Matrix<double> a = MakeMatrix(2, 2, {2, 1, 4, 3});
    Matrix<double> b = MakeMatrix(2, 1, {3, 7});
    a.Solve(b);
    ExpectMatrixEq(b, MakeMatrix(2, 1, {1, 1}));
    // Row 1 became the first pivot row, then row 0 - 0.5 * row 1 was eliminated.
    ExpectMatrixEq(a, MakeMatrix(2, 2, {4, 3, 0, -0.5}));
}

TEST(MatrixTest, SolveKeepsTheFirstRowOnPivotTies) {
    Matrix<double> a = MakeMatrix(2, 2, {1, 1, -1, 1});
    Matrix<double> b = MakeMatrix(2, 1, {3, 1});
    a.Solve(b);
    ExpectMatrixEq(b, MakeMatrix(2, 1, {1, 2}));
    ExpectMatrixEq(a, MakeMatrix(2, 2, {1, 1, 0, 2}));
}

TEST(MatrixTest, SolveHandlesAZeroLeadingElement) {
    // The matrix that Inverse cannot handle without pivoting.
    Matrix<double> a = MakeMatrix(2, 2, {0, 1, 1, 0});
    Matrix<double> b = MakeMatrix(2, 1, {5, 8});
    a.Solve(b);
    ExpectMatrixEq(b, MakeMatrix(2, 1, {8, 5}));
}

TEST(MatrixTest, SolveRecoversXFromAProductForRandomMatrices) {
    std::mt19937 generator(77);
    std::uniform_real_distribution<double> value(-10.0, 10.0);
    for (int trial = 0; trial < 40; ++trial) {
        const int n = 1 + trial % 8;
        Matrix<double> a(n, n);
        Matrix<double> x(n, 1);
        for (int r = 0; r < n; ++r) {
            x(r, 0) = value(generator);
            for (int c = 0; c < n; ++c) {
                a(r, c) = value(generator);
            }
        }
        Matrix<double> b = a * x;
        Matrix<double> eliminated(a);
        eliminated.Solve(b);
        SCOPED_TRACE("trial " + std::to_string(trial) + ", size " + std::to_string(n));
        ExpectMatrixNear(b, x, 1e-8);
        // The eliminated form is upper triangular up to rounding.
        for (int r = 1; r < n; ++r) {
            for (int c = 0; c < r; ++c) {
                EXPECT_NEAR(eliminated(r, c), 0.0, 1e-9);
            }
        }
    }
}

TEST(MatrixTest, SolveRejectsMismatchedShapesAndChangesNothing) {
    const std::string message = "Matrix not quadratic or vector dimension mismatch";
    Matrix<double> notSquare = MakeMatrix(2, 3, {1, 2, 3, 4, 5, 6});
    Matrix<double> b2 = MakeMatrix(2, 1, {1, 2});
    EXPECT_EQ(ThrownMessage([&] { notSquare.Solve(b2); }), message);
    ExpectMatrixEq(notSquare, MakeMatrix(2, 3, {1, 2, 3, 4, 5, 6}));

    Matrix<double> square = MakeMatrix(2, 2, {2, 1, 4, 3});
    Matrix<double> b3 = MakeMatrix(3, 1, {1, 2, 3});
    EXPECT_EQ(ThrownMessage([&] { square.Solve(b3); }), message);
    ExpectMatrixEq(square, MakeMatrix(2, 2, {2, 1, 4, 3}));
    ExpectMatrixEq(b3, MakeMatrix(3, 1, {1, 2, 3}));

    Matrix<double> wide = MakeMatrix(2, 2, {1, 2, 3, 4});
    EXPECT_EQ(ThrownMessage([&] { square.Solve(wide); }), message);
    ExpectMatrixEq(square, MakeMatrix(2, 2, {2, 1, 4, 3}));
}

}  // namespace
