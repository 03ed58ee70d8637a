#include "app/config.h"
#include "tests/support/process.h"
#include "tests/support/testconfig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>

using namespace classification;
namespace fs = std::filesystem;

namespace {

using sctest::TempDir;

#ifndef _WIN32
// The probe loads a configuration as the programs do, in its own process.
sctest::RunResult runProbe(const std::string& dir) {
  return sctest::runCommand(std::string(CONFIG_PROBE) + " '" + dir + "' 2>&1");
}
#endif

// The error a call stops with; fails the test when it does not throw.
template <typename F>
ConfigError errorFrom(F call) {
  try {
    call();
  } catch (const ConfigError& e) {
    return e;
  }
  ADD_FAILURE() << "no ConfigError";
  return ConfigError("", "", "");
}

}  // namespace

TEST(NumberLists, ParseTokensLikeStrtod) {
  EXPECT_EQ(getArrayF("  0.5   1e-3 -2  "), (std::vector<float>{0.5f, 0.001f, -2.0f}));
  EXPECT_TRUE(getArrayF("").empty());
  EXPECT_TRUE(getArrayF("     ").empty());
  EXPECT_EQ(getArrayF("a 3"), (std::vector<float>{0.0f, 3.0f}));
  EXPECT_EQ(getArrayF("1,5"), (std::vector<float>{1.0f}));
  EXPECT_EQ(getArrayF("7"), (std::vector<float>{7.0f}));
  // Only the space separates: a tab stays inside the token.
  EXPECT_EQ(getArrayF("1\t2 3"), (std::vector<float>{1.0f, 3.0f}));
  EXPECT_EQ(getArrayI(" 1 2  13 x 4.9 -5"), (std::vector<int>{1, 2, 13, 0, 4, -5}));
}

TEST(LoadXML, JoinsLinesWithoutBreaksAndKeepsCarriageReturns) {
  TempDir dir;
  auto text = loadXML(dir.file("a.xml", "<a>1 2\n3 4</a>\n"));
  EXPECT_STREQ(text.data(), "<a>1 23 4</a>");
  EXPECT_EQ(getArrayF("1 23 4").size(), 3u);
  text = loadXML(dir.file("b.xml", "<a>\r\nx</a>\r\n"));
#ifdef _WIN32
  EXPECT_STREQ(text.data(), "<a>x</a>");  // text mode drops the carriage returns there
#else
  EXPECT_STREQ(text.data(), "<a>\rx</a>\r");
#endif
  bool opened = true;
  text = loadXML(dir.path() + "/missing.xml", nullptr, &opened);
  EXPECT_FALSE(opened);
  ASSERT_EQ(text.size(), 1u);
  EXPECT_EQ(text[0], '\0');
}

TEST(ConfigDocument, ParsesTextValuesAndAttributes) {
  TempDir dir;
  ConfigDocument doc(dir.file("s.xml",
                              "<Root><AudioCapturing><NBlock Value=\"512abc\"/><Fs Value=\"4.41e4\"/>"
                              "</AudioCapturing><nblock Value=\"1\"/><L> 1 2 &amp; </L></Root>"));
  EXPECT_EQ(cfg::getInt(doc.root(), "AudioCapturing", "NBlock"), 512);
  EXPECT_DOUBLE_EQ(cfg::getReal(doc.root(), "AudioCapturing", "Fs"), 44100.0);
  EXPECT_STREQ(cfg::text(cfg::element(doc.root(), "L")), " 1 2 & ");
  EXPECT_EQ(cfg::findElement(doc.root(), "NBlock"), nullptr);  // case-sensitive, one level
}

TEST(ConfigDocument, ErrorsNameTheFileTheElementAndTheFault) {
  TempDir dir;
  const std::string path = dir.file("s.xml", "<Root><Segmentation><FacVar/></Segmentation></Root>");
  ConfigDocument doc(path);
  EXPECT_STREQ(errorFrom([&] { cfg::getReal(doc.root(), "Segmentation", "FacVar"); }).what(),
               (path + ": Segmentation/FacVar: missing attribute \"Value\"").c_str());
  EXPECT_STREQ(errorFrom([&] { cfg::getReal(doc.root(), "Segmentation", "Alpha"); }).what(),
               (path + ": Segmentation/Alpha: missing element").c_str());
  EXPECT_EQ(errorFrom([&] { cfg::getInt(doc.root(), "Event", "NEvent"); }).element(), "Event");
  // Parse errors are reported at the line and column of the original file.
  const std::string bad = dir.file("bad.xml", "<Root>\n  <A Value=\"1\">\n</Root>\n");
  const ConfigError e = errorFrom([&] { ConfigDocument d(bad); });
  EXPECT_EQ(e.document(), bad);
  EXPECT_NE(e.problem().find("line 3, column 7"), std::string::npos) << e.problem();
  const std::string bad2 = dir.file("bad2.xml", "<Root>\n<A Value=1/>\n</Root>\n");
  EXPECT_NE(errorFrom([&] { ConfigDocument d(bad2); }).problem().find("line 2, column 10"), std::string::npos);
  // A misspelt closing tag is a malformed document, not a silent match.
  const std::string bad3 =
      dir.file("bad3.xml", "<Root>\n<AudioCapturing><Fs Value=\"1\"/>\n</AudioCaptring>\n</Root>\n");
  EXPECT_NE(errorFrom([&] { ConfigDocument d(bad3); }).problem().find("line 3, column 16: invalid closing tag name"),
            std::string::npos);
  EXPECT_THROW(ConfigDocument(dir.path() + "/nope.xml"), ConfigError);
  EXPECT_THROW(ConfigDocument(dir.file("empty.xml", "")), ConfigError);
}

TEST(ConfigDocument, LimitsAreChecked) {
  TempDir dir;
  const std::string path = dir.file("s.xml", "<R><A><N Value=\"0\"/><X Value=\"inf\"/></A></R>");
  ConfigDocument doc(path);
  EXPECT_THROW(cfg::getIntAtLeast(doc.root(), "A", "N", 1), ConfigError);
  EXPECT_EQ(cfg::getIntAtLeast(doc.root(), "A", "N", 0), 0);
  EXPECT_THROW(cfg::getRealAbove(doc.root(), "A", "X", 0.0), ConfigError);
}

#ifndef _WIN32  // the probe runs as a separate process
// A complete configuration set written into a directory; tests then spoil it.
class ConfigSetTest : public ::testing::Test {
 protected:
  void write(const std::string& user, const std::string& system,
             const std::string& second = "Whatever") {
    dir.file("ClassificationSystem.xml",
             "<ClassificationSystem><UserEditableParameters>u.xml</UserEditableParameters><" +
                 second + ">s.xml</" + second + "></ClassificationSystem>");
    dir.file("u.xml", user);
    dir.file("s.xml", system);
  }
  const std::string goodUser = "<U><GraphicalUserInterface><M Value=\"16\"/></GraphicalUserInterface></U>";
  const std::string goodSystem =
      "<S><AudioCapturing><NBlock Value=\"512\"/><Fs Value=\"44100\"/></AudioCapturing>"
      "<Event><NEvent Value=\"20\"/></Event></S>";
  TempDir dir;
};

TEST_F(ConfigSetTest, FindsBothDocumentsByPosition) {
  write(goodUser, goodSystem, "AnyNameAtAll");
  ConfigSet set(dir.path());
  EXPECT_STREQ(set.userRoot()->name(), "U");
  EXPECT_STREQ(set.systemRoot()->name(), "S");
  EXPECT_EQ(runProbe(dir.path()).out, "OK\n");
}

TEST_F(ConfigSetTest, EveryKindOfBadConfigurationStopsWithOneLineAndStatus2) {
  struct Case {
    std::string user, system, expect;
  };
  const std::vector<Case> cases = {
      {goodUser, "<S><AudioCapturing><NBlock Value=\"512\"/></AudioCapturing></S>",
       "s.xml: AudioCapturing/Fs: missing element"},
      {goodUser, "<S><AudioCapturing><NBlock/><Fs Value=\"1\"/></AudioCapturing></S>",
       "s.xml: AudioCapturing/NBlock: missing attribute \"Value\""},
      {goodUser, "<S><AudioCapturing><NBlock Value=\"512\"/>", "s.xml: malformed XML at line 1"},
      {goodUser,
       "<S><AudioCapturing><NBlock Value=\"0\"/><Fs Value=\"44100\"/></AudioCapturing>"
       "<Event><NEvent Value=\"20\"/></Event></S>",
       "s.xml: AudioCapturing/NBlock: value 0 must be at least 1"},
      {"<U><GraphicalUserInterface><M Value=\"5\"/></GraphicalUserInterface></U>", goodSystem,
       "u.xml: GraphicalUserInterface/M: must divide NBlock"},
      {"<U/>", goodSystem, "u.xml: GraphicalUserInterface: missing element"},
  };
  for (const Case& c : cases) {
    write(c.user, c.system);
    const sctest::RunResult r = runProbe(dir.path());
    EXPECT_EQ(r.status, 2) << c.expect;
    EXPECT_NE(r.out.find(c.expect), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
  }
  fs::remove(fs::path(dir.path()) / "u.xml");
  const sctest::RunResult r = runProbe(dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("u.xml: cannot open file"), std::string::npos) << r.out;
  fs::remove(fs::path(dir.path()) / "ClassificationSystem.xml");
  EXPECT_EQ(runProbe(dir.path()).status, 2);
}

TEST(ShippedConfiguration, LoadsAndPassesTheProbe) {
  const sctest::RunResult r = runProbe(std::string(SC_SOURCE_DIR) + "/config");
  EXPECT_EQ(r.status, 0) << r.out;
}
#endif
