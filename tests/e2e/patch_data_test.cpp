// Patches that carry their own expectations, checked through the vantrel command.
//
// Every tests/data/patches/*.vantrel file is one test. Its comment lines say what must hold:
//   ; expect error LINE MESSAGE      vantrel check reports MESSAGE at LINE ("-" for no line);
//                                    LINE may be FILE:LINE for a line of a sub-patch or package;
//                                    {install} in FILE and MESSAGE stands for the installation
//                                    folder, {patch} in MESSAGE for the patch's own path
//   ; expect clean                   vantrel check prints nothing and accepts the patch
//   ; expect accepted                vantrel check accepts the patch (exit 0), warnings or not
//   ; expect refused                 vantrel check refuses the patch (exit 1)
//   ; expect messages N              vantrel check prints exactly N diagnostics (nothing else is blamed)
//   ; expect class MODULE:VAR L      vantrel dump shows the variable with class letter L
//   ; expect absent MODULE:VAR       vantrel dump has no record of the variable
//   ; expect compiled MODULE:VAR F   vantrel dump shows the variable's formula, as compiled, as F
//   ; render ARGS                    vantrel render PATCH -o OUT.wav --float ARGS (one per file)
//   ; expect pitch HZ [FROM TO]      the rendered first channel has this fundamental (0.3 %)
//   ; expect peak MIN MAX [FROM TO]  its largest absolute value lies in [MIN, MAX]
//   ; expect silent FROM [TO]        every sample in the span is below 1e-4
//   ; expect stereo-differs          the two channels are not identical
// FROM and TO are seconds of the render. Whatever a patch holds, the diagnostics reach the
// terminal without raw control bytes. Everything runs in the test installation
// tests/data/install, whose package and patch folders hold the packages and sub-patches.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "run_vantrel.h"
#include "test_signal.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> PatchFiles() {
  std::vector<std::string> as;
  fs::path dir = fs::path(VANTREL_TEST_DATA) / "patches";
  if (fs::exists(dir))
    for (const auto& entry : fs::directory_iterator(dir))
      if (entry.path().extension() == ".vantrel") as.push_back(entry.path().filename().string());
  std::sort(as.begin(), as.end());
  if (as.empty()) as.push_back("(none)");
  return as;
}

struct Audio {
  int nChannels = 0, iRate = 0;
  std::vector<float> af;  // interleaved
  float At(long iFrame, int iChannel) const { return af[static_cast<size_t>(iFrame * nChannels + iChannel)]; }
  long Frames() const { return nChannels ? static_cast<long>(af.size()) / nChannels : 0; }
};

bool ReadWav(const std::string& sPath, Audio* paudio) {
  SF_INFO info = {};
  SNDFILE* psf = sf_open(sPath.c_str(), SFM_READ, &info);
  if (!psf) return false;
  paudio->nChannels = info.channels;
  paudio->iRate = info.samplerate;
  paudio->af.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
  sf_readf_float(psf, paudio->af.data(), info.frames);
  sf_close(psf);
  return true;
}

// Fundamental from positive-going zero crossings of the first channel, interpolated within the
// sample.
double Pitch(const Audio& a, double dFrom, double dTo) {
  long i0 = static_cast<long>(dFrom * a.iRate), i1 = std::min(a.Frames(), static_cast<long>(dTo * a.iRate));
  return CrossingFrequencyOf([&](long i) { return static_cast<double>(a.At(i, 0)); }, i0, i1, a.iRate);
}

double Peak(const Audio& a, double dFrom, double dTo) {
  double dPeak = 0;
  long i1 = std::min(a.Frames(), static_cast<long>(dTo * a.iRate));
  for (long i = static_cast<long>(dFrom * a.iRate); i < i1; ++i)
    for (int c = 0; c < a.nChannels; ++c) dPeak = std::max(dPeak, static_cast<double>(std::fabs(a.At(i, c))));
  return dPeak;
}

// Replaces every {NAME} of the text with its value.
std::string Expanded(std::string s, const std::vector<std::pair<std::string, std::string>>& aReplace) {
  for (const auto& [sName, sValue] : aReplace)
    for (size_t i; (i = s.find(sName)) != std::string::npos;) s.replace(i, sName.size(), sValue);
  return s;
}

// A name as a regular expression that matches it literally (Tone$2, Result$2).
std::string Escaped(const std::string& s) {
  std::string sOut;
  for (char ch : s) {
    if (strchr("\\^$.|?*+()[]{}", ch)) sOut += '\\';
    sOut += ch;
  }
  return sOut;
}

class PatchData : public testing::TestWithParam<std::string> {};

}  // namespace

TEST_P(PatchData, MeetsItsExpectations) {
  if (GetParam() == "(none)") GTEST_SKIP() << "no patches in tests/data/patches";
  std::string sPath = DataPath("patches/" + GetParam());
  std::ifstream in(sPath);
  std::vector<std::string> asExpect;
  std::string sRenderArgs;
  bool bRender = false;
  for (std::string sLine; std::getline(in, sLine);) {
    if (sLine.rfind("; expect ", 0) == 0) asExpect.push_back(sLine.substr(9));
    if (sLine.rfind("; render", 0) == 0) {
      bRender = true;
      sRenderArgs = sLine.substr(8);
    }
  }
  ASSERT_FALSE(asExpect.empty()) << "a test patch must say what it expects";

  // The patches run in a test installation with its own packages and sub-patches.
  std::string sInstall = " --install '" + DataPath("install") + "'";
  VantrelRun check = RunVantrel("check '" + sPath + "'" + sInstall);
  for (char ch : check.sErr)
    ASSERT_FALSE((static_cast<unsigned char>(ch) < 0x20 && ch != '\n' && ch != '\t') || ch == 0x7f)
        << "a raw control byte reached the terminal:\n" << check.sErr;
  const std::vector<std::pair<std::string, std::string>> aReplace = {{"{install}", DataPath("install")},
                                                                     {"{patch}", sPath}};
  VantrelRun dump;
  bool bDumped = false;
  Audio audio;
  bool bRendered = false;
  for (const std::string& sExpect : asExpect) {
    std::istringstream ss(sExpect);
    std::string sKind;
    ss >> sKind;
    if (sKind == "error") {
      std::string sLine, sMessage, sFile = sPath;
      ss >> sLine;
      std::getline(ss >> std::ws, sMessage);
      if (size_t iColon = sLine.rfind(':'); iColon != std::string::npos) {
        sFile = Expanded(sLine.substr(0, iColon), aReplace);
        sLine = sLine.substr(iColon + 1);
      }
      std::string sWant = sFile + (sLine == "-" ? "" : ":" + sLine) + ": " + Expanded(sMessage, aReplace);
      EXPECT_NE(check.sErr.find(sWant + "\n"), std::string::npos) << "want: " << sWant << "\ngot:\n" << check.sErr;
    } else if (sKind == "clean") {
      EXPECT_EQ(check.sErr, "");
      EXPECT_EQ(check.iExit, 0);
    } else if (sKind == "accepted") {
      EXPECT_EQ(check.iExit, 0) << check.sErr;
    } else if (sKind == "refused") {
      EXPECT_EQ(check.iExit, 1) << check.sErr;
    } else if (sKind == "messages") {
      size_t nWant = 0;
      ss >> nWant;
      EXPECT_EQ(static_cast<size_t>(std::count(check.sErr.begin(), check.sErr.end(), '\n')), nWant) << check.sErr;
    } else if (sKind == "class" || sKind == "absent" || sKind == "compiled") {
      if (!bDumped) {
        dump = RunVantrel("dump '" + sPath + "'" + sInstall);
        bDumped = true;
      }
      std::string sVar, sLetter;
      ss >> sVar;
      std::getline(ss >> std::ws, sLetter);
      while (!sLetter.empty() && isspace(static_cast<unsigned char>(sLetter.back()))) sLetter.pop_back();
      size_t iColon = sVar.find(':');
      std::string sModule = sVar.substr(0, iColon), sName = sVar.substr(iColon + 1);
      std::string sRow = "\n *-?\\d+ +-?\\d+ +-?\\d+ +-?\\d+ (PP|  ) ?-?\\d+ " + Escaped(sModule) +
                         " +([ucPVNS]) " + Escaped(sName) + " ";
      std::regex re(sRow);
      std::smatch m;
      if (sKind == "compiled") {
        // The last column of the row is the formula as compiled (an audio-rate mark may follow).
        EXPECT_TRUE(std::regex_search(dump.sOut, m, std::regex(sRow + "[^\\n]* " + Escaped(sLetter) + " *(AUDIO *)?\n")))
            << sVar << " is not compiled as " << sLetter << ":\n" << dump.sOut << dump.sErr;
      } else if (sKind == "absent") {
        EXPECT_FALSE(std::regex_search(dump.sOut, m, re)) << sVar << " should have been removed";
      } else if (std::regex_search(dump.sOut, m, re)) {
        EXPECT_EQ(m[2].str(), sLetter) << sVar;
      } else {
        ADD_FAILURE() << sVar << " not in the dump:\n" << dump.sOut << dump.sErr;
      }
    } else {
      ASSERT_TRUE(bRender) << "\"" << sExpect << "\" needs a ; render line";
      if (!bRendered) {
        std::string sOut = testing::TempDir() + "/" + GetParam() + ".wav";
        VantrelRun r = RunVantrel("render '" + sPath + "' -o '" + sOut + "' --float" + sInstall + sRenderArgs);
        ASSERT_EQ(r.iExit, 0) << r.sErr;
        ASSERT_TRUE(ReadWav(sOut, &audio));
        fs::remove(sOut);
        bRendered = true;
      }
      double dFrom = 0, dTo = 1e9;
      if (sKind == "pitch") {
        double dHz;
        ss >> dHz;
        ss >> dFrom >> dTo;
        EXPECT_NEAR(Pitch(audio, dFrom, dTo), dHz, dHz * 0.003) << sExpect;
      } else if (sKind == "peak") {
        double dMin, dMax;
        ss >> dMin >> dMax;
        ss >> dFrom >> dTo;
        double d = Peak(audio, dFrom, dTo);
        EXPECT_GE(d, dMin) << sExpect;
        EXPECT_LE(d, dMax) << sExpect;
      } else if (sKind == "silent") {
        ss >> dFrom;
        ss >> dTo;
        EXPECT_LT(Peak(audio, dFrom, dTo), 1e-4) << sExpect;
      } else if (sKind == "stereo-differs") {
        ASSERT_EQ(audio.nChannels, 2);
        bool bDiffers = false;
        for (long i = 0; i < audio.Frames() && !bDiffers; ++i) bDiffers = audio.At(i, 0) != audio.At(i, 1);
        EXPECT_TRUE(bDiffers);
      } else {
        ADD_FAILURE() << "unknown expectation: " << sExpect;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Patches, PatchData, testing::ValuesIn(PatchFiles()), FileTestName);
