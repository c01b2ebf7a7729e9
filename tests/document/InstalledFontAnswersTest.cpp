// The installed-font answers kept between runs (platform/Fonts): a run whose
// font configuration and font folders are unchanged answers from the kept
// file without loading fontconfig, and gives what fontconfig gave; a font
// added to a folder, a changed configuration or a damaged file make the next
// run ask fontconfig again. Each run is `pvl fonts` in a child process with
// its own fontconfig configuration (a folder of fonts copied from the
// system's, and an alias for Helvetica) and its own cache folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <filesystem>

#include "DocumentTestSupport.h"

using pvltest::TempDir;

namespace {

namespace fs = std::filesystem;

const char* const kSystemFonts = "/usr/share/fonts/truetype";

class InstalledFontAnswers : public testing::Test {
protected:
  void SetUp() override {
    fs::create_directories(dir_.File("fonts"));
    AddFont("dejavu/DejaVuSans.ttf");
    AddFont("liberation2/LiberationSerif-Regular.ttf");
    Configure("DejaVu Sans");
  }

  void AddFont(const std::string& relative) {
    const fs::path from = fs::path(kSystemFonts) / relative;
    ASSERT_TRUE(fs::exists(from)) << from << " (installed by scripts/install-deps.sh)";
    fs::copy_file(from, fs::path(dir_.File("fonts")) / from.filename());
    // A folder's stamp is kept to the clock's tick: date the change a
    // second later, as a font installed after the last run would be.
    struct timespec later[2];
    clock_gettime(CLOCK_REALTIME, &later[0]);
    later[0].tv_sec += ++tick_;
    later[1] = later[0];
    ASSERT_EQ(utimensat(AT_FDCWD, dir_.File("fonts").c_str(), later, 0), 0);
  }

  // A configuration with only our font folder, Helvetica bound to family.
  // Written to a new file renamed over the old one, as editors save.
  void Configure(const std::string& family) {
    pvltest::WriteFile(dir_.File("fonts.conf.new"),
                       "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
                       "<fontconfig>\n  <dir>" +
                           dir_.File("fonts") + "</dir>\n  <cachedir>" + dir_.File("fc-cache") +
                           "</cachedir>\n  <alias binding=\"same\"><family>Helvetica</family><prefer><family>" +
                           family + "</family></prefer></alias>\n</fontconfig>\n");
    fs::rename(dir_.File("fonts.conf.new"), dir_.File("fonts.conf"));
  }

  std::string KeptFile() const { return dir_.File("cache/corvane-pdf-reader/installed-fonts"); }

  struct Run {
    std::string answers;  // every line but the last
    bool loaded = false;  // fontconfig was loaded
  };

  Run Fonts(const std::string& cacheHome = "",
            const std::vector<std::string>& requests = {"Helvetica", "Times New Roman:bold", "Liberation Mono:italic",
                                                        "NoSuchFamily"}) const {
    std::vector<std::string> argv = {"env", "FONTCONFIG_FILE=" + dir_.File("fonts.conf"),
                                     "XDG_CACHE_HOME=" + (cacheHome.empty() ? dir_.File("cache") : cacheHome),
                                     pvldoc::PvlPath(), "fonts"};
    argv.insert(argv.end(), requests.begin(), requests.end());
    const pvltest::CommandResult r = pvltest::RunCommand(argv);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    Run run;
    const size_t last = r.out.rfind("fontconfig: ");
    EXPECT_NE(last, std::string::npos) << r.out;
    if (last == std::string::npos) return run;
    run.answers = r.out.substr(0, last);
    run.loaded = r.out.substr(last) == "fontconfig: loaded\n";
    EXPECT_TRUE(run.loaded || r.out.substr(last) == "fontconfig: not loaded\n") << r.out;
    return run;
  }

  static std::string FaceOf(const Run& run, const std::string& request) {
    const size_t at = run.answers.find("\n" + request + ": ");
    if (at == std::string::npos) return {};
    const size_t start = at + request.size() + 3;
    return run.answers.substr(start, run.answers.find(" | ", start) - start);
  }

  TempDir dir_;
  int tick_ = 0;
};

TEST_F(InstalledFontAnswers, AreFontconfigsUntilTheFontsOrTheConfigurationChange) {
  // Fontconfig answers the first run after a change; the next answers the
  // same from the kept file.
  auto askedThenKept = [&](const char* when) {
    const Run asked = Fonts();
    const Run kept = Fonts();
    EXPECT_TRUE(asked.loaded) << when;
    EXPECT_FALSE(kept.loaded) << when;
    EXPECT_EQ(kept.answers, asked.answers) << when;
    return asked;
  };
  const Run first = askedThenKept("first run");
  EXPECT_EQ(FaceOf(first, "Helvetica"), "DejaVu Sans") << first.answers;
  EXPECT_NE(first.answers.find("families: DejaVu Sans; Liberation Serif"), std::string::npos) << first.answers;
  EXPECT_EQ(FaceOf(first, "Liberation Mono:italic"), "DejaVu Sans") << "not installed yet: the default face";

  // A font installed since: its family is listed and selected.
  AddFont("liberation2/LiberationMono-Italic.ttf");
  const Run added = askedThenKept("font added");
  EXPECT_NE(added.answers.find("Liberation Mono"), std::string::npos) << added.answers;
  EXPECT_EQ(FaceOf(added, "Liberation Mono:italic"), "Liberation Mono") << added.answers;

  // The configuration changed: Helvetica follows the new alias.
  Configure("Liberation Serif");
  const Run configured = askedThenKept("configuration changed");
  EXPECT_EQ(FaceOf(configured, "Helvetica"), "Liberation Serif") << configured.answers;

  // A question not asked before is asked of fontconfig and kept beside the others.
  EXPECT_TRUE(Fonts("", {"Courier New"}).loaded);
  EXPECT_FALSE(Fonts("", {"Courier New"}).loaded);
  const Run both = Fonts();
  EXPECT_FALSE(both.loaded);
  EXPECT_EQ(both.answers, configured.answers);
}

TEST_F(InstalledFontAnswers, ADamagedOrForeignFileIsAskedAgainAndReplaced) {
  const Run first = Fonts();
  const std::string kept = pvltest::ReadFile(KeptFile());
  const std::string cut = kept.substr(0, kept.size() / 2);
  std::string foreignStamps = kept;  // kept on a machine whose font folder is another
  const size_t stamp = foreignStamps.find(dir_.File("fonts") + "\t");
  ASSERT_NE(stamp, std::string::npos) << kept;
  foreignStamps.insert(foreignStamps.find('\t', stamp + dir_.File("fonts").size() + 1) + 1, "1");

  for (const std::string& damaged : {std::string("garbage\n"), cut, std::string(), foreignStamps}) {
    pvltest::WriteFile(KeptFile(), damaged);
    const Run again = Fonts();
    EXPECT_TRUE(again.loaded) << damaged.substr(0, 80);
    EXPECT_EQ(again.answers, first.answers);
    EXPECT_EQ(pvltest::ReadFile(KeptFile()).substr(0, 20), kept.substr(0, 20));
    EXPECT_FALSE(Fonts().loaded) << "written anew";
  }
}

TEST_F(InstalledFontAnswers, AFolderThatCannotBeWrittenCostsOnlyTime) {
  pvltest::WriteFile(dir_.File("not-a-folder"), "x");
  const std::string cacheHome = dir_.File("not-a-folder/cache");
  const Run first = Fonts(cacheHome);
  const Run second = Fonts(cacheHome);
  EXPECT_TRUE(first.loaded);
  EXPECT_TRUE(second.loaded);
  EXPECT_EQ(second.answers, first.answers);
  EXPECT_EQ(FaceOf(first, "Helvetica"), "DejaVu Sans");
}

}  // namespace
