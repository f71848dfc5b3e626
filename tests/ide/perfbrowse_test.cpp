// The performance keyboard without a window: layout files into the key table, centring, held
// keys, keys playing and releasing notes on a real patch; the patch browser's folder listing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/appcore.h"
#include "enginecore/controllers.h"
#include "formula/errorlist.h"
#include "foundation/akconfig.h"
#include "foundation/akstatus.h"
#include "ide/browserlist.h"
#include "ide/keylayout.h"
#include "ide/perfplay.h"
#include "patch/patch.h"
#include "patch/structural.h"
#include "patch/voice.h"

namespace fs = std::filesystem;

namespace {

// The warnings logged while it lives.
class WarnCatcher {
 public:
  WarnCatcher() {
    AKSSetCallback(
        AKSWarn,
        [](int, const char*, int, const char* psz, const char*, void* pv) { static_cast<WarnCatcher*>(pv)->as.push_back(psz); },
        this);
  }
  ~WarnCatcher() { AKSSetCallback(AKSWarn, nullptr, nullptr); }
  std::vector<std::string> as;
};

AKConfig_T* ConfigOf(const std::string& sText) {
  FILE* pfile = fmemopen(const_cast<char*>(sText.data()), sText.size(), "rb");
  AKConfig_T* pconf = AKConfigReadStream("layout.ini", pfile, AKConfigText);
  fclose(pfile);
  return pconf;
}

// The table after reading a layout text, with the warnings it gave.
struct Layout {
  explicit Layout(const std::string& sText) : akey(kKSKeyCount) {
    WarnCatcher warn;
    AKConfig_T* pconf = ConfigOf(sText);
    nFilled = KSKeysFromConfig(pconf, "layout.ini", akey.data());
    AKConfigFree(pconf);
    asWarn = warn.as;
  }
  std::vector<KSKeyEntry> akey;
  int nFilled = 0;
  std::vector<std::string> asWarn;
};

TEST(KeyLayout, KeyNamesBecomeCodesOrAreRefused) {
  Layout layout(
      "[G]\n[G.A]\nNote = 1\n[G.a]\nNote = 2\n[G.0x20]\nNote = 3\n[G.040]\nNote = 4\n[G.9]\nNote = 5\n[G.255]\nNote = 6\n"
      "[G.300]\nNote = 7\n[G.00]\nNote = 8\n[G.F1]\nNote = 9\n[G.-5]\nNote = 10\n[G.256]\nNote = 11\n");
  // "040" is octal, so it lands on the same code as "0x20" and replaces it.
  std::map<int, int> mapNoteByCode;
  for (int i = 0; i < kKSKeyCount; ++i)
    if (layout.akey[i].bFilled) mapNoteByCode[i] = layout.akey[i].iNote;
  EXPECT_EQ(mapNoteByCode, (std::map<int, int>{{65, 1}, {97, 2}, {32, 4}, {57, 5}, {255, 6}}));
  const char* apszRefused[] = {"300", "00", "F1", "-5"};
  ASSERT_EQ(layout.asWarn.size(), 5u);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(layout.asWarn[i], std::string("cannot process layout.ini entry [G.") + apszRefused[i] +
                                    "]; expected either single character or number between 1 and 256 inclusive");
  // 256 passes the check, but events carry eight bits and the table ends at 255: not written.
  EXPECT_EQ(layout.asWarn[4], "cannot process layout.ini entry [G.256]; key code 256 has no key");
  EXPECT_EQ(layout.nFilled, 6);
}

TEST(KeyLayout, GroupsGiveColoursAndChannelAndKeysTheirDefaults) {
  Layout layout(
      "[Plain]\n[Plain.A]\nX = 5\n"
      "[Coloured]\nBackground = 0xFF8000\nText = 255\nBorder = 010\nChannel = 0\n"
      "[Coloured.B]\nLabel = C4\nFunction = b\nX = 1.5\nY = 2\nWidth = 40\nHeight = 0\nNote = 60\n"
      "Velocity = 100\nPolyPrs = 3\nRelVel = 20\n");
  const KSKeyEntry& keyA = layout.akey['A'];
  EXPECT_EQ(keyA.sLabel, "A");
  EXPECT_EQ(keyA.sFunction, "");
  EXPECT_EQ(keyA.dX, 5);
  EXPECT_EQ(keyA.dY, 0);
  EXPECT_EQ(keyA.dWidth, 31);
  EXPECT_EQ(keyA.dHeight, 31);
  EXPECT_EQ(keyA.iNote, -1);  // a key without Note plays nothing
  EXPECT_EQ(keyA.dVelocity, 64);
  EXPECT_EQ(keyA.dPolyPressure, 64);
  EXPECT_EQ(keyA.dRelVelocity, 64);
  EXPECT_EQ(keyA.iChannel, 1);
  EXPECT_EQ(keyA.colorBackground, (KSColor{0x0F, 0xFF, 0xFF}));
  EXPECT_EQ(keyA.colorText, (KSColor{0, 0, 0}));
  EXPECT_EQ(keyA.colorBorder, (KSColor{0, 0, 0}));

  const KSKeyEntry& keyB = layout.akey['B'];
  EXPECT_EQ(keyB.sLabel, "C4");
  EXPECT_EQ(keyB.sFunction, "b");
  EXPECT_EQ(keyB.dX, 1.5);
  EXPECT_EQ(keyB.dHeight, 0);
  EXPECT_EQ(keyB.iNote, 60);
  EXPECT_EQ(keyB.dVelocity, 100);
  EXPECT_EQ(keyB.dPolyPressure, 3);
  EXPECT_EQ(keyB.dRelVelocity, 20);
  EXPECT_EQ(keyB.iChannel, 0);
  EXPECT_EQ(keyB.colorBackground, (KSColor{0xFF, 0x80, 0x00}));
  EXPECT_EQ(keyB.colorText, (KSColor{0, 0, 255}));
  EXPECT_EQ(keyB.colorBorder, (KSColor{0, 0, 8}));  // a leading 0 is octal
  EXPECT_TRUE(layout.asWarn.empty());
}

TEST(KeyLayout, ALaterKeyOfTheSameCodeReplacesTheEarlierOne) {
  Layout layout("[One]\nChannel = 3\n[One.A]\nNote = 60\nLabel = first\n[Two]\n[Two.65]\nX = 7\n");
  const KSKeyEntry& key = layout.akey['A'];
  EXPECT_EQ(key.sLabel, "65");
  EXPECT_EQ(key.iNote, -1);
  EXPECT_EQ(key.dX, 7);
  EXPECT_EQ(key.iChannel, 1);
}

TEST(KeyLayout, AMissingFileIsReportedAndLeavesTheTableEmpty) {
  std::vector<KSKeyEntry> akey(kKSKeyCount);
  WarnCatcher warn;
  EXPECT_EQ(KSReadKeyLayout("/nonexistent/InputAction.ini", akey.data()), -1);
  EXPECT_EQ(warn.as, std::vector<std::string>{"cannot read keyboard layouts \"/nonexistent/InputAction.ini\""});
  for (const KSKeyEntry& key : akey) EXPECT_FALSE(key.bFilled);
}

TEST(KeyLayout, KeysAreCentredAsABlockLeavingOutKeysWithoutSize) {
  std::vector<KSKeyEntry> akey(kKSKeyCount);
  auto Key = [&](int i, double dX, double dY, double dWidth, double dHeight) {
    akey[i].dX = dX, akey[i].dY = dY, akey[i].dWidth = dWidth, akey[i].dHeight = dHeight;
  };
  EXPECT_EQ(KSCentreKeys(akey.data(), kKSKeyCount, 100, 50).dX, 0);  // no key at all
  Key(10, 20, 5, 10, 10);
  Key(11, 50, 15, 10, 10);  // the block: x 20 to 60, y 5 to 25
  Key(12, -500, -500, 0, 30);
  Key(13, 900, 900, 30, 0);
  KSKeyOffset offset = KSCentreKeys(akey.data(), kKSKeyCount, 100, 50);
  EXPECT_EQ(offset.dX, (100 - 40) / 2.0 - 20);
  EXPECT_EQ(offset.dY, (50 - 20) / 2.0 - 5);
}

TEST(KeyLayout, RepeatsAreToldApartFromPresses) {
  const KSEvent down{KSEventKeyDown, 65, 0, 0}, up{KSEventKeyUp, 65, 0, 0}, downB{KSEventKeyDown, 66, 0, 0};
  using Events = std::vector<KSEvent>;
  KSKeysDown keys;
  EXPECT_EQ(keys.Press(65, 100), Events{down});
  EXPECT_EQ(keys.Press(65, 150), Events{});  // a press of a key down is a repeat
  // A repeat split into a release and a press of one moment: both dropped.
  EXPECT_TRUE(keys.Release(65, 700));
  EXPECT_EQ(keys.Press(65, 700), Events{});
  EXPECT_EQ(keys.Settle(), Events{});
  // A real release, then a real press of another moment before the release settled.
  EXPECT_TRUE(keys.Release(65, 800));
  EXPECT_FALSE(keys.Release(65, 800));
  EXPECT_EQ(keys.Press(65, 830), (Events{up, down}));
  // A release that settles.
  EXPECT_TRUE(keys.Release(65, 900));
  EXPECT_EQ(keys.Settle(), Events{up});
  EXPECT_EQ(keys.Settle(), Events{});
  EXPECT_FALSE(keys.Release(65, 950));  // not down
  // Keys beyond the table are never held.
  for (int iKey : {-1, kKSKeyCount}) {
    EXPECT_EQ(keys.Press(iKey, 1000), Events{});
    EXPECT_FALSE(keys.Release(iKey, 1000));
  }
  // Leaving: every key held or waiting is released.
  EXPECT_EQ(keys.Press(65, 1100), Events{down});
  EXPECT_EQ(keys.Press(66, 1100), Events{downB});
  EXPECT_TRUE(keys.Release(66, 1200));
  EXPECT_EQ(keys.ReleaseAll(), (Events{up, {KSEventKeyUp, 66, 0, 0}}));
  EXPECT_EQ(keys.ReleaseAll(), Events{});
  EXPECT_EQ(keys.Press(66, 1300), Events{downB});
}

// The shipped layout: an octave and a half from C4, white keys on the home row and black keys
// on the row above, all on the patch the program installs, each labelled with its note's name.
TEST(KeyLayout, TheShippedLayoutIsAPianoOctaveAndAHalf) {
  std::vector<KSKeyEntry> akey(kKSKeyCount);
  WarnCatcher warn;
  ASSERT_EQ(KSReadKeyLayout((std::string(VANTREL_STAGE) + "/config/InputAction.ini").c_str(), akey.data()), 0);
  EXPECT_TRUE(warn.as.empty());
  const char* pszWhite = "ASDFGHJKL\xBA\xDE";  // ; and ' by their virtual keys
  const char* pszBlack = "WETYUOP";
  std::set<int> setNote;
  std::vector<int> aiWhite, aiBlack;
  for (int i = 0; i < kKSKeyCount; ++i) {
    const KSKeyEntry& key = akey[i];
    if (!key.bFilled) continue;
    EXPECT_EQ(key.iChannel, 0) << i;
    EXPECT_TRUE(setNote.insert(key.iNote).second) << "note " << key.iNote << " twice";
    // "NoteDownC#4" names note 61 in the controller space.
    EXPECT_EQ("NoteDown" + key.sLabel, ControllerName(ControllerNoteDownFirst + key.iNote)) << i;
    bool bSharp = key.sLabel.find('#') != std::string::npos;
    (bSharp ? aiBlack : aiWhite).push_back(i);
  }
  EXPECT_EQ(setNote.size(), 18u);
  EXPECT_EQ(*setNote.begin(), 60);
  EXPECT_EQ(*setNote.rbegin(), 77);
  auto Codes = [](const char* psz) {
    std::set<int> set;
    for (; *psz; ++psz) set.insert(static_cast<unsigned char>(*psz));
    return set;
  };
  EXPECT_EQ(std::set<int>(aiWhite.begin(), aiWhite.end()), Codes(pszWhite));
  EXPECT_EQ(std::set<int>(aiBlack.begin(), aiBlack.end()), Codes(pszBlack));
  // White keys rise in pitch left to right; every black key lies above, straddling the two white
  // keys whose notes it sits between; no two keys overlap.
  for (int iBlack : aiBlack) {
    const KSKeyEntry& black = akey[iBlack];
    int nBelow = 0;
    for (int iWhite : aiWhite) {
      const KSKeyEntry& white = akey[iWhite];
      EXPECT_LE(black.dY + black.dHeight, white.dY);
      bool bUnder = white.dX < black.dX + black.dWidth && black.dX < white.dX + white.dWidth;
      if (bUnder) {
        ++nBelow;
        EXPECT_EQ(std::abs(white.iNote - black.iNote), 1) << black.sLabel << " over " << white.sLabel;
      }
    }
    EXPECT_EQ(nBelow, 2) << black.sLabel;
  }
  for (int i : aiWhite)
    for (int j : aiWhite)
      if (akey[i].iNote < akey[j].iNote) {
        EXPECT_LE(akey[i].dX + akey[i].dWidth, akey[j].dX);
      }
}

// Keys playing the sine of the IDE's tests on a real application core (the engine does not run;
// the test renders the patch itself).
class PerfPlayerTest : public testing::Test {
 protected:
  void SetUp() override {
    pcore = std::make_unique<AppCore>(VANTREL_STAGE);
    ASSERT_EQ(pcore->LoadPatch(kSine.c_str(), 0, false, 0, nullptr), 0);
    ErrorList::Get()->Clear();
    akey.resize(kKSKeyCount);
    Layout layout(
        "[Main]\nChannel = 0\n[Main.A]\nNote = 60\nVelocity = 100\nRelVel = 20\n[Main.B]\nX = 1\n"
        "[Far]\nChannel = 5\n[Far.C]\nNote = 62\n"
        "[Default]\n[Default.D]\nNote = 64\n");
    akey = layout.akey;
    pplayer = std::make_unique<PerfPlayer>(akey.data(), pcore->Slots());
  }
  Patch* Installed() { return pcore->Slots()[0].ppatch; }
  // Renders up to nFrames frames, stopping early when no voice sounds.
  void Render(int nFrames) {
    int nChannels = pcore->Engine()->nChannels;
    std::vector<double> adFrame(static_cast<size_t>(nChannels), 0.0);
    for (int i = 0; i < nFrames && pcore->SoundingVoices() > 0; ++i) Installed()->RenderFrame(adFrame.data(), nChannels);
  }
  void Press(int iKey) { pplayer->OnEvent({KSEventKeyDown, iKey, 0, 0}); }
  void Release(int iKey) { pplayer->OnEvent({KSEventKeyUp, iKey, 0, 0}); }

  const std::string kSine = std::string(VANTREL_TEST_DATA) + "/ide/sine.vantrel";
  // Far more than the default gain envelope's release takes at any usual rate: 10 s at 44.1 kHz.
  static constexpr int kReleaseFrames = 441000;
  std::unique_ptr<AppCore> pcore;
  std::vector<KSKeyEntry> akey;
  std::unique_ptr<PerfPlayer> pplayer;
};

TEST_F(PerfPlayerTest, AKeyStartsItsNoteOnceAndItsReleaseEndsIt) {
  Press('A');
  ASSERT_EQ(pcore->SoundingVoices(), 1);
  Voice* pvoice = Installed()->apvoiceActive.front();
  EXPECT_EQ(pvoice->NoteNumber(), 60);
  // Velocities are MIDI-scale in the layout and reach the patch as MIDI's do.
  EXPECT_DOUBLE_EQ(pvoice->pmodNote->v.dVelocity, 100.0 / 127);
  Press('A');  // a second press without a release starts nothing
  EXPECT_EQ(pcore->SoundingVoices(), 1);
  Render(1000);
  EXPECT_FALSE(pvoice->Released());
  Release('A');
  EXPECT_TRUE(pvoice->Released());
  EXPECT_DOUBLE_EQ(pvoice->pmodNote->v.dRelVelocity, 20.0 / 127);
  Render(kReleaseFrames);
  EXPECT_EQ(pcore->SoundingVoices(), 0);
  // The key can play again.
  Press('A');
  EXPECT_EQ(pcore->SoundingVoices(), 1);
  EXPECT_EQ(ErrorList::Get()->anode.N(), 0);
}

TEST_F(PerfPlayerTest, KeysWithoutANoteOrAPatchPlayNothingAndReportNothing) {
  for (int iKey : {'B', 'C', 'D', 'Z'}) Press(iKey);
  EXPECT_EQ(pcore->SoundingVoices(), 0);
  for (int iKey : {'B', 'C', 'D', 'Z'}) Release(iKey);
  for (int iKey : {-1, kKSKeyCount, 100000}) {
    pplayer->OnEvent({KSEventKeyDown, iKey, 0, 0});
    pplayer->OnEvent({KSEventKeyUp, iKey, 0, 0});
  }
  pplayer->OnEvent({KSEventLeftDown, 0, 0, 0});
  pplayer->OnEvent({KSEventMouseMove, 0, 0.5, 0.5});
  EXPECT_EQ(pcore->SoundingVoices(), 0);
  EXPECT_EQ(ErrorList::Get()->anode.N(), 0);
}

TEST_F(PerfPlayerTest, AReleaseAfterTheSlotGotANewPatchTouchesOnlyTheNewPatch) {
  Press('A');
  ASSERT_EQ(pcore->SoundingVoices(), 1);
  ASSERT_EQ(pcore->LoadPatch(kSine.c_str(), 0, false, 0, nullptr), 0);  // the old patch is gone
  Installed()->NoteOn(60, 0.5);
  Release('A');  // releases note 60 of the patch installed now
  ASSERT_EQ(pcore->SoundingVoices(), 1);
  EXPECT_TRUE(Installed()->apvoiceActive.front()->Released());
  Press('A');
  EXPECT_EQ(pcore->SoundingVoices(), 1);  // a released voice is taken again
}

TEST_F(PerfPlayerTest, ReleaseAllEndsEveryHeldKey) {
  akey['E'] = akey['A'];
  akey['E'].iNote = 67;
  Press('A');
  Press('E');
  ASSERT_EQ(pcore->SoundingVoices(), 2);
  pplayer->ReleaseAll();
  for (Voice* pvoice : Installed()->apvoiceActive) EXPECT_TRUE(pvoice->Released());
  Render(kReleaseFrames);
  EXPECT_EQ(pcore->SoundingVoices(), 0);
}

TEST(PerfVelocity, MidiScaleIsAFractionAndStaysInMidisRange) {
  EXPECT_DOUBLE_EQ(PerfVelocity(64), 64.0 / 127);
  EXPECT_DOUBLE_EQ(PerfVelocity(127), 1);
  EXPECT_DOUBLE_EQ(PerfVelocity(500), 1);
  EXPECT_DOUBLE_EQ(PerfVelocity(-3), 0);
}

// A folder of the names the listing rules must tell apart.
class BrowserListTest : public testing::Test {
 protected:
  void SetUp() override {
    dir = fs::path(testing::TempDir()) / ("browserlist_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "Folder.vantrel");
    for (const char* psz : {"Bass.vantrel", "Bass.vantrel.bak", "Lead.VANTREL", "Pad.Vantrel", "Zither.vantrel",
                            "apple.vantrel", "x.vantrel.vantrel", ".vantrel", "README.txt", "vantrel", "_under.vantrel",
                            "\xC3\xA9t\xC3\xA9.vantrel"})
      std::ofstream(dir / psz) << "; a patch\n";
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

TEST_F(BrowserListTest, OnlyFilesEndingInTheFirstExtensionInByteOrder) {
  std::vector<std::string> asName;
  int iError = 0;
  ASSERT_EQ(BrowserListFolder(dir.string(), &asName, &iError), 0);
  // Capitals come before small letters, "_" between them, and bytes above 127 last.
  EXPECT_EQ(asName, (std::vector<std::string>{"Bass", "Zither", "_under", "apple", "\xC3\xA9t\xC3\xA9"}));
}

TEST_F(BrowserListTest, AFolderThatCannotBeReadLeavesTheListAsItWas) {
  std::vector<std::string> asName = {"kept"};
  int iError = 0;
  std::string sMissing = (dir / "missing").string();
  EXPECT_EQ(BrowserListFolder(sMissing, &asName, &iError), -1);
  EXPECT_EQ(iError, ENOENT);
  EXPECT_EQ(asName, std::vector<std::string>{"kept"});
  EXPECT_EQ(BrowserCannotReadText(sMissing, iError), "Cannot read \"" + sMissing + "/*\": " + std::to_string(ENOENT));
  EXPECT_STREQ(kBrowserCannotReadTitle, "Cannot Read Directory");
}

TEST(BrowserList, PatchNames) {
  struct Case {
    const char* pszFile;
    const char* pszName;  // null: not listed
  };
  const Case kacase[] = {{"Bass.vantrel", "Bass"},        {"Bass.vantrel.bak", nullptr}, {"Bass.VANTREL", nullptr},
                         {"a.vantrel.vantrel", nullptr},  {".vantrel", nullptr},         {"a.b.vantrel", "a.b"},
                         {"vantrel", nullptr},            {"Bass.vantre", nullptr},      {"x .vantrel", "x "}};
  for (const Case& c : kacase) {
    std::string sName = "unchanged";
    EXPECT_EQ(BrowserPatchName(c.pszFile, &sName), c.pszName != nullptr) << c.pszFile;
    EXPECT_EQ(sName, c.pszName ? c.pszName : "unchanged") << c.pszFile;
  }
}

// The four shipped collections, in tab order, under the installation; each row's file exists.
TEST(BrowserList, TheShippedCollections) {
  const char* apszTab[] = {"Tutorial", "Demo", "1980sDigiWave", "User"};
  for (int i = 0; i < kBrowserCollections; ++i) {
    EXPECT_STREQ(kabrowserCollection[i].pszTab, apszTab[i]);
    std::string sFolder = BrowserCollectionFolder(VANTREL_STAGE, i);
    EXPECT_EQ(sFolder, std::string(VANTREL_STAGE) + "/patch/" + kabrowserCollection[i].pszFolder);
    std::vector<std::string> asName;
    int iError = 0;
    ASSERT_EQ(BrowserListFolder(sFolder, &asName, &iError), 0) << sFolder;
    if (i < 3) {
      EXPECT_GE(asName.size(), 5u) << sFolder;
    }
    for (const std::string& sName : asName) EXPECT_TRUE(fs::is_regular_file(BrowserPatchPath(sFolder, sName))) << sName;
  }
  EXPECT_EQ(BrowserCollectionFolder(VANTREL_STAGE, 4), "");
  EXPECT_EQ(BrowserCollectionFolder(VANTREL_STAGE, -1), "");
}

}  // namespace
