// The IDE's plain logic: MIDI messages in words, the single-instance hand-over record and its
// rules, the desktop's file types, the installation folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ide/filetypes.h"
#include "ide/handover.h"
#include "ide/idestart.h"
#include "ide/midiwords.h"

namespace fs = std::filesystem;

namespace {

uint32_t Pack(int iStatus, int d1 = 0, int d2 = 0) {
  return static_cast<uint32_t>(iStatus) | static_cast<uint32_t>(d1) << 8 | static_cast<uint32_t>(d2) << 16;
}

TEST(MidiWords, EveryKindOfMessage) {
  struct Case {
    uint32_t uPacked;
    const char* pszWords;
  };
  const Case kaCase[] = {
      {0, ""},
      {Pack(0x80, 60, 64), "Ch01: NoteOff C4 (60) Vel 64"},
      {Pack(0x99, 60, 0), "Ch10: NoteOn C4 (60) OFF"},
      {Pack(0x90, 69, 100), "Ch01: NoteOn A4 (69) Vel 100"},
      {Pack(0x9F, 0, 1), "Ch16: NoteOn C-1 (0) Vel 1"},
      {Pack(0x90, 127, 127), "Ch01: NoteOn G9 (127) Vel 127"},
      {Pack(0x90, 61, 5), "Ch01: NoteOn C#4 (61) Vel 5"},
      {Pack(0xA2, 64, 33), "Ch03: PolyPrs E4 (64) 33"},
      {Pack(0xB0, 1, 90), "Ch01: ModWheel=90"},
      {Pack(0xB0, 7, 100), "Ch01: ChannelVol=100"},
      {Pack(0xB0, 120, 0), "Ch01: All Sound Off"},
      {Pack(0xB0, 121, 0), "Ch01: Reset All Controllers"},
      {Pack(0xB0, 122, 0), "Ch01: Local Control Toggle"},
      {Pack(0xB0, 123, 0), "Ch01: All Notes Off"},
      {Pack(0xB0, 124, 0), "Ch01: Omni Off"},
      {Pack(0xB0, 125, 0), "Ch01: Omni On"},
      {Pack(0xB0, 126, 0), "Ch01: Mono On"},
      {Pack(0xB0, 127, 0), "Ch01: Poly On"},
      {Pack(0xC4, 12), "Ch05: Program Change 12"},
      {Pack(0xD0, 77), "Ch01: Channel Prs 77"},
      {Pack(0xE0, 0, 64), "Ch01: Pitch Bend 0"},
      {Pack(0xE1, 0, 0), "Ch02: Pitch Bend -8192"},
      {Pack(0xE0, 127, 127), "Ch01: Pitch Bend 8191"},
      {Pack(0x45, 1, 2), "Ch06: unknown status 20145"},
      {Pack(0xF0), "SysEx"},
      {Pack(0xF1), "Time Code Quarter Frame"},
      {Pack(0xF2), "Song Position Pointer"},
      {Pack(0xF3), "Song Select"},
      {Pack(0xF4), "undef Sys Common Msg 244"},
      {Pack(0xF5), "undef Sys Common Msg 245"},
      {Pack(0xF6), "Tune Request"},
      {Pack(0xF7), "End of Exclusive"},
      {Pack(0xF8), "Timing Clock"},
      {Pack(0xF9), "undef Sys Real-Time Msg 249"},
      {Pack(0xFA), "Start Sequence"},
      {Pack(0xFB), "Continue Sequence"},
      {Pack(0xFC), "Stop Sequence"},
      {Pack(0xFD), "undef Sys Real-Time Msg 253"},
      {Pack(0xFE), "Active Sensing"},
      {Pack(0xFF), "Reset"},
  };
  for (const Case& c : kaCase) EXPECT_EQ(MidiMessageInWords(c.uPacked), c.pszWords) << std::hex << c.uPacked;
}

TEST(HandOver, RecordRoundTripAndDamage) {
  std::vector<unsigned char> ab = EncodeHandOver(kHandOverCommandLine, "\"/a b/x.vantrel\"");
  ASSERT_EQ(ab.size(), 8u + 17u);
  EXPECT_EQ(ab[0], 1);
  EXPECT_EQ(ab[4], 17);  // the text and its terminating zero
  uint32_t uType = 0;
  std::string sText;
  // Every cut short of the whole record waits for more.
  for (size_t n = 0; n < ab.size(); ++n)
    EXPECT_EQ(DecodeHandOver(std::vector<unsigned char>(ab.begin(), ab.begin() + static_cast<long>(n)), &uType, &sText),
              HandOverParse::Incomplete)
        << n;
  ASSERT_EQ(DecodeHandOver(ab, &uType, &sText), HandOverParse::Complete);
  EXPECT_EQ(uType, 1u);
  EXPECT_EQ(sText, "\"/a b/x.vantrel\"");

  std::vector<unsigned char> abLong = ab;
  abLong.push_back(0);
  EXPECT_EQ(DecodeHandOver(abLong, &uType, &sText), HandOverParse::Bad);  // bytes beyond the record
  std::vector<unsigned char> abNoZero = ab;
  abNoZero.back() = 'x';
  EXPECT_EQ(DecodeHandOver(abNoZero, &uType, &sText), HandOverParse::Bad);
  std::vector<unsigned char> abHuge = {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
  EXPECT_EQ(DecodeHandOver(abHuge, &uType, &sText), HandOverParse::Bad);  // refused before waiting for 2 GB
  EXPECT_EQ(DecodeHandOver({1, 0, 0, 0, 0, 0, 0, 0}, &uType, &sText), HandOverParse::Bad);
  EXPECT_EQ(DecodeHandOver(EncodeHandOver(1, ""), &uType, &sText), HandOverParse::Complete);
  EXPECT_EQ(sText, "");
}

TEST(HandOver, TheExtensionChoosesTheAction) {
  struct Case {
    uint32_t uType;
    const char* pszText;
    HandOverAction action;
  };
  const Case kaCase[] = {
      {1, "/home/u/x.vantrel", HandOverAction::LoadPatch},
      {1, "\"/home/u/my patch.vantrel\"", HandOverAction::LoadPatch},
      {1, "/home/u/lib.vanpack", HandOverAction::OpenPackage},
      {1, "\"/home/u/my lib.vanpack\"", HandOverAction::OpenPackage},
      {1, "/home/u/notes.txt", HandOverAction::Ignore},
      {1, "\"/home/u/notes.txt\"", HandOverAction::Ignore},
      {1, "/home/u/x.vantrel.bak", HandOverAction::Ignore},
      {1, "/home/u/x.VANTREL", HandOverAction::Ignore},
      {1, "/home/u/noextension", HandOverAction::Ignore},
      {1, "", HandOverAction::Ignore},
      {2, "/home/u/x.vantrel", HandOverAction::UnexpectedType},
      {0, "/home/u/x.vantrel", HandOverAction::UnexpectedType},
  };
  for (const Case& c : kaCase)
    EXPECT_EQ(ClassifyHandOver(c.uType, c.pszText), c.action) << c.uType << " " << c.pszText;
}

TEST(HandOver, CommandLineIsAbsoluteAndQuotedWhenItHasSpaces) {
  std::string sCwd = fs::current_path().string();
  EXPECT_EQ(HandOverCommandLine(""), "");
  EXPECT_EQ(HandOverCommandLine("/tmp/x.vantrel"), "/tmp/x.vantrel");
  EXPECT_EQ(HandOverCommandLine("/tmp/a/../x.vantrel"), "/tmp/x.vantrel");
  EXPECT_EQ(HandOverCommandLine("sub/x.vantrel"), sCwd + "/sub/x.vantrel");
  EXPECT_EQ(HandOverCommandLine("/tmp/my patch.vantrel"), "\"/tmp/my patch.vantrel\"");
  EXPECT_EQ(HandOverCommandLine("\"/tmp/my patch.vanpack\""), "\"/tmp/my patch.vanpack\"");
  // What the receiver makes of it: the quoted form still ends in the extension and a quote.
  EXPECT_EQ(ClassifyHandOver(1, HandOverCommandLine("/tmp/my patch.vanpack")), HandOverAction::OpenPackage);
}

TEST(Start, InstallationIsTwoLevelsAboveTheExecutable) {
  EXPECT_EQ(InstallDirFromExecutable("/opt/vantrel/bin/vantrel-ide"), "/opt/vantrel");
  EXPECT_EQ(InstallDirFromExecutable("/bin/vantrel-ide"), "/");
  // A path that cannot be cut twice is an internal error, which ends the program.
  EXPECT_DEATH(InstallDirFromExecutable("vantrel-ide"), "cannot find backslash before binary name: vantrel-ide");
  EXPECT_DEATH(InstallDirFromExecutable("bin/vantrel-ide"), "cannot find backslash before binary directory: bin");
}

TEST(Start, DeveloperAccountNeedsBothNames) {
  struct Case {
    const char *pszUser, *pszDomain;
    bool bDeveloper;
  };
  const Case kaCase[] = {{kDeveloperUser, kDeveloperDomain, true},
                         {kDeveloperUser, nullptr, false},
                         {"someone", kDeveloperDomain, false},
                         {kDeveloperUser, "other", false}};
  std::string sUser = getenv("USERNAME") ? getenv("USERNAME") : "";
  for (const Case& c : kaCase) {
    setenv("USERNAME", c.pszUser, 1);
    if (c.pszDomain) setenv("USERDOMAIN", c.pszDomain, 1);
    else unsetenv("USERDOMAIN");
    EXPECT_EQ(IsDeveloperAccount(), c.bDeveloper) << c.pszUser << " " << (c.pszDomain ? c.pszDomain : "-");
  }
  unsetenv("USERDOMAIN");
  // Without USERNAME the login name stands in.
  unsetenv("USERNAME");
  setenv("USER", "login", 1);
  EnsureUserName();
  EXPECT_STREQ(getenv("USERNAME"), "login");
  setenv("USERNAME", sUser.c_str(), 1);
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(FileTypes, WrittenOnceThenLeftAlone) {
  fs::path dir = fs::path(testing::TempDir()) / ("ide_filetypes_" + std::to_string(getpid()));
  fs::remove_all(dir);
  std::string sInstall = "/opt/vantrel ide";
  ASSERT_EQ(RegisterFileTypes(dir.string(), sInstall), 3);
  fs::path desktop = dir / "applications/vantrel-ide.desktop", mime = dir / "mime/packages/vantrel.xml";
  std::string sDesktop = ReadText(desktop);
  EXPECT_NE(sDesktop.find("Exec=\"/opt/vantrel ide/bin/vantrel-ide\" %f\n"), std::string::npos) << sDesktop;
  EXPECT_NE(sDesktop.find("MimeType=text/x-vantrel;text/x-vanpack;"), std::string::npos);
  EXPECT_NE(sDesktop.find("Icon=vantrel\n"), std::string::npos);
  EXPECT_NE(ReadText(dir / "icons/hicolor/scalable/apps/vantrel.svg").find("<svg"), std::string::npos);
  std::string sMime = ReadText(mime);
  EXPECT_NE(sMime.find("<glob pattern=\"*.vantrel\"/>"), std::string::npos);
  EXPECT_NE(sMime.find("<sub-class-of type=\"text/plain\"/>"), std::string::npos);

  // Up to date: nothing is written (the files keep their times).
  fs::file_time_type tDesktop = fs::last_write_time(desktop), tMime = fs::last_write_time(mime);
  fs::last_write_time(desktop, tDesktop - std::chrono::hours(1));
  fs::last_write_time(mime, tMime - std::chrono::hours(1));
  EXPECT_EQ(RegisterFileTypes(dir.string(), sInstall), 0);
  EXPECT_EQ(fs::last_write_time(desktop), tDesktop - std::chrono::hours(1));
  EXPECT_EQ(fs::last_write_time(mime), tMime - std::chrono::hours(1));

  // Another installation, or an entry changed by hand, is written again; only what differs.
  EXPECT_EQ(RegisterFileTypes(dir.string(), "/elsewhere"), 1);
  EXPECT_NE(ReadText(desktop).find("Exec=\"/elsewhere/bin/vantrel-ide\" %f"), std::string::npos);
  EXPECT_EQ(fs::last_write_time(mime), tMime - std::chrono::hours(1));

  // The shared MIME database tools know the types after the refresh.
  if (system("command -v update-mime-database >/dev/null 2>&1") == 0) {
    EXPECT_TRUE(fs::exists(dir / "mime/mime.cache"));
  }
}

// The package installs the same files for its installation into the system's data folder; the
// program then leaves the home folder alone, but writes its own where they differ.
TEST(FileTypes, WhatTheSystemHasAlreadyIsNotCopiedHome) {
  fs::path dir = fs::path(testing::TempDir()) / ("ide_systemtypes_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::path system = dir / "usr/share", home = dir / "home/share";
  for (const FileTypeFile& file : FileTypeFiles("/opt/vantrel")) {
    fs::create_directories((system / file.sPath).parent_path());
    std::ofstream(system / file.sPath) << file.sContent;
  }
  setenv("XDG_DATA_DIRS", ("relative:" + (dir / "none").string() + ":" + system.string()).c_str(), 1);
  EXPECT_EQ(RegisterFileTypes(home.string(), "/opt/vantrel"), 0);
  EXPECT_FALSE(fs::exists(home));
  // Another installation (a portable copy) gets its own entry, which hides the system's.
  EXPECT_EQ(RegisterFileTypes(home.string(), "/home/me/vantrel"), 1);
  EXPECT_NE(ReadText(home / "applications/vantrel-ide.desktop").find("/home/me/vantrel/bin/vantrel-ide"), std::string::npos);
  unsetenv("XDG_DATA_DIRS");
  fs::remove_all(dir);
}

TEST(FileTypes, DesktopEntryPassesTheValidator) {
  if (system("command -v desktop-file-validate >/dev/null 2>&1") != 0) GTEST_SKIP() << "desktop-file-validate missing";
  // Not the machine's own data folders, where an installed package may hold the same entry.
  setenv("XDG_DATA_DIRS", "/nonexistent", 1);
  fs::path dir = fs::path(testing::TempDir()) / ("ide_validate_" + std::to_string(getpid()));
  fs::remove_all(dir);
  for (const char* pszInstall : {"/opt/vantrel", "/opt/odd $name \"quoted\" `x`\\y"}) {
    ASSERT_GE(RegisterFileTypes(dir.string(), pszInstall), 1);
    std::string sCommand = "desktop-file-validate '" + (dir / "applications/vantrel-ide.desktop").string() + "' 2>&1";
    FILE* ppipe = popen(sCommand.c_str(), "r");
    ASSERT_NE(ppipe, nullptr);
    std::string sOut;
    char ach[256];
    while (fgets(ach, sizeof ach, ppipe)) sOut += ach;
    EXPECT_EQ(pclose(ppipe), 0) << sOut;
    EXPECT_EQ(sOut, "") << pszInstall;
  }
}

TEST(FileTypes, UnwritableFolderIsReportedNotFatal) {
  // A data folder below a plain file can never be made, whoever runs the test.
  fs::path dir = fs::path(testing::TempDir()) / ("ide_blocked_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::ofstream(dir / "file") << "x";
  EXPECT_EQ(RegisterFileTypes((dir / "file/share").string(), "/opt/vantrel"), -1);
}

}  // namespace
