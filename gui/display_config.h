// Checks of the "GraphicalUserInterface" section against the model, made
// before anything is built so that a bad configuration stops the program
// with one line instead of misdrawing.
#pragma once

#include "app/config.h"

#include <QColor>
#include <QString>

#include <vector>

namespace classification {

struct ClassEntry {
  int classId;
  QString name;
  QColor color;  // invalid for a colour name Qt does not know
};

struct DisplayConfig {
  int number;      // "Events" "Number"
  int numClasses;  // "Classifier" / "NumClasses"
  std::vector<ClassEntry> entries;  // in document order
};

// Reads and validates the section: "Number" >= "NumClasses", every
// "ClassId" in 0 .. Number-1 and unique, one entry for every class label,
// M >= 1 dividing NBlock. Throws ConfigError.
DisplayConfig readDisplayConfig(XmlNode* userRoot, XmlNode* systemRoot);

}  // namespace classification
