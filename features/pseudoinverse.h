#pragma once

namespace classification {

// Least-squares pseudo-inverse of the m x n column-major matrix A (left as it
// is) through LAPACK sgels_. Returns n x m floats in row-major order (new[],
// owned by the caller), or null when A has not full rank.
float* getPseudoInv(float* A, int m, int n);

}  // namespace classification
