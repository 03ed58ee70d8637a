// The launcher of an installed system: the first start copies the default
// documents into the user's configuration folder and starts the program
// there; later starts never overwrite what the user changed.
#include "tests/support/process.h"
#include "tests/support/testconfig.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// Runs the launcher with this environment; returns what the stand-in
// program (pwd) printed, or "exit N" on a failure.
std::string launch(const std::string& env) {
  const sctest::RunResult r = sctest::runCommand("env -u XDG_CONFIG_HOME " + env + " " + LAUNCHER + " 2>&1");
  if (r.status != 0) return "exit " + std::to_string(r.status) + ": " + r.out;
  return r.out.substr(0, r.out.find_last_not_of('\n') + 1);
}

const char* kDocs[] = {"ClassificationSystem.xml", "UserParameters.xml", "SystemParameters.xml"};

}  // namespace

TEST(Launcher, FirstStartCopiesTheDefaultsAndStartsThere) {
  sctest::TempDir home;
  const fs::path conf = fs::path(home.path()) / ".config" / "soundclassifier";
  EXPECT_EQ(launch("HOME=" + home.path()), conf.string());
  for (const char* d : kDocs)
    EXPECT_EQ(sctest::readFile(conf / d), sctest::readFile(fs::path(SC_SOURCE_DIR) / "config" / d)) << d;
  // XDG_CONFIG_HOME, when set, is the base instead.
  sctest::TempDir xdg;
  EXPECT_EQ(launch("HOME=" + home.path() + " XDG_CONFIG_HOME=" + xdg.path()),
            (fs::path(xdg.path()) / "soundclassifier").string());
  EXPECT_TRUE(fs::exists(fs::path(xdg.path()) / "soundclassifier" / "SystemParameters.xml"));
}

TEST(Launcher, NeverOverwritesTheUsersFiles) {
  sctest::TempDir home;
  const fs::path conf = fs::path(home.path()) / ".config" / "soundclassifier";
  ASSERT_EQ(launch("HOME=" + home.path()), conf.string());
  std::ofstream(conf / "UserParameters.xml") << "<mine/>";
  std::ofstream(conf / "SystemParameters.xml") << "<my model/>";
  fs::remove(conf / "ClassificationSystem.xml");
  ASSERT_EQ(launch("HOME=" + home.path()), conf.string());
  EXPECT_EQ(sctest::readFile(conf / "UserParameters.xml"), "<mine/>");
  EXPECT_EQ(sctest::readFile(conf / "SystemParameters.xml"), "<my model/>");
  // A missing one comes back from the defaults.
  EXPECT_EQ(sctest::readFile(conf / "ClassificationSystem.xml"),
            sctest::readFile(fs::path(SC_SOURCE_DIR) / "config" / "ClassificationSystem.xml"));
  // A folder that cannot be made stops the start with an error.
  std::ofstream(fs::path(home.path()) / "file") << "x";
  EXPECT_EQ(launch("HOME=" + home.path() + "/file").rfind("exit ", 0), 0u);
}
