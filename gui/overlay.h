// A transparent widget over the plot's canvas that draws a dotted vertical
// line in the class colour for every event on display.
#pragma once

#include "app/config.h"

#include <QColor>
#include <QPoint>
#include <QVector>
#include <QWidget>

#include <vector>

class QwtPlotCanvas;

namespace classification {

class MPlot;

class MOverlay : public QWidget {
 public:
  MOverlay(QWidget* canvas, MPlot* plot, XmlNode* systemRoot, XmlNode* userRoot);
  ~MOverlay() override;

  void setMarker(QVector<QPoint>* markers);
  void setVisibilityMarker(std::vector<bool> visible);
  const std::vector<QColor>& getClassColors() const { return classColors; }
  // Lines drawn by the last paint, per class (for tests).
  const std::vector<int>& getLinesDrawn() const { return linesDrawn; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<QColor> classColors;
  int numClasses = 0;
  QVector<QPoint>* markers = nullptr;
  std::vector<bool> classVisible;
  std::vector<int> linesDrawn;
};

}  // namespace classification
