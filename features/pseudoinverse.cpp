#include "features/pseudoinverse.h"

#include <cstddef>
#include <vector>

extern "C" void sgels_(const char* trans, const int* m, const int* n, const int* nrhs, float* a,
                       const int* lda, float* b, const int* ldb, float* work, const int* lwork,
                       int* info, std::size_t transLength);

namespace classification {

float* getPseudoInv(float* A, int m, int n) {
  std::vector<float> B(static_cast<size_t>(m) * m, 0.0f);
  for (int i = 0; i < m; ++i) B[static_cast<size_t>(i) * m + i] = 1.0f;
  int info = 0, lwork = -1;
  float query = 0.0f;
  sgels_("N", &m, &n, &m, A, &m, B.data(), &m, &query, &lwork, &info, 1);
  lwork = static_cast<int>(query);
  if (lwork < 1) lwork = 1;
  std::vector<float> work(static_cast<size_t>(lwork));
  sgels_("N", &m, &n, &m, A, &m, B.data(), &m, work.data(), &lwork, &info, 1);
  if (info != 0) return nullptr;
  float* P = new float[static_cast<size_t>(n) * m];
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < m; ++j) P[static_cast<size_t>(i) * m + j] = B[i + static_cast<size_t>(j) * m];
  return P;
}

}  // namespace classification
