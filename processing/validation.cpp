#include "processing/validation.h"

#include "features/feature.h"
#include "processing/event_manager.h"
#include "segmentation/segmentator.h"

namespace classification {

EventClasses checkConfiguration(const ConfigSet& config, bool withModel) {
  EventClasses classes = readEventClasses(config.userRoot(), config.systemRoot(), withModel);
  MSegmentator probe(config.userRoot(), config.systemRoot());
  if (withModel) MEventManager check(config.systemRoot(), probe.getRingBuffer());
  else MFeatureExtractor check(config.systemRoot());
  return classes;
}

}  // namespace classification
