#include "gui/plot.h"

#include "gui/display_config.h"

#include <qwt_legend.h>
#include <qwt_legend_label.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_directpainter.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_layout.h>
#include <qwt_scale_map.h>
#include <qwt_series_data.h>

#include <QLinearGradient>
#include <QResizeEvent>
#include <QTimerEvent>

namespace classification {

MPlot::MPlot(MQueue<MEvent*>* queue_, RingBuffer* ring, XmlNode* userRoot, XmlNode* systemRoot,
             QWidget* parent)
    : QwtPlot(parent), queue(queue_), ringBuffer(ring) {
  const DisplayConfig display = readDisplayConfig(userRoot, systemRoot);
  setFont(QFont("Times", 12, 75));
  incrementalPainter = new QwtPlotDirectPainter();

  setAutoReplot(false);
  const double dispInterval = cfg::getReal(userRoot, "GraphicalUserInterface", "DispInterval");
  xRange = QwtInterval(-dispInterval * 0.5, dispInterval * 0.5);
  numClasses = display.numClasses;

  auto* plotCanvas = new QwtPlotCanvas();
  setCanvas(plotCanvas);
  plotCanvas->setPaintAttribute(QwtPlotCanvas::BackingStore, true);
  initGradient();
  plotLayout()->setAlignCanvasToScales(true);
  QwtText xTitle("Time [s]"), yTitle("Amplitude");
  xTitle.setFont(QFont("Times", 10));
  yTitle.setFont(QFont("Times", 10));
  setAxisTitle(QwtPlot::xBottom, xTitle);
  setAxisScale(QwtPlot::xBottom, xRange.minValue(), xRange.maxValue());
  setAxisTitle(QwtPlot::yLeft, yTitle);
  setAxisScale(QwtPlot::yLeft, -1.0, 1.0);

  auto* grid = new QwtPlotGrid();
  grid->setPen(Qt::gray, 0.0, Qt::DotLine);
  grid->enableX(true);
  grid->enableXMin(true);
  grid->enableY(true);
  grid->enableYMin(false);
  grid->attach(this);

  auto* legend = new QwtLegend();
  legend->setDefaultItemMode(QwtLegendData::Checkable);
  legend->setFont(QFont("Times", 12, 75));
  insertLegend(legend, QwtPlot::RightLegend);

  XmlNode* gui = cfg::element(userRoot, "GraphicalUserInterface");
  XmlNode* audio = cfg::element(gui, "Audio");
  QColor waveColor;
  waveColor.setNamedColor(QString::fromUtf8(cfg::attribute(cfg::element(audio, "Color"))));
  waveCurve = new QwtPlotCurve(QString::fromUtf8(cfg::attribute(audio, "Name")));
  waveCurve->setStyle(QwtPlotCurve::Lines);
  waveCurve->setPen(waveColor, 0.0, Qt::SolidLine);
  waveCurve->setRenderHint(QwtPlotItem::RenderAntialiased, true);
  waveCurve->setPaintAttribute(QwtPlotCurve::ClipPolygons, false);
  waveCurve->setData(new MCurveData(userRoot, systemRoot));
  waveCurve->attach(this);

  overlay = new MOverlay(canvas(), this, systemRoot, userRoot);
  classMarkers = new QVector<QPoint>[static_cast<size_t>(numClasses > 0 ? numClasses : 0)];

  for (int i = 0; i < display.number; ++i) classCurves.push_back(new QwtPlotCurve(QString()));
  classVisible.assign(static_cast<size_t>(numClasses), true);
  for (const ClassEntry& entry : display.entries) {
    QwtPlotCurve* curve = classCurves[static_cast<size_t>(entry.classId)];
    curve->setTitle(entry.name);
    curve->setPen(entry.color, 0.0, Qt::SolidLine);
    curve->attach(this);
    showCurve(curve, true);
  }
  waveVisible = true;
  showCurve(waveCurve, true);
  connect(legend, SIGNAL(checked(const QVariant&, bool, int)), this,
          SLOT(legendItemChecked(const QVariant&, bool, int)));
}

MPlot::~MPlot() {
  delete incrementalPainter;
  for (QwtPlotCurve* c : classCurves) delete c;  // detaches
  for (MEvent* e : events) delete e;
  delete[] classMarkers;
}

MCurveData* MPlot::curveData() const { return static_cast<MCurveData*>(waveCurve->data()); }

void MPlot::initGradient() {
  QPalette palette = canvas()->palette();
  QLinearGradient gradient(0.0, 0.0, 1.0, 0.0);
  gradient.setCoordinateMode(QGradient::StretchToDeviceMode);
  gradient.setColorAt(0.0, QColor(28, 28, 28, 255));
  gradient.setColorAt(1.0, QColor(99, 99, 99, 255));
  palette.setBrush(QPalette::Window, QBrush(gradient));
  canvas()->setPalette(palette);
}

void MPlot::start() { updateTimerId = startTimer(50); }

void MPlot::setListPtr(MList* list) {
  eventList = list;
  std::vector<MEvent*> copy = events;
  eventList->updateVisibilityEvents(classVisible, copy);
}

void MPlot::replot() {
  QwtPlot::replot();
  drawnCount = static_cast<int>(curveData()->size());
}

void MPlot::showEvent(QShowEvent* event) {
  QwtPlot::showEvent(event);
  replot();
}

void MPlot::setIntervalLength(double length) {
  if (length > 0.0 && length != xRange.width()) {
    xRange.setMaxValue(xRange.minValue() + length);
    setAxisScale(QwtPlot::xBottom, xRange.minValue(), xRange.maxValue());
    replot();
  }
}

void MPlot::timerEvent(QTimerEvent* event) {
  if (event->timerId() == updateTimerId) updatePlot();
  else QwtPlot::timerEvent(event);
}

void MPlot::updatePlot() {
  MCurveData* data = curveData();
  if (data->checkValues(ringBuffer, xRange.maxValue(), xRange.minValue())) {
    const float s = data->getTimeShift();
    shiftMarker(s);
    if (eventList) eventList->timeShift(s);
    replot();
  } else {
    const int n = static_cast<int>(data->size());
    if (n > drawnCount && waveVisible) {
      const int from = drawnCount > 0 ? drawnCount - 1 : 0;
      if (!canvas()->testAttribute(Qt::WA_PaintOnScreen)) {
        const QRectF br = qwtBoundingRect(*data, from, n - 1);
        const QwtScaleMap xMap = canvasMap(waveCurve->xAxis());
        const QwtScaleMap yMap = canvasMap(waveCurve->yAxis());
        // Whole pixels around the new stroke, with room for antialiasing.
        const QRect clip = QwtScaleMap::transform(xMap, yMap, br).normalized().toAlignedRect().adjusted(-1, -1, 1, 1);
        incrementalPainter->setClipRegion(clip);
      }
      incrementalPainter->drawSeries(waveCurve, from, n - 1);
      drawnCount = n;
    }
  }
  updateEvents();
}

void MPlot::appendMarker(const MEvent* event) {
  const int label = event->getLabel();
  if (label < 0 || label >= numClasses) return;
  const int x = static_cast<int>(transform(QwtPlot::xBottom, static_cast<double>(event->getCoordinate())));
  const int yTop = static_cast<int>(transform(QwtPlot::yLeft, 0.97));
  const int yBottom = static_cast<int>(transform(QwtPlot::yLeft, -1.0));
  classMarkers[label].append(QPoint(x, yTop));
  classMarkers[label].append(QPoint(x, yBottom));
}

void MPlot::clearMarkers() {
  for (int i = 0; i < numClasses; ++i) classMarkers[i].clear();
}

void MPlot::updateEvents() {
  if (queue->empty()) return;
  MEvent* event = nullptr;
  while (queue->tryPop(event)) {
    event->setCoordinate(curveData()->getCoordinate(event->getStartNumBlock()));
    appendMarker(event);
    events.push_back(event);
    const int label = event->getLabel();
    if (eventList && label >= 0 && label < numClasses && classVisible[static_cast<size_t>(label)])
      eventList->insertEvent(event);
  }
  overlay->setMarker(classMarkers);
  overlay->update();
}

void MPlot::shiftMarker(float s) {
  clearMarkers();
  std::vector<MEvent*> stay;
  std::vector<MEvent*> dropped;
  for (MEvent* e : events) {
    e->setCoordinate(e->getCoordinate() - s);
    if (static_cast<double>(e->getCoordinate()) > xRange.minValue()) {
      appendMarker(e);
      stay.push_back(e);
    } else {
      dropped.push_back(e);
    }
  }
  for (MEvent* e : dropped) delete e;
  events = std::move(stay);
  overlay->setMarker(classMarkers);
  overlay->update();
}

void MPlot::resizeEvent(QResizeEvent* event) {
  incrementalPainter->reset();
  QwtPlot::resizeEvent(event);
  // The axis maps follow the new size only after the layout has run.
  updateLayout();
  clearMarkers();
  for (MEvent* e : events) appendMarker(e);
  overlay->resize(event->size());
  overlay->setMarker(classMarkers);
  overlay->update();
}

void MPlot::showCurve(QwtPlotItem* item, bool on) {
  if (item == waveCurve) {
    waveVisible = on;
    drawnCount = 0;
    waveCurve->setVisible(on);
    replot();
  } else {
    for (int i = 0; i < numClasses; ++i) {
      if (classCurves[static_cast<size_t>(i)] == item) {
        classVisible[static_cast<size_t>(i)] = on;
        break;
      }
    }
    overlay->setVisibilityMarker(classVisible);
    if (eventList) {
      std::vector<MEvent*> copy = events;
      eventList->updateVisibilityEvents(classVisible, copy);
    }
  }
  if (auto* lg = qobject_cast<QwtLegend*>(legend()))
    if (auto* label = qobject_cast<QwtLegendLabel*>(lg->legendWidget(itemToInfo(item))))
      label->setChecked(on);
}

void MPlot::legendItemChecked(const QVariant& itemInfo, bool on, int) {
  showCurve(infoToItem(itemInfo), on);
}

bool MPlot::legendChecked(QwtPlotItem* item) const {
  if (auto* lg = qobject_cast<const QwtLegend*>(legend()))
    if (auto* label = qobject_cast<QwtLegendLabel*>(lg->legendWidget(itemToInfo(item))))
      return label->isChecked();
  return false;
}

void MPlot::toggleFromLegend(QwtPlotItem* item, bool on) {
  auto* lg = qobject_cast<QwtLegend*>(legend());
  if (!lg) return;
  if (auto* label = qobject_cast<QwtLegendLabel*>(lg->legendWidget(itemToInfo(item)))) {
    // What a mouse click does: the label emits, the legend maps it to the item.
    label->setChecked(on);
    emit lg->checked(itemToInfo(item), on, 0);
  }
}

}  // namespace classification
