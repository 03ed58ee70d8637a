#include "gui/main_window.h"

#include "gui/list.h"
#include "gui/plot.h"

#include <QSplitter>

namespace classification {

MainWindow::MainWindow(MQueue<MEvent*>* queue, RingBuffer* displayRing, XmlNode* userRoot,
                       XmlNode* systemRoot, QWidget* parent)
    : QMainWindow(parent) {
  auto* splitter = new QSplitter(Qt::Vertical, this);
  setCentralWidget(splitter);
  plot = new MPlot(queue, displayRing, userRoot, systemRoot, splitter);
  eventList = new MList(userRoot, splitter);
  plot->setListPtr(eventList);
}

MainWindow::~MainWindow() {
  delete plot;
  delete eventList;
}

void MainWindow::start() { plot->start(); }

}  // namespace classification
