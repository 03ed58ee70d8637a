#include "gui/display_config.h"

#include "app/event_classes.h"

namespace classification {

DisplayConfig readDisplayConfig(XmlNode* userRoot, XmlNode* systemRoot) {
  const EventClasses classes = readEventClasses(userRoot, systemRoot);
  DisplayConfig c{classes.number, classes.numClasses, {}};
  for (const EventClass& e : classes.entries) {
    ClassEntry entry{e.classId, QString::fromStdString(e.name), QColor()};
    entry.color.setNamedColor(QString::fromStdString(e.color));
    c.entries.push_back(entry);
  }
  return c;
}

}  // namespace classification
