// The list of classified events on display, newest first: time on the plot's
// axis (with the class icon) and class name. Driven by the plot.
#pragma once

#include "app/config.h"
#include "segmentation/event.h"

#include <QColor>
#include <QIcon>
#include <QStandardItemModel>
#include <QTreeView>

#include <map>
#include <vector>

namespace classification {

class MList {
 public:
  MList(XmlNode* userRoot, QWidget* parent);
  ~MList();
  MList(const MList&) = delete;
  MList& operator=(const MList&) = delete;

  void insertEvent(MEvent* event);
  void timeShift(float s);
  void updateVisibilityEvents(std::vector<bool> visibility, std::vector<MEvent*>& events);

  QTreeView* getView() const { return view; }
  QStandardItemModel* getModel() const { return model; }
  int getRowCount() const { return rowCount; }
  // Six significant digits, as a standard stream writes a double.
  static QString formatTime(double t);

 private:
  QTreeView* view;
  QStandardItemModel* model;
  std::map<int, QString> classNames;
  int rowCount = 0;
  float leftEdge;
  std::vector<bool> classVisible;
  std::vector<QColor> classColors;
  std::vector<QIcon> classIcons;
};

}  // namespace classification
