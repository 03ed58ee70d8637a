// Every program refuses the same broken configurations with the same line
// and exit status 2 (the window stops before it opens, so it runs here too).
#include "tests/support/process.h"
#include "tests/support/testconfig.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// The program's standard error and exit status; its output is not needed.
sctest::RunResult run(const std::string& cmd) { return sctest::runCommand(cmd + " >/dev/null"); }

// The shipped configuration in dir with one replacement in one document.
void brokenCopy(const sctest::TempDir& dir, const std::string& doc, const std::string& from, const std::string& to) {
  const fs::path shipped = fs::path(SC_SOURCE_DIR) / "config";
  for (const char* f : {"ClassificationSystem.xml", "UserParameters.xml", "SystemParameters.xml"})
    fs::copy_file(shipped / f, fs::path(dir.path()) / f, fs::copy_options::overwrite_existing);
  const fs::path target = fs::path(dir.path()) / doc;
  std::string text = sctest::readFile(target);
  const size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
  std::ofstream(target) << text;
}

}  // namespace

TEST(Validation, EveryProgramRefusesWhatTheWindowRefuses) {
  struct Case {
    const char* doc;
    std::string from, to, expect;
    bool trainerToo;  // the trainer writes a new model and class list
  };
  const std::vector<Case> cases = {
      {"UserParameters.xml", "<Events Number=\"4\">", "<Events Number=\"3\">",
       "GraphicalUserInterface/Events: \"Number\" (3) is below the model's NumClasses (4)", false},
      {"UserParameters.xml", "ClassId=\"3\"", "ClassId=\"7\"", "\"ClassId\" 7 outside 0 ... 3", true},
      {"UserParameters.xml", "<Event Name=\"other\" ClassId=\"3\"><Color Value=\"#911eb4\"/></Event>", "",
       "GraphicalUserInterface/Events: no entry for class 3 of the model", false},
      {"SystemParameters.xml", "</AudioCapturing>", "</AudioCaptring>", "invalid closing tag name", true},
      {"UserParameters.xml", "<M Value=\"16\"/>", "<M Value=\"7\"/>", "GraphicalUserInterface/M: must divide NBlock",
       true},
  };
  std::vector<std::pair<std::string, std::string>> programs = {
      {"soundclassifier-offline", std::string(OFFLINE_RUNNER) + " --config DIR x.wav"},
      {"soundclassifier-train", std::string(TRAINER) + " --config DIR --data DIR --out DIR/m.xml"},
#ifdef RECORDER
      {"soundclassifier-record", std::string(RECORDER) + " --config DIR --out DIR/rec --seconds 1"},
#endif
#ifdef WINDOW
      {"soundclassifier", "cd DIR && QT_QPA_PLATFORM=offscreen " + std::string(WINDOW)},
#endif
  };
  for (const Case& c : cases) {
    sctest::TempDir dir;
    brokenCopy(dir, c.doc, c.from, c.to);
    for (const auto& [name, pattern] : programs) {
      if (name == "soundclassifier-train" && !c.trainerToo) continue;
      std::string cmd = pattern;
      for (size_t at = 0; (at = cmd.find("DIR", at)) != std::string::npos; at += dir.path().size())
        cmd.replace(at, 3, dir.path());
      const sctest::RunResult r = run(cmd);
      EXPECT_EQ(r.status, 2) << name << ": " << c.expect << "\n" << r.err;
      EXPECT_NE(r.err.find(c.expect), std::string::npos) << name << ": " << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << name << ": " << r.err;
      EXPECT_EQ(r.err.rfind(name + ": ", 0), 0u) << r.err;
    }
  }
}

TEST(Validation, UsageErrorsExitWith2AndHelpWith0) {
  sctest::TempDir dir;
  for (const std::string& bin : {std::string(OFFLINE_RUNNER), std::string(TRAINER)
#ifdef RECORDER
                                , std::string(RECORDER)
#endif
       }) {
    EXPECT_EQ(run(bin + " --no-such-option").status, 2) << bin;
    EXPECT_EQ(run(bin).status, 2) << bin;
    EXPECT_EQ(run(bin + " --help").status, 0) << bin;
  }
}
