// Where files are read and written: the installation when it can be written, else the user's
// XDG folders, with the user's copy read first.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "foundation/akpaths.h"

namespace {

namespace fs = std::filesystem;

// Sets environment variables for one test and puts the old values back after it.
class ScopedEnv {
 public:
  void Set(const char* pszName, const char* pszValue) {
    const char* pszOld = getenv(pszName);
    aold_.push_back({pszName, pszOld ? pszOld : "", pszOld != nullptr});
    if (pszValue) setenv(pszName, pszValue, 1);
    else unsetenv(pszName);
  }
  ~ScopedEnv() {
    for (auto it = aold_.rbegin(); it != aold_.rend(); ++it) {
      if (it->bSet) setenv(it->sName.c_str(), it->sValue.c_str(), 1);
      else unsetenv(it->sName.c_str());
    }
  }

 private:
  struct Old {
    std::string sName, sValue;
    bool bSet;
  };
  std::vector<Old> aold_;
};

class Paths : public testing::Test {
 protected:
  void SetUp() override {
    dir = fs::path(testing::TempDir()) / ("akpaths_" + std::to_string(getpid()));
    fs::remove_all(dir);
    install = dir / "install";
    home = dir / "home";
    fs::create_directories(install / "config");
    fs::create_directories(home);
    env.Set("HOME", home.c_str());
    for (const char* psz : {"XDG_STATE_HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"}) env.Set(psz, nullptr);
  }
  void TearDown() override {
    AKPathsInit("");
    fs::remove_all(dir);
  }
  // The installation marked as shared: written in by nobody, whoever runs the test (root
  // included, whom file modes do not stop).
  void MarkShared() { std::ofstream(install / kSharedMarker) << "shared\n"; }

  fs::path dir, install, home;
  ScopedEnv env;
};

struct PlaceCase {
  AKPlace place;
  const char* pszInstalled;
  const char* pszUser;  // below HOME
};

constexpr PlaceCase kaPlace[] = {
    {AKPlaceLog, "log", ".local/state/vantrel/log"},
    {AKPlaceSysex, "sysex", ".local/share/vantrel/sysex"},
    {AKPlaceWorkspace, "workspace", ".local/share/vantrel/workspace"},
    {AKPlaceTemplate, "template", ".local/share/vantrel/template"},
    {AKPlaceUserPatch, "patch/user", ".local/share/vantrel/patch/user"},
    {AKPlaceEditHistory, "patch/edit_history", ".local/share/vantrel/patch/edit_history"},
    {AKPlaceRegressions, "regressions", ".local/share/vantrel/regressions"},
    {AKPlaceConfig, "config", ".config/vantrel"},
};

TEST_F(Paths, WritableInstallationKeepsEveryPlaceInside) {
  AKPathsInit(install.string());
  EXPECT_FALSE(AKPathsPerUser());
  for (const PlaceCase& c : kaPlace) {
    EXPECT_EQ(AKWriteDir(c.place), (install / c.pszInstalled).string()) << c.pszInstalled;
    EXPECT_EQ(AKInstalledDir(c.place), (install / c.pszInstalled).string()) << c.pszInstalled;
  }
  // A user's settings are not looked at: a build tree behaves the same for every developer.
  fs::create_directories(home / ".config/vantrel");
  std::ofstream(home / ".config/vantrel/Interpreter.vantrel") << "[Interpreter]\n";
  EXPECT_EQ(AKSettingsPath(), (install / "config/Interpreter.vantrel").string());
}

TEST_F(Paths, SharedInstallationWritesEveryPlaceAtHome) {
  MarkShared();
  AKPathsInit(install.string());
  EXPECT_TRUE(AKPathsPerUser());
  for (const PlaceCase& c : kaPlace) {
    EXPECT_EQ(AKWriteDir(c.place), (home / c.pszUser).string()) << c.pszInstalled;
    EXPECT_EQ(AKInstalledDir(c.place), (install / c.pszInstalled).string()) << c.pszInstalled;
  }
  // Made on demand, with its parents.
  EXPECT_EQ(AKMakeWriteDir(AKPlaceEditHistory), (home / ".local/share/vantrel/patch/edit_history").string());
  EXPECT_TRUE(fs::is_directory(home / ".local/share/vantrel/patch/edit_history"));
}

TEST_F(Paths, XdgVariablesChooseTheBaseFoldersAndRelativeOnesAreIgnored) {
  MarkShared();
  env.Set("XDG_STATE_HOME", (dir / "state").c_str());
  env.Set("XDG_DATA_HOME", "relative/data");  // not absolute: the default applies
  env.Set("XDG_CONFIG_HOME", (dir / "cfg").c_str());
  AKPathsInit(install.string());
  EXPECT_EQ(AKWriteDir(AKPlaceLog), (dir / "state/vantrel/log").string());
  EXPECT_EQ(AKWriteDir(AKPlaceSysex), (home / ".local/share/vantrel/sysex").string());
  EXPECT_EQ(AKWriteDir(AKPlaceConfig), (dir / "cfg/vantrel").string());
}

TEST_F(Paths, UsersCopyIsReadFirstThenTheInstalledOne) {
  MarkShared();
  AKPathsInit(install.string());
  EXPECT_EQ(AKSettingsPath(), (install / "config/Interpreter.vantrel").string());
  EXPECT_EQ(AKInputActionPath(), (install / "config/InputAction.ini").string());
  fs::create_directories(home / ".config/vantrel");
  std::ofstream(home / ".config/vantrel/Interpreter.vantrel") << "[Interpreter]\n";
  EXPECT_EQ(AKSettingsPath(), (home / ".config/vantrel/Interpreter.vantrel").string());
  EXPECT_EQ(AKInputActionPath(), (install / "config/InputAction.ini").string());
  fs::create_directories(home / ".local/share/vantrel/workspace");
  std::ofstream(home / ".local/share/vantrel/workspace/default.xml") << "<Workspace/>\n";
  EXPECT_EQ(AKReadPath(AKPlaceWorkspace, "default.xml"), (home / ".local/share/vantrel/workspace/default.xml").string());
}

TEST_F(Paths, WithoutAHomeNothingIsWrittenAndTheReasonIsGiven) {
  MarkShared();
  env.Set("HOME", nullptr);
  AKPathsInit(install.string());
  EXPECT_EQ(AKWriteDir(AKPlaceLog), "");
  std::string sError;
  EXPECT_EQ(AKMakeWriteDir(AKPlaceSysex, &sError), "");
  EXPECT_NE(sError.find("HOME is not set"), std::string::npos) << sError;
  // Reading still finds the installed files.
  EXPECT_EQ(AKSettingsPath(), (install / "config/Interpreter.vantrel").string());
}

TEST_F(Paths, AMissingInstallationFolderCountsAsWritable) {
  // As before: whoever writes first makes the folders.
  AKPathsInit((dir / "not-yet").string());
  EXPECT_FALSE(AKPathsPerUser());
  EXPECT_EQ(AKWriteDir(AKPlaceLog), (dir / "not-yet/log").string());
}

}  // namespace
