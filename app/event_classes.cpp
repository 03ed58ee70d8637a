#include "app/event_classes.h"

namespace classification {

std::vector<std::string> EventClasses::names() const {
  std::vector<std::string> out(static_cast<size_t>(number));
  for (const EventClass& e : entries) out[static_cast<size_t>(e.classId)] = e.name;
  return out;
}

int displayDecimation(XmlNode* userRoot, int nBlock) {
  XmlNode* mNode = cfg::element(cfg::element(userRoot, "GraphicalUserInterface"), "M");
  const int m = cfg::getIntAtLeast(userRoot, "GraphicalUserInterface", "M", 1);
  if (nBlock < m || nBlock % m != 0) cfg::fail(mNode, "must divide NBlock (" + std::to_string(nBlock) + ")");
  return m;
}

EventClasses readEventClasses(XmlNode* userRoot, XmlNode* systemRoot, bool withModel) {
  EventClasses c;
  XmlNode* gui = cfg::element(userRoot, "GraphicalUserInterface");
  cfg::real(cfg::element(gui, "DispInterval"));
  displayDecimation(userRoot, cfg::getIntAtLeast(systemRoot, "AudioCapturing", "NBlock", 1));
  XmlNode* audio = cfg::element(gui, "Audio");
  cfg::attribute(audio, "Name");
  cfg::attribute(cfg::element(audio, "Color"));

  XmlNode* events = cfg::element(gui, "Events");
  const long number = cfg::integer(events, "Number");
  if (number < 0 || number > 10000) cfg::fail(events, "\"Number\" must be between 0 and 10000");
  long numClasses = 0;
  if (withModel) {
    numClasses = cfg::integer(cfg::element(cfg::element(systemRoot, "Classifier"), "NumClasses"));
    if (number < numClasses)
      cfg::fail(events, "\"Number\" (" + std::to_string(number) + ") is below the model's NumClasses (" +
                            std::to_string(numClasses) + ")");
  }
  c.number = static_cast<int>(number);
  c.numClasses = static_cast<int>(numClasses);
  std::vector<bool> seen(static_cast<size_t>(number), false);
  for (XmlNode* e = events->first_node(); e; e = e->next_sibling()) {
    const long id = cfg::integer(e, "ClassId");
    if (id < 0 || id >= number)
      cfg::fail(e, "\"ClassId\" " + std::to_string(id) + " outside 0 ... " + std::to_string(number - 1));
    if (seen[static_cast<size_t>(id)]) cfg::fail(e, "\"ClassId\" " + std::to_string(id) + " occurs twice");
    seen[static_cast<size_t>(id)] = true;
    c.entries.push_back({static_cast<int>(id), cfg::attribute(e, "Name"), cfg::attribute(cfg::element(e, "Color"))});
  }
  for (long id = 0; id < numClasses; ++id)
    if (!seen[static_cast<size_t>(id)]) cfg::fail(events, "no entry for class " + std::to_string(id) + " of the model");
  return c;
}

}  // namespace classification
