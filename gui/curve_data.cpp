#include "gui/curve_data.h"

#include "segmentation/segmentator.h"

#include <cmath>

namespace classification {

MCurveData::MCurveData(XmlNode* userRoot, XmlNode* systemRoot) {
  sampleRate = cfg::getIntAtLeast(systemRoot, "AudioCapturing", "Fs", 1);
  decimation = cfg::getIntAtLeast(userRoot, "GraphicalUserInterface", "M", 1);
  const double dispInterval = cfg::getReal(userRoot, "GraphicalUserInterface", "DispInterval");
  const float T = static_cast<float>(dispInterval);
  const int nBlock = cfg::getIntAtLeast(systemRoot, "AudioCapturing", "NBlock", 1);
  const float fs = static_cast<float>(sampleRate), m = static_cast<float>(decimation);
  halfSpan = 0.5f * T;
  halfSpanValues = static_cast<int>(std::floor(((halfSpan * fs) * 2.0f) / m));
  if (halfSpanValues % 2) ++halfSpanValues;
  valuesPerBlock = (nBlock / decimation) * 2;
  // The same range as the segmentation's counter, computed by the same code,
  // so that event block numbers and the display can never disagree.
  blockRange = computeBlockNumberRange(dispInterval, sampleRate, nBlock);
  const float shownValues = std::floor(((T * fs) * 2.0f) / m);
  blocksShown = static_cast<int>(static_cast<double>(std::ceil(shownValues / static_cast<float>(valuesPerBlock))) + 1.0);
}

QPointF MCurveData::sample(size_t i) const {
  const int64_t k = static_cast<int64_t>(i);
  const double y = k < region1Size ? region1[k] : region2[k - region1Size];
  return QPointF(timeOf(k), y);
}

bool MCurveData::checkValues(RingBuffer* ring, double xMax, double xMin) {
  int64_t n = GetRingBufferReadAvailable(ring);
  valueCount = static_cast<int>(n);
  const double tLast = static_cast<double>(n - 2) * decimation / (2.0 * sampleRate) + xOrigin;
  bool turned = false;
  if (n >= 2 && tLast >= xMax) {
    turned = true;
    if (xOrigin == 0.0) {
      lastShift = halfSpanValues;
      xOrigin = xMin;
    } else {
      const double span = halfSpan;
      int shift = static_cast<int>(std::floor(2.0 * (span - (xOrigin - xMin)) * sampleRate / decimation + 2.0));
      if (shift % 2) --shift;
      if (shift > n) shift = static_cast<int>(n - n % 2);
      if (shift < 0) shift = 0;
      lastShift = shift;
      xOrigin = static_cast<double>(lastShift) * decimation / (2.0 * sampleRate) + xOrigin - span;
      AdvanceRingBufferReadIndex(ring, lastShift);
      n -= lastShift;
      valueCount = static_cast<int>(n);
      updateBlockNumInfo(lastShift);
    }
  }
  void *d1 = nullptr, *d2 = nullptr;
  GetRingBufferReadRegions(ring, n, &d1, &region1Size, &d2, &region2Size);
  region1 = static_cast<const double*>(d1);
  region2 = static_cast<const double*>(d2);

  if (n > 0) {
    double top = region1Size > 0 ? region1[0] : region2[0], bottom = top;
    auto scan = [&](const double* r, int64_t count) {
      for (int64_t i = 0; i < count; ++i) {
        if (r[i] > top) top = r[i];
        if (r[i] < bottom) bottom = r[i];
      }
    };
    scan(region1, region1Size);
    scan(region2, region2Size);
    const double right = timeOf(n - 2);
    bounds = QRectF(xOrigin, top, right - xOrigin, bottom - top);
  } else {
    bounds = QRectF(1.0, 1.0, -2.0, -2.0);
  }
  return turned;
}

float MCurveData::getTimeShift() const {
  return static_cast<float>(decimation) * static_cast<float>(lastShift) / static_cast<float>(2 * sampleRate);
}

void MCurveData::updateBlockNumInfo(int k) {
  const int t = blockOffset + k;
  firstBlock = (firstBlock + t / valuesPerBlock) % blockRange;
  blockOffset = t % valuesPerBlock;
}

float MCurveData::getCoordinate(int b) const {
  int d = b - firstBlock;
  if (b < firstBlock) d += blockRange;
  int v;
  if (blockOffset == 0) v = d * valuesPerBlock;
  else v = d > 0 ? d * valuesPerBlock - blockOffset : valuesPerBlock - blockOffset;
  const float t = static_cast<float>(v) * static_cast<float>(decimation) / static_cast<float>(2 * sampleRate);
  return static_cast<float>(static_cast<double>(t) + xOrigin);
}

bool MCurveData::validateBlockNum(int b) const {
  const int e = (firstBlock + blocksShown) % blockRange;
  if (e > b) return firstBlock > b ? (firstBlock > e) : (firstBlock + blocksShown >= b);
  return firstBlock <= b && firstBlock + blocksShown >= b;
}

}  // namespace classification
