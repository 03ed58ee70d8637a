#include "processing/event_manager.h"
#include "tests/support/testconfig.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

using namespace classification;
using namespace std::chrono_literals;

namespace {

constexpr int kNEvent = 10, kNBlock = 4, kSamples = kNEvent * kNBlock;

struct Ring {
  explicit Ring(int64_t n) : storage(static_cast<size_t>(n)) {
    InitializeRingBuffer(&rb, 4, n, storage.data());
  }
  // Writes one event whose header and samples carry its number.
  bool write(int number) {
    if (GetRingBufferWriteAvailable(&rb) < 1 + kSamples) return false;
    std::vector<float> record(1 + kSamples);
    record[0] = static_cast<float>(number);
    for (int i = 0; i < kSamples; ++i) record[1 + i] = std::sin(0.1f * (number + i)) + number * 1e-3f;
    WriteRingBuffer_fe(&rb, record.data(), static_cast<int64_t>(record.size()));
    return true;
  }
  RingBuffer rb;
  std::vector<float> storage;
};

// Records how much was left in the ring whenever an event is processed.
class RecordingManager : public MEventManager {
 public:
  using MEventManager::MEventManager;
  void processOne(MEvent* event) override {
    leftInRing.push_back(GetRingBufferReadAvailable(ring));
    std::this_thread::sleep_for(5ms);
    MEventManager::processOne(event);
  }
  RingBuffer* ring = nullptr;
  std::vector<int64_t> leftInRing;
};

std::vector<MEvent*> collect(MQueue<MEvent*>* q, size_t n) {
  std::vector<MEvent*> out;
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  MEvent* e = nullptr;
  while (out.size() < n && std::chrono::steady_clock::now() < deadline) {
    if (q->tryPop(e)) out.push_back(e);
    else std::this_thread::sleep_for(1ms);
  }
  return out;
}

}  // namespace

TEST(EventManager, EventsAnnouncedTogetherAreReadBeforeTheSecondIsProcessed) {
  sctest::TestConfig config;
  Ring ring(256);
  RecordingManager m(config.system(), &ring.rb);
  m.ring = &ring.rb;
  m.start();
  ASSERT_TRUE(ring.write(11));
  ASSERT_TRUE(ring.write(12));
  releaseNewEvent(2);
  auto events = collect(m.getClassifiedQueue(), 2);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0]->getStartNumBlock(), 11);
  EXPECT_EQ(events[1]->getStartNumBlock(), 12);
  ASSERT_EQ(m.leftInRing.size(), 2u);
  EXPECT_EQ(m.leftInRing[1], 0);
  for (MEvent* e : events) {
    EXPECT_NE(e->getFeatures(), nullptr);
    EXPECT_NE(e->getDFVal(), nullptr);
    delete e;
  }
  m.stop();
  m.join();
}

TEST(EventManager, BurstArrivesCompleteAndInOrder) {
  sctest::TestConfig config;
  Ring ring(128);  // room for three events
  MEventManager m(config.system(), &ring.rb);
  m.start();
  constexpr int kEvents = 600;
  std::thread producer([&] {
    for (int i = 0; i < kEvents;) {
      if (ring.write(i)) {
        releaseNewEvent();
        ++i;
      } else {
        std::this_thread::yield();
      }
    }
  });
  auto events = collect(m.getClassifiedQueue(), kEvents);
  producer.join();
  ASSERT_EQ(events.size(), static_cast<size_t>(kEvents));
  for (int i = 0; i < kEvents; ++i) {
    EXPECT_EQ(events[i]->getStartNumBlock(), i);
    EXPECT_EQ(events[i]->getAudioData()[kSamples - 1], std::sin(0.1f * (i + kSamples - 1)) + i * 1e-3f);
    delete events[i];
  }
  m.stop();
  m.join();
}

TEST(EventManager, StopWakesAWaitingWorkerAndIdleCostsNothing) {
  sctest::TestConfig config;
  Ring ring(128);
  for (int round = 0; round < 5; ++round) {
    MEventManager m(config.system(), &ring.rb);
    m.start();
    timespec a{}, b{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
    std::this_thread::sleep_for(round == 0 ? 300ms : 20ms);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
    if (round == 0) {
      const double cpu = (b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) * 1e-9;
      EXPECT_LT(cpu, 0.1) << "the idle worker should block, not spin";
    }
    m.stop();
    EXPECT_TRUE(m.join(1000));
    EXPECT_EQ(GetRingBufferReadAvailable(&ring.rb), 0);
  }
  // No permit is left behind for the next reader.
  EXPECT_EQ(newEvent.available(), 0);
}

TEST(EventManager, EventsStillQueuedAreFreedWithTheManager) {
  sctest::TestConfig config;
  Ring ring(256);
  {
    MEventManager m(config.system(), &ring.rb);
    m.start();
    ring.write(1);
    ring.write(2);
    releaseNewEvent(2);
    while (m.getClassifiedQueue()->empty()) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);
    m.stop();
    m.join();
  }  // LeakSanitizer would report the two events otherwise
  EXPECT_EQ(newEvent.available(), 0);
}

TEST(EventManager, ModelLargerThanTheFeatureVectorIsRejected) {
  const std::string model =
      "<NumClasses Value=\"1\"/><UseClassifier Type=\"MLinSVM\"/><Normalization><mu>0 0 0 0 0</mu>"
      "<invStd>1 1 1 1 1</invStd></Normalization><DiscriminantFunction><C ClassId=\"0\"><b Value=\"0\"/>"
      "<w Elements=\"5\">1 1 1 1 1</w></C></DiscriminantFunction>";
  sctest::TestConfig config({}, "", model);
  Ring ring(128);
  try {
    MEventManager m(config.system(), &ring.rb);
    FAIL();
  } catch (const ConfigError& e) {
    EXPECT_NE(std::string(e.what()).find("uses 5 features but the feature extractor produces 4"),
              std::string::npos)
        << e.what();
    EXPECT_EQ(e.element(), "Classifier/DiscriminantFunction/C/w");
  }
}
