#include "segmentation/event.h"

#include <algorithm>
#include <iostream>

namespace classification {

QSemaphore newEvent(0);

namespace {
std::ostream* diagnostics = &std::cout;
}  // namespace

std::ostream& diagnosticStream() { return *diagnostics; }
void setDiagnosticStream(std::ostream* stream) { diagnostics = stream; }

MEvent::MEvent(int nEvent_, int nBlock_, RingBuffer* ring) : nEvent(nEvent_), nBlock(nBlock_) {
  float header = 0.0f;
  ReadRingBuffer(ring, &header, 1);
  startNumBlock = static_cast<int>(header);
  audioData = new float[static_cast<size_t>(nEvent) * nBlock];
  ReadRingBuffer(ring, audioData, static_cast<int64_t>(nEvent) * nBlock);
#ifdef SC_DIAGNOSTICS
  diagnosticStream() << startNumBlock << std::endl;
#endif
}

MEvent::MEvent(int nEvent_, int nBlock_, int startNumBlock_, const float* samples)
    : nEvent(nEvent_), nBlock(nBlock_), startNumBlock(startNumBlock_) {
  const size_t n = static_cast<size_t>(nEvent) * nBlock;
  audioData = new float[n];
  std::copy(samples, samples + n, audioData);
}

MEvent::~MEvent() {
  delete[] audioData;
  delete[] features;
  delete[] dfVal;
}

}  // namespace classification
