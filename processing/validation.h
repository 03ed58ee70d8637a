// Everything a program checks before it starts, one code path for the window
// and every tool: the documents (loaded by ConfigSet), the display section
// and its relations to the model, the segmentation's limits and, with the
// model, the classifier's sizes against the features. Throws ConfigError.
#pragma once

#include "app/config.h"
#include "app/event_classes.h"

namespace classification {

// withModel false: for the trainer, which writes a new model and new class
// entries, so the present ones need not fit.
EventClasses checkConfiguration(const ConfigSet& config, bool withModel = true);

}  // namespace classification
