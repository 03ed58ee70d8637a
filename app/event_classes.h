// The "GraphicalUserInterface" section checked against the model: what every
// program checks before it starts, so that the window and the tools accept
// and refuse the same configurations.
#pragma once

#include "app/config.h"

#include <string>
#include <vector>

namespace classification {

struct EventClass {
  int classId;
  std::string name;
  std::string color;  // as written; the window interprets it
};

struct EventClasses {
  int number;      // "Events" "Number"
  int numClasses;  // "Classifier" / "NumClasses" (0 when not checked)
  std::vector<EventClass> entries;  // in document order

  // Names by class id, empty where no entry names one.
  std::vector<std::string> names() const;
};

// "M" of "GraphicalUserInterface", checked to divide NBlock. Throws ConfigError.
int displayDecimation(XmlNode* userRoot, int nBlock);

// Reads and validates the section: "DispInterval", M >= 1 dividing NBlock,
// the waveform's name and colour, every "ClassId" in 0 .. Number-1 and
// unique, each entry's name and colour; with the model also "Number" >=
// "NumClasses" and one entry for every class label. Throws ConfigError.
EventClasses readEventClasses(XmlNode* userRoot, XmlNode* systemRoot, bool withModel = true);

}  // namespace classification
