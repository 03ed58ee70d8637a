#include "features/pseudoinverse.h"

#include <algorithm>
#include <cstddef>
#include <vector>

extern "C" void sgels_(const char* trans, const int* m, const int* n, const int* nrhs, float* a,
                       const int* lda, float* b, const int* ldb, float* work, const int* lwork,
                       int* info, std::size_t transLength);

namespace classification {

float* getPseudoInv(float* A, int m, int n) {
  // The right-hand side is the identity, solved a slab of columns at a time:
  // each column's solution depends on that column alone, so the result is
  // the whole solve's, in m x slab memory instead of m x m.
  const int slab = std::min(m, 256);
  std::vector<float> a, B(static_cast<size_t>(m) * slab);
  int info = 0, lwork = -1;
  float query = 0.0f;
  sgels_("N", &m, &n, &slab, A, &m, B.data(), &m, &query, &lwork, &info, 1);
  lwork = std::max(1, static_cast<int>(query));
  std::vector<float> work(static_cast<size_t>(lwork));
  float* P = new float[static_cast<size_t>(n) * m];
  for (int first = 0; first < m; first += slab) {
    const int count = std::min(slab, m - first);
    a.assign(A, A + static_cast<size_t>(m) * n);  // sgels_ overwrites it
    B.assign(static_cast<size_t>(m) * count, 0.0f);
    for (int j = 0; j < count; ++j) B[static_cast<size_t>(j) * m + first + j] = 1.0f;
    sgels_("N", &m, &n, &count, a.data(), &m, B.data(), &m, work.data(), &lwork, &info, 1);
    if (info != 0) {
      delete[] P;
      return nullptr;
    }
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < count; ++j) P[static_cast<size_t>(i) * m + first + j] = B[i + static_cast<size_t>(j) * m];
  }
  return P;
}

}  // namespace classification
