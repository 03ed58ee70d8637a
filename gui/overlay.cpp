#include "gui/overlay.h"

#include <QPainter>

namespace classification {

MOverlay::MOverlay(QWidget* canvas, MPlot*, XmlNode* systemRoot, XmlNode* userRoot) : QWidget(canvas) {
  setObjectName("Overlay");
  setPalette(QPalette(Qt::transparent));
  setAttribute(Qt::WA_TransparentForMouseEvents);
  XmlNode* events = cfg::element(cfg::element(userRoot, "GraphicalUserInterface"), "Events");
  const int number = static_cast<int>(cfg::integer(events, "Number"));
  classColors.assign(static_cast<size_t>(number > 0 ? number : 0), QColor());
  for (XmlNode* e = events->first_node(); e; e = e->next_sibling()) {
    const int id = static_cast<int>(cfg::integer(e, "ClassId"));
    if (id >= 0 && id < number)
      classColors[static_cast<size_t>(id)].setNamedColor(QString::fromUtf8(cfg::attribute(cfg::element(e, "Color"))));
  }
  numClasses = static_cast<int>(cfg::integer(cfg::element(cfg::element(systemRoot, "Classifier"), "NumClasses")));
}

MOverlay::~MOverlay() = default;

void MOverlay::setMarker(QVector<QPoint>* m) { markers = m; }

void MOverlay::setVisibilityMarker(std::vector<bool> visible) {
  classVisible = std::move(visible);
  update();
}

void MOverlay::paintEvent(QPaintEvent*) {
  linesDrawn.assign(static_cast<size_t>(numClasses > 0 ? numClasses : 0), 0);
  if (!markers) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  for (int i = 0; i < numClasses; ++i) {
    if (i >= static_cast<int>(classVisible.size()) || !classVisible[static_cast<size_t>(i)]) continue;
    const QVector<QPoint>& points = markers[i];
    if (points.isEmpty()) continue;
    const QColor color = i < static_cast<int>(classColors.size()) ? classColors[static_cast<size_t>(i)] : QColor();
    painter.setPen(QPen(QBrush(color, Qt::SolidPattern), 3.0, Qt::DotLine, Qt::SquareCap, Qt::BevelJoin));
    painter.drawLines(points.constData(), points.size() / 2);
    linesDrawn[static_cast<size_t>(i)] = points.size() / 2;
  }
}

}  // namespace classification
