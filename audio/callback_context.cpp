#include "audio/callback_context.h"

#include <cmath>

namespace classification {

int64_t displayRingSize(double dispInterval, int fs, int decimation) {
  return ringSizeFor(std::floor((dispInterval + 1) * 2 * fs / decimation));
}

}  // namespace classification
