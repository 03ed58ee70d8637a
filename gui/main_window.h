// The window: the signal plot above the event list in a vertical splitter.
#pragma once

#include "app/config.h"
#include "audio/ringbuffer.h"
#include "segmentation/event.h"

#include <QMainWindow>

namespace classification {

class MPlot;
class MList;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  MainWindow(MQueue<MEvent*>* queue, RingBuffer* displayRing, XmlNode* userRoot, XmlNode* systemRoot,
             QWidget* parent = nullptr);
  ~MainWindow() override;
  void start();
  MPlot* getPlot() const { return plot; }
  MList* getList() const { return eventList; }

 private:
  MPlot* plot = nullptr;
  MList* eventList = nullptr;
};

}  // namespace classification
