#include "velkar/math/Matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <initializer_list>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
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
    ExpectMatrixEq(m, MakeMatrix(2, 3, {0, 0, 0, 0, 0, 0}));
    Matrix<double> empty(0, 0);
    EXPECT_EQ(empty.Rows(), 0);
    EXPECT_EQ(empty.Columns(), 0);
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

TEST(MatrixTest, CopiesAreIndependentAndAMovedFromMatrixIsEmpty) {
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

    Matrix<double> target(std::move(original));
    ExpectMatrixEq(target, MakeMatrix(2, 2, {1, 2, 3, 4}));
    EXPECT_EQ(original.Rows(), 0);     // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(original.Columns(), 0);  // NOLINT(bugprone-use-after-move)
}

TEST(MatrixTest, FillTransposeAndSwapRows) {
    Matrix<double> filled(3, 2);
    filled.Fill(2.5);
    ExpectMatrixEq(filled, MakeMatrix(3, 2, {2.5, 2.5, 2.5, 2.5, 2.5, 2.5}));

    Matrix<double> m = MakeMatrix(2, 3, {1, 2, 3, 4, 5, 6});
    ExpectMatrixEq(m.Transposed(), MakeMatrix(3, 2, {1, 4, 2, 5, 3, 6}));
    ExpectMatrixEq(m.Transposed().Transposed(), m);

    Matrix<double> rows = MakeMatrix(3, 2, {1, 2, 3, 4, 5, 6});
    rows.SwapRows(0, 2);
    ExpectMatrixEq(rows, MakeMatrix(3, 2, {5, 6, 3, 4, 1, 2}));
    rows.SwapRows(1, 1);
    ExpectMatrixEq(rows, MakeMatrix(3, 2, {5, 6, 3, 4, 1, 2}));
}

TEST(MatrixTest, ArithmeticOfHandComputedMatrices) {
    Matrix<double> a = MakeMatrix(2, 3, {1, 2, 3, 4, 5, 6});
    Matrix<double> b = MakeMatrix(3, 2, {7, 8, 9, 10, 11, 12});
    ExpectMatrixEq(a * b, MakeMatrix(2, 2, {58, 64, 139, 154}));
    ExpectMatrixEq(b * a, MakeMatrix(3, 3, {39, 54, 69, 49, 68, 87, 59, 82, 105}));
    ExpectMatrixEq(Matrix<double>(2, 0) * Matrix<double>(0, 3), Matrix<double>(2, 3));

    Matrix<double> c = MakeMatrix(2, 2, {5, 7, 9, 11});
    Matrix<double> d = MakeMatrix(2, 2, {1, -2, 3.5, 0});
    ExpectMatrixEq(c - d, MakeMatrix(2, 2, {4, 9, 5.5, 11}));
    ExpectMatrixEq(d - c, MakeMatrix(2, 2, {-4, -9, -5.5, -11}));
    ExpectMatrixEq(2.0 * d, MakeMatrix(2, 2, {2, -4, 7, 0}));
    ExpectMatrixEq(-0.5 * d, MakeMatrix(2, 2, {-0.5, 1, -1.75, 0}));
    // Operands are left as they were.
    ExpectMatrixEq(a, MakeMatrix(2, 3, {1, 2, 3, 4, 5, 6}));
    ExpectMatrixEq(d, MakeMatrix(2, 2, {1, -2, 3.5, 0}));

    Matrix<double> column = MakeMatrix(3, 1, {1, 2, 3});
    Matrix<double> other = MakeMatrix(3, 1, {4, 5, 6});
    EXPECT_EQ(column.DotProduct(other), 32.0);
    EXPECT_EQ(column.Transposed().DotProduct(other.Transposed()), 32.0);
    EXPECT_EQ(MakeMatrix(1, 1, {-3}).DotProduct(MakeMatrix(1, 1, {4})), -12.0);
}

TEST(MatrixTest, MismatchedShapesAreNamed) {
    const Matrix<double> column = MakeMatrix(3, 1, {1, 2, 3});
    const std::string dot = "Dotproduct only possible for two equal n x 1 matrices";
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[] { (void)(Matrix<double>(1, 3) * Matrix<double>(1, 4)); },
         "Invalid matrix dimensions: (1, 3) != (1, 4)"},
        {[] { (void)(Matrix<double>(12, 10) * Matrix<double>(11, 2)); },
         "Invalid matrix dimensions: (12, 10) != (11, 2)"},
        {[] { (void)(Matrix<double>(2, 2) - Matrix<double>(2, 3)); },
         "Invalid matrix dimensions: (2, 2) != (2, 3)"},
        // Same number of elements but another shape is still a mismatch.
        {[] { (void)(Matrix<double>(2, 3) - Matrix<double>(3, 2)); },
         "Invalid matrix dimensions: (2, 3) != (3, 2)"},
        {[&] { (void)column.DotProduct(column.Transposed()); }, dot},
        {[&] { (void)column.DotProduct(Matrix<double>(4, 1)); }, dot},
        {[] { (void)Matrix<double>(2, 3).Inverse(); }, "Matrix x dimension != y dimension"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(ThrownMessage(cases[i].first), cases[i].second) << "case " << i;
    }
}

TEST(MatrixTest, InverseOfSmallKnownMatrices) {
    const Matrix<double> cycle = MakeMatrix(3, 3, {0, 1, 0, 0, 0, 1, 1, 0, 0});
    const std::vector<std::pair<Matrix<double>, Matrix<double>>> cases = {
        {MakeMatrix(1, 1, {4}), MakeMatrix(1, 1, {0.25})},
        {MakeMatrix(1, 1, {-0.5}), MakeMatrix(1, 1, {-2})},
        {Identity(2), Identity(2)},
        {MakeMatrix(2, 2, {4, 7, 2, 6}), MakeMatrix(2, 2, {0.6, -0.7, -0.2, 0.4})},
        // Tridiagonal matrix with the closed-form inverse (3 2 1; 2 4 2; 1 2 3) / 4.
        {MakeMatrix(3, 3, {2, -1, 0, -1, 2, -1, 0, -1, 2}),
         MakeMatrix(3, 3, {0.75, 0.5, 0.25, 0.5, 1, 0.5, 0.25, 0.5, 0.75})},
        // These need row exchanges: every one has a zero where an unpivoted sweep would divide.
        {MakeMatrix(2, 2, {0, 1, 1, 0}), MakeMatrix(2, 2, {0, 1, 1, 0})},
        {MakeMatrix(2, 2, {0, 2, 4, 0}), MakeMatrix(2, 2, {0, 0.25, 0.5, 0})},
        // A cyclic permutation inverts to its transpose.
        {cycle, cycle.Transposed()},
        // (1 1 0; 1 1 1; 0 1 1): the second pivot becomes zero after the first step.
        {MakeMatrix(3, 3, {1, 1, 0, 1, 1, 1, 0, 1, 1}),
         MakeMatrix(3, 3, {0, 1, -1, 1, -1, 1, -1, 1, 0})},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        const Matrix<double> operand = cases[i].first;
        ExpectMatrixNear(operand.Inverse(), cases[i].second, 1e-12);
        ExpectMatrixEq(operand, cases[i].first);
    }
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

TEST(MatrixTest, SolvePivotsOnTheLargestElementKeepingTheFirstRowOnTies) {
    struct Case {
        Matrix<double> a;
        Matrix<double> b;
        Matrix<double> x;
        Matrix<double> eliminated;
    };
    const std::vector<Case> cases = {
        // Row 1 becomes the first pivot row, then row 0 - 0.5 * row 1 is eliminated.
        {MakeMatrix(2, 2, {2, 1, 4, 3}), MakeMatrix(2, 1, {3, 7}), MakeMatrix(2, 1, {1, 1}),
         MakeMatrix(2, 2, {4, 3, 0, -0.5})},
        {MakeMatrix(2, 2, {1, 1, -1, 1}), MakeMatrix(2, 1, {3, 1}), MakeMatrix(2, 1, {1, 2}),
         MakeMatrix(2, 2, {1, 1, 0, 2})},
        // The matrix that Inverse cannot handle without pivoting.
        {MakeMatrix(2, 2, {0, 1, 1, 0}), MakeMatrix(2, 1, {5, 8}), MakeMatrix(2, 1, {8, 5}),
         MakeMatrix(2, 2, {1, 0, 0, 1})},
    };
    for (Case c : cases) {
        c.a.Solve(c.b);
        ExpectMatrixEq(c.b, c.x);
        ExpectMatrixEq(c.a, c.eliminated);
    }
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
