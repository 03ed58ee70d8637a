// The waveform as Qwt series data, read in place from the display ring, with
// the page turns and the block-number bookkeeping that places events on the
// time axis. Main thread only; the single reader of the display ring.
#pragma once

#include "app/config.h"
#include "audio/ringbuffer.h"

#include <qwt_series_data.h>

namespace classification {

class MCurveData : public QwtSeriesData<QPointF> {
 public:
  MCurveData(XmlNode* userRoot, XmlNode* systemRoot);

  size_t size() const override { return static_cast<size_t>(valueCount); }
  QPointF sample(size_t i) const override;
  QRectF boundingRect() const override { return bounds; }

  // Takes in what arrived; turns the page when the newest pair reaches xMax.
  bool checkValues(RingBuffer* ring, double xMax, double xMin);
  float getTimeShift() const;
  float getCoordinate(int blockNumber) const;
  void updateBlockNumInfo(int k);
  bool validateBlockNum(int blockNumber) const;

  int getHalfSpanValues() const { return halfSpanValues; }
  int getValuesPerBlock() const { return valuesPerBlock; }
  int getBlockRange() const { return blockRange; }
  int getBlocksShown() const { return blocksShown; }
  int getFirstBlock() const { return firstBlock; }
  int getBlockOffset() const { return blockOffset; }
  double getXOrigin() const { return xOrigin; }
  float getHalfSpan() const { return halfSpan; }

 private:
  double timeOf(int64_t i) const {
    return static_cast<double>(i - (i % 2)) * decimation * 0.5 / sampleRate + xOrigin;
  }

  QRectF bounds{1.0, 1.0, -2.0, -2.0};
  const double* region1 = nullptr;
  const double* region2 = nullptr;
  int64_t region1Size = 0;
  int64_t region2Size = 0;
  int valueCount = 0;
  int halfSpanValues = 0;
  float halfSpan = 0.0f;
  double xOrigin = 0.0;
  int decimation = 1;
  int sampleRate = 1;
  int blockRange = 1;
  int firstBlock = 1;
  int blockOffset = 0;
  int blocksShown = 0;
  int valuesPerBlock = 2;
  int lastShift = 0;
};

}  // namespace classification
