// Loads a configuration directory the way every program does and reads the
// shared keys with their limits; prints OK or the configuration error.
#include "app/config.h"

#include <iostream>

using namespace classification;

int main(int argc, char** argv) {
  return runReportingConfigErrors("config_probe", [&] {
    ConfigSet set(argc > 1 ? argv[1] : "");
    const int nBlock = cfg::getIntAtLeast(set.systemRoot(), "AudioCapturing", "NBlock", 1);
    cfg::getIntAtLeast(set.systemRoot(), "AudioCapturing", "Fs", 1);
    cfg::getIntAtLeast(set.systemRoot(), "Event", "NEvent", 1);
    const int m = cfg::getIntAtLeast(set.userRoot(), "GraphicalUserInterface", "M", 1);
    if (nBlock % m != 0)
      cfg::fail(cfg::element(cfg::element(set.userRoot(), "GraphicalUserInterface"), "M"),
                "must divide NBlock");
    std::cout << "OK" << std::endl;
    return 0;
  });
}
