// The live waveform (a min/max envelope drawn incrementally), a checkable
// legend with the waveform and one entry per class, and the event markers.
// Every 50 ms it takes what the display ring and the classified queue hold.
#pragma once

#include "app/config.h"
#include "audio/ringbuffer.h"
#include "gui/curve_data.h"
#include "gui/list.h"
#include "gui/overlay.h"
#include "segmentation/event.h"

#include <qwt_interval.h>
#include <qwt_plot.h>

#include <QPoint>
#include <QVector>

#include <vector>

class QwtPlotCurve;
class QwtPlotDirectPainter;
class QwtPlotItem;

namespace classification {

class MPlot : public QwtPlot {
  Q_OBJECT

 public:
  MPlot(MQueue<MEvent*>* queue, RingBuffer* ringBuffer, XmlNode* userRoot, XmlNode* systemRoot,
        QWidget* parent = nullptr);
  ~MPlot() override;

  void start();
  void setListPtr(MList* list);
  void replot() override;
  void setIntervalLength(double length);
  std::vector<MEvent*> getEvents() const { return events; }
  void initGradient();

  // One update tick (public so that tests can tick without a timer).
  void updatePlot();
  void updateEvents();
  void shiftMarker(float s);

  MCurveData* curveData() const;
  QwtPlotCurve* waveformCurve() const { return waveCurve; }
  QwtPlotCurve* classCurve(int classId) const { return classCurves[static_cast<size_t>(classId)]; }
  MOverlay* getOverlay() const { return overlay; }
  const QVector<QPoint>& markersOf(int classId) const { return classMarkers[classId]; }
  bool isClassVisible(int classId) const { return classVisible[static_cast<size_t>(classId)]; }
  int getDrawnCount() const { return drawnCount; }
  // The legend entry's checked state, as the user sees it.
  bool legendChecked(QwtPlotItem* item) const;
  // What a click on a legend entry does.
  void toggleFromLegend(QwtPlotItem* item, bool on);

 protected:
  void timerEvent(QTimerEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private slots:
  void showCurve(QwtPlotItem* item, bool on);
  void legendItemChecked(const QVariant& itemInfo, bool on, int index);

 private:
  void appendMarker(const MEvent* event);
  void clearMarkers();

  MQueue<MEvent*>* queue;
  RingBuffer* ringBuffer;
  QwtPlotCurve* waveCurve = nullptr;
  int drawnCount = 0;
  QwtPlotDirectPainter* incrementalPainter = nullptr;
  QwtInterval xRange;
  int updateTimerId = -1;
  int numClasses = 0;
  std::vector<MEvent*> events;
  QVector<QPoint>* classMarkers = nullptr;
  MOverlay* overlay = nullptr;
  bool waveVisible = true;
  std::vector<bool> classVisible;
  std::vector<QwtPlotCurve*> classCurves;
  MList* eventList = nullptr;
};

}  // namespace classification
