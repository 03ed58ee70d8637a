#include "gui/list.h"

#include <QLinearGradient>
#include <QPixmap>

#include <sstream>

namespace classification {

namespace {
QStandardItem* fixedItem(const QString& text) {
  auto* item = new QStandardItem(text);
  item->setFlags(item->flags() & ~Qt::ItemIsEditable);
  return item;
}
}  // namespace

MList::MList(XmlNode* userRoot, QWidget* parent) {
  view = new QTreeView(parent);
  view->setFont(QFont("Times", 16, 75));
  QPalette palette = view->palette();
  QLinearGradient gradient(0, 0, 1, 0);
  gradient.setCoordinateMode(QGradient::StretchToDeviceMode);
  gradient.setColorAt(0, QColor(237, 237, 237, 255));
  gradient.setColorAt(1, QColor(242, 242, 242, 255));
  palette.setBrush(QPalette::AlternateBase, QBrush(gradient));
  view->setPalette(palette);
  view->setAlternatingRowColors(true);
  view->setRootIsDecorated(false);
  // The model has no owner of its own; the view releases it.
  model = new QStandardItemModel(0, 2, view);
  QStandardItem* h0 = fixedItem("Time [s]");
  QStandardItem* h1 = fixedItem("Event");
  h0->setData(Qt::AlignHCenter, Qt::TextAlignmentRole);
  h1->setData(Qt::AlignHCenter, Qt::TextAlignmentRole);
  model->setHorizontalHeaderItem(0, h0);
  model->setHorizontalHeaderItem(1, h1);
  view->setModel(model);

  XmlNode* gui = cfg::element(userRoot, "GraphicalUserInterface");
  leftEdge = static_cast<float>(-cfg::real(cfg::element(gui, "DispInterval")) * 0.5);
  XmlNode* events = cfg::element(gui, "Events");
  const int number = static_cast<int>(cfg::integer(events, "Number"));
  classColors.assign(static_cast<size_t>(number > 0 ? number : 0), QColor());
  for (XmlNode* e = events->first_node(); e; e = e->next_sibling()) {
    const int id = static_cast<int>(cfg::integer(e, "ClassId"));
    classNames.emplace(id, QString::fromUtf8(cfg::attribute(e, "Name")));
    if (id >= 0 && id < number)
      classColors[static_cast<size_t>(id)].setNamedColor(QString::fromUtf8(cfg::attribute(cfg::element(e, "Color"))));
  }
  rowCount = 0;
  for (int i = 0; i < number; ++i) {
    QPixmap pixmap(8, 8);
    pixmap.fill(classColors[static_cast<size_t>(i)]);
    classIcons.push_back(QIcon(pixmap));
  }
}

MList::~MList() = default;

QString MList::formatTime(double t) {
  std::ostringstream out;
  out << t;
  return QString::fromStdString(out.str());
}

void MList::insertEvent(MEvent* event) {
  const int label = event->getLabel();
  QStandardItem* time = fixedItem(formatTime(static_cast<double>(event->getCoordinate())));
  if (label >= 0 && label < static_cast<int>(classIcons.size()))
    time->setData(classIcons[static_cast<size_t>(label)], Qt::DecorationRole);
  QStandardItem* name = fixedItem(classNames[label]);
  name->setData(Qt::AlignHCenter, Qt::TextAlignmentRole);
  model->insertRow(0, QList<QStandardItem*>{time, name});
  ++rowCount;
  view->resizeColumnToContents(0);
}

void MList::timeShift(float s) {
  for (int i = 0; i < rowCount; ++i) {
    QStandardItem* cell = model->item(i, 0);
    const float d = cell->text().toFloat() - s;
    if (!(d > leftEdge)) {
      model->removeRows(i, rowCount - i);
      rowCount = i;
      break;
    }
    cell->setText(formatTime(static_cast<double>(d)));
  }
  rowCount = model->rowCount();
  view->resizeColumnToContents(0);
}

void MList::updateVisibilityEvents(std::vector<bool> visibility, std::vector<MEvent*>& events) {
  classVisible = std::move(visibility);
  if (events.empty()) return;
  model->removeRows(0, rowCount);
  rowCount = 0;
  for (MEvent* e : events) {
    const int label = e->getLabel();
    if (label >= 0 && label < static_cast<int>(classVisible.size()) && classVisible[static_cast<size_t>(label)])
      insertEvent(e);
  }
}

}  // namespace classification
