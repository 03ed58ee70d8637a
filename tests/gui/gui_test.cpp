// The window without a display: the real MainWindow on the shipped
// configuration, a display ring and a classified queue filled by the test.
#include "gui/curve_data.h"
#include "gui/display_config.h"
#include "gui/list.h"
#include "gui/main_window.h"
#include "gui/plot.h"
#include "segmentation/segmentator.h"
#include "tests/support/testconfig.h"

#include <qwt_plot_curve.h>

#include <QApplication>

#include <gtest/gtest.h>

#include <cmath>

using namespace classification;

namespace {

// One application for the whole run, gone before static destruction starts.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    application = new QApplication(argc, argv);
  }
  void TearDown() override { delete application; }

 private:
  int argc = 1;
  char name[9] = "gui_test";
  char* argv[2] = {name, nullptr};
  QApplication* application = nullptr;
};
::testing::Environment* const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

void app() {}

const ConfigSet& shipped() {
  static ConfigSet set(SC_SOURCE_DIR "/config");
  return set;
}

struct DisplayRing {
  DisplayRing() : storage(65536) { InitializeRingBuffer(&rb, 8, 65536, storage.data()); }
  // Blocks of 512 samples as the callback reduces them (M = 16: 64 values).
  void blocks(int n, float amplitude = 0.3f) {
    std::vector<float> block(512);
    for (int b = 0; b < n; ++b, ++count) {
      for (int i = 0; i < 512; ++i)
        block[i] = amplitude * std::sin(0.05f * (count * 512 + i)) * ((count % 40) < 3 ? 1.0f : 0.1f);
      WriteRingBuffer_gui(&rb, block.data(), 64, 16);
    }
  }
  RingBuffer rb;
  std::vector<double> storage;
  int count = 0;
};

MEvent* event(int startBlock, int label) {
  std::vector<float> samples(20 * 512, 0.0f);
  auto* e = new MEvent(20, 512, startBlock, samples.data());
  e->setLabel(label);
  e->setDFVal(new float[4]());
  return e;
}

std::vector<QString> column(MList* list, int c) {
  std::vector<QString> out;
  for (int r = 0; r < list->getModel()->rowCount(); ++r) out.push_back(list->getModel()->item(r, c)->text());
  return out;
}

}  // namespace

TEST(CurveData, SettingsOfTheDefaultDisplay) {
  MCurveData d(shipped().userRoot(), shipped().systemRoot());
  EXPECT_EQ(d.getHalfSpan(), 2.5f);
  EXPECT_EQ(d.getHalfSpanValues(), 13782);
  EXPECT_EQ(d.getValuesPerBlock(), 64);
  EXPECT_EQ(d.getBlockRange(), 861);
  EXPECT_EQ(d.getBlocksShown(), 432);
  MSegmentator seg(shipped().userRoot(), shipped().systemRoot());
  EXPECT_EQ(seg.getBlockNumberRange(), d.getBlockRange());
}

TEST(CurveData, EmptyRingWrappedRegionsAndPageTurns) {
  MCurveData d(shipped().userRoot(), shipped().systemRoot());
  DisplayRing ring;
  EXPECT_FALSE(d.checkValues(&ring.rb, 2.5, -2.5));
  EXPECT_EQ(d.size(), 0u);
  // Value 0 belongs to block 1.
  EXPECT_FLOAT_EQ(d.getCoordinate(1), 0.0f);
  EXPECT_FLOAT_EQ(d.getCoordinate(11), 10 * 64 * 16 / 88200.0f);
  EXPECT_FLOAT_EQ(d.getCoordinate(0), 860 * 64 * 16 / 88200.0f);  // firstBlock - 1 wraps
  ring.blocks(215);  // 13760 values: the newest pair is just short of 2.5 s
  EXPECT_FALSE(d.checkValues(&ring.rb, 2.5, -2.5));
  EXPECT_EQ(d.size(), 13760u);
  EXPECT_DOUBLE_EQ(d.sample(2).x(), 16 / 44100.0);
  EXPECT_EQ(d.sample(3).x(), d.sample(2).x());
  ring.blocks(1);
  EXPECT_TRUE(d.checkValues(&ring.rb, 2.5, -2.5));  // first page turn: nothing dropped
  EXPECT_EQ(d.size(), 13824u);
  EXPECT_EQ(d.getXOrigin(), -2.5);
  EXPECT_FLOAT_EQ(d.getTimeShift(), 13782 * 16 / 88200.0f);
  EXPECT_EQ(d.getFirstBlock(), 1);
  ring.blocks(215);
  EXPECT_TRUE(d.checkValues(&ring.rb, 2.5, -2.5));  // second: the older half goes
  EXPECT_LT(d.sample(0).x(), -2.5 + 2 * 16 / 44100.0);
  EXPECT_GE(d.sample(0).x(), -2.5 - 1e-9);
  EXPECT_NEAR(d.getTimeShift(), 2.5, 2 * 16 / 44100.0);
  EXPECT_GT(d.getFirstBlock(), 1);
  // A block whose first values were dropped is placed where the next begins.
  const int first = d.getFirstBlock();
  if (d.getBlockOffset() != 0) {
    EXPECT_EQ(d.getCoordinate(first), d.getCoordinate(first + 1));
  }
  // The read regions wrap: the point after region 1 is region 2's first.
  DisplayRing wrap;
  MCurveData w(shipped().userRoot(), shipped().systemRoot());
  std::vector<float> filler(512 * 1000, 0.0f);
  for (int i = 0; i < 1023; ++i) WriteRingBuffer_gui(&wrap.rb, filler.data(), 64, 16);
  AdvanceRingBufferReadIndex(&wrap.rb, 1023 * 64);
  wrap.blocks(2);
  EXPECT_FALSE(w.checkValues(&wrap.rb, 2.5, -2.5));
  ASSERT_EQ(w.size(), 128u);
  EXPECT_EQ(w.sample(64).y(), wrap.storage[0]);
  EXPECT_EQ(w.sample(127).y(), wrap.storage[63]);
  EXPECT_EQ(w.sample(63).y(), wrap.storage[65535]);
}

TEST(CurveData, BlockWindowValidation) {
  MCurveData d(shipped().userRoot(), shipped().systemRoot());
  EXPECT_TRUE(d.validateBlockNum(1));
  EXPECT_TRUE(d.validateBlockNum(433));
  EXPECT_FALSE(d.validateBlockNum(434));
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app();
    window = std::make_unique<MainWindow>(&queue, &ring.rb, shipped().userRoot(), shipped().systemRoot());
    window->resize(800, 400);
    window->show();
    QApplication::processEvents();
    plot = window->getPlot();
    list = window->getList();
  }
  void TearDown() override {
    window.reset();
    MEvent* e;
    while (queue.tryPop(e)) delete e;
  }
  void tick() {
    plot->updatePlot();
    QApplication::processEvents();
  }
  float coordinateOf(int block) const { return plot->curveData()->getCoordinate(block); }

  MQueue<MEvent*> queue;
  DisplayRing ring;
  std::unique_ptr<MainWindow> window;
  MPlot* plot = nullptr;
  MList* list = nullptr;
};

TEST_F(WindowTest, EventsBecomeRowsNewestFirstAndMarkers) {
  EXPECT_TRUE(plot->legendChecked(plot->waveformCurve()));
  for (int c = 0; c < 4; ++c) EXPECT_TRUE(plot->legendChecked(plot->classCurve(c)));
  EXPECT_EQ(plot->classCurve(2)->title().text(), "cough");
  ring.blocks(50);
  tick();  // nothing queued: no rows
  EXPECT_EQ(list->getRowCount(), 0);
  EXPECT_EQ(plot->getDrawnCount(), 50 * 64);
  queue.push(event(10, 0));
  queue.push(event(30, 2));
  queue.push(event(45, 1));
  tick();
  ASSERT_EQ(list->getRowCount(), 3);
  EXPECT_EQ(column(list, 1), (std::vector<QString>{"knock", "cough", "clap"}));
  EXPECT_EQ(column(list, 0)[0], MList::formatTime(coordinateOf(45)));
  EXPECT_EQ(column(list, 0)[2], MList::formatTime(9 * 64 * 16 / 88200.0f));
  EXPECT_EQ(plot->markersOf(0).size(), 2);
  EXPECT_EQ(plot->markersOf(0)[0].x(), static_cast<int>(plot->transform(QwtPlot::xBottom, coordinateOf(10))));
  EXPECT_EQ(plot->markersOf(3).size(), 0);
  EXPECT_TRUE(queue.empty());
}

TEST_F(WindowTest, LegendHidesAndRestoresAClass) {
  ring.blocks(20);
  queue.push(event(5, 1));
  queue.push(event(12, 0));
  queue.push(event(18, 1));
  tick();
  ASSERT_EQ(list->getRowCount(), 3);
  plot->toggleFromLegend(plot->classCurve(1), false);
  EXPECT_FALSE(plot->isClassVisible(1));
  EXPECT_FALSE(plot->legendChecked(plot->classCurve(1)));
  EXPECT_EQ(column(list, 1), (std::vector<QString>{"clap"}));
  EXPECT_EQ(plot->getEvents().size(), 3u);
  plot->getOverlay()->repaint();
  EXPECT_EQ(plot->getOverlay()->getLinesDrawn()[1], 0);
  EXPECT_EQ(plot->getOverlay()->getLinesDrawn()[0], 1);
  // Checked again after a page turn: the rows return at their shifted times.
  ring.blocks(200);
  tick();
  plot->toggleFromLegend(plot->classCurve(1), true);
  ASSERT_EQ(list->getRowCount(), 3);
  EXPECT_EQ(column(list, 1), (std::vector<QString>{"knock", "clap", "knock"}));
  EXPECT_EQ(column(list, 0)[0], MList::formatTime(plot->getEvents()[2]->getCoordinate()));
  EXPECT_LT(plot->getEvents()[2]->getCoordinate(), 0.0f);
  plot->getOverlay()->repaint();
  EXPECT_EQ(plot->getOverlay()->getLinesDrawn()[1], 2);
  // The waveform entry switches the curve.
  plot->toggleFromLegend(plot->waveformCurve(), false);
  EXPECT_FALSE(plot->waveformCurve()->isVisible());
  plot->toggleFromLegend(plot->waveformCurve(), true);
  EXPECT_TRUE(plot->waveformCurve()->isVisible());
}

TEST_F(WindowTest, PageTurnsShiftTimesAndDropOldEvents) {
  ring.blocks(100);
  queue.push(event(2, 0));
  queue.push(event(60, 1));
  tick();
  const QString before = column(list, 0)[0];
  ring.blocks(120);  // past the right end: first page turn
  tick();
  const float shift = plot->curveData()->getTimeShift();
  ASSERT_EQ(list->getRowCount(), 2);
  EXPECT_EQ(column(list, 0)[0], MList::formatTime(before.toFloat() - shift));
  EXPECT_EQ(plot->getEvents().size(), 2u);
  ring.blocks(100);  // the event of block 2 reaches the left end
  tick();
  ring.blocks(120);
  tick();
  EXPECT_EQ(plot->getEvents().size(), 0u);
  EXPECT_EQ(list->getRowCount(), 0);
  EXPECT_EQ(plot->markersOf(0).size(), 0);
}

TEST_F(WindowTest, ResizeKeepsMarkersAtTheirTimes) {
  ring.blocks(100);
  queue.push(event(40, 2));
  tick();
  const int x800 = plot->markersOf(2)[0].x();
  window->resize(1200, 500);
  QApplication::processEvents();
  const int x1200 = plot->markersOf(2)[0].x();
  EXPECT_NE(x800, x1200);
  EXPECT_EQ(x1200, static_cast<int>(plot->transform(QwtPlot::xBottom, coordinateOf(40))));
  EXPECT_EQ(plot->getOverlay()->size(), plot->size());
}

TEST_F(WindowTest, ScreenshotWithThreeClasses) {
  ring.blocks(180);
  for (int i = 0; i < 9; ++i) queue.push(event(8 + 19 * i, i % 3));
  tick();
  QApplication::processEvents();
  const QString path = QString(SC_BINARY_DIR) + "/gui_window.png";
  EXPECT_TRUE(window->grab().save(path));
  RecordProperty("screenshot", path.toStdString());
}

TEST(DisplayConfig, RelationsWithTheModelAreChecked) {
  const std::vector<std::pair<const char*, std::string>> bad = {
      {"Number below NumClasses", R"(<Events Number="3"><E Name="a" ClassId="0"><Color Value="red"/></E><E Name="b" ClassId="1"><Color Value="red"/></E><E Name="c" ClassId="2"><Color Value="red"/></E></Events>)"},
      {"ClassId out of range", R"(<Events Number="4"><E Name="a" ClassId="4"><Color Value="red"/></E></Events>)"},
      {"duplicate ClassId", R"(<Events Number="4"><E Name="a" ClassId="0"><Color Value="red"/></E><E Name="a" ClassId="0"><Color Value="red"/></E></Events>)"},
      {"class without entry", R"(<Events Number="4"><E Name="a" ClassId="0"><Color Value="red"/></E><E Name="b" ClassId="1"><Color Value="red"/></E><E Name="c" ClassId="3"><Color Value="red"/></E></Events>)"},
  };
  for (const auto& [what, events] : bad) {
    sctest::TempDir dir;
    std::string user = sctest::userDocument();
    const size_t a = user.find("<Events"), b = user.find("</Events>") + 9;
    user.replace(a, b - a, events);
    ConfigDocument u(dir.file("u.xml", user));
    ConfigDocument s(dir.file("s.xml", sctest::systemDocument()));
    EXPECT_THROW(readDisplayConfig(u.root(), s.root()), ConfigError) << what;
  }
  sctest::TempDir dir;
  ConfigDocument u(dir.file("u.xml", sctest::userDocument({{"GraphicalUserInterface/M", "3"}})));
  ConfigDocument s(dir.file("s.xml", sctest::systemDocument()));
  EXPECT_THROW(readDisplayConfig(u.root(), s.root()), ConfigError);  // 3 does not divide 4
}

TEST(ListText, SixSignificantDigits) {
  EXPECT_EQ(MList::formatTime(0.5), "0.5");
  EXPECT_EQ(MList::formatTime(1.234567), "1.23457");
  EXPECT_EQ(MList::formatTime(0.00001), "1e-05");
  EXPECT_EQ(MList::formatTime(-2.25), "-2.25");
  EXPECT_EQ(MList::formatTime(static_cast<double>(1.23457f - 0.5f)), "0.73457");
}
