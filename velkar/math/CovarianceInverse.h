#pragma once

// The inverse of a covariance matrix s (n x n, symmetric, positive semi-definite), or a
// generalised inverse when s is singular. Features of zero variance are set aside. The others
// are scaled to unit variance (the correlation matrix r), and a Cholesky factorisation that
// always continues with the feature of the largest remaining variance finds the rank of r: it
// stops when every remaining feature is, up to a relative variance of 1e-9, a linear combination
// of the chosen ones. At full rank the result is s.Inverse(). Otherwise r ~ g g^T with g of full
// column rank, whose pseudo-inverse is g (g^T g)^-2 g^T; scaled back it is a generalised inverse
// of s (s G s = s), 0 in the rows and columns of the features without variance, and for
// differences that lie where the data vary it gives the same quadratic forms as any other.

#include "velkar/math/Matrix.h"

namespace velkar::math {

Matrix<double> InverseOrPseudoInverse(const Matrix<double>& covariance);

}  // namespace velkar::math
