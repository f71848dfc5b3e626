// The manual in docs/ cannot rot: its generated tables match the program, every module type has
// its page, every example patch compiles cleanly and sounds, every function example evaluates.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "run_vantrel.h"

namespace fs = std::filesystem;

namespace {

const fs::path kDocs = VANTREL_DOCS;

std::vector<fs::path> Pages() {
  std::vector<fs::path> apath;
  for (const auto& entry : fs::recursive_directory_iterator(kDocs))
    if (entry.path().extension() == ".md") apath.push_back(entry.path());
  std::sort(apath.begin(), apath.end());
  return apath;
}

std::string Quote(const std::string& s) {
  std::string sQuoted = "'";
  for (char c : s) sQuoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return sQuoted + "'";
}

// The texts between each opening mark and the closing mark after it. (Searched by hand: the
// standard regex library recurses once per character and would exhaust the stack on a page.)
std::vector<std::string> Between(const std::string& sPage, const std::string& sOpen, const std::string& sClose) {
  std::vector<std::string> as;
  for (size_t i = sPage.find(sOpen); i != std::string::npos; i = sPage.find(sOpen, i)) {
    size_t iStart = i + sOpen.size(), iEnd = sPage.find(sClose, iStart);
    if (iEnd == std::string::npos) break;
    as.push_back(sPage.substr(iStart, iEnd - iStart));
    i = iEnd + sClose.size();
  }
  return as;
}

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> as;
  std::stringstream ss(s);
  for (std::string sLine; std::getline(ss, sLine);) as.push_back(sLine);
  return as;
}

// The fenced blocks of a page whose info string is exactly "vantrel".
std::vector<std::string> ExamplePatches(const std::string& sPage) { return Between(sPage, "```vantrel\n", "```"); }

// The largest magnitude of a rendered file; -1 when it cannot be read, NaN when a sample is not finite.
double Peak(const std::string& sPath) {
  SF_INFO info{};
  SNDFILE* psf = sf_open(sPath.c_str(), SFM_READ, &info);
  if (!psf) return -1;
  std::vector<float> af(static_cast<size_t>(info.frames * info.channels));
  sf_readf_float(psf, af.data(), info.frames);
  sf_close(psf);
  double dPeak = 0;
  for (float f : af) {
    if (!std::isfinite(f)) return NAN;
    dPeak = std::max(dPeak, static_cast<double>(std::fabs(f)));
  }
  return dPeak;
}

// Compiles a patch text (no message allowed) and renders a short phrase of it into a float file.
void ExpectCompilesAndSounds(const std::string& sPatch, const std::string& sWhere, bool bSound = true) {
  static int iRun = 0;
  fs::path dir = fs::path(testing::TempDir()) / ("vantrel_manual_" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::path patch = dir / ("example" + std::to_string(iRun++) + ".vantrel");
  std::ofstream(patch) << sPatch;
  VantrelRun r = RunVantrel("check " + Quote(patch.string()));
  EXPECT_EQ(r.iExit, 0) << sWhere << "\n" << sPatch << r.sErr;
  EXPECT_EQ(r.sErr, "") << sWhere << ": an example compiles without a message\n" << sPatch;
  if (!bSound) return;
  fs::path wav = dir / "example.wav";
  r = RunVantrel("render " + Quote(patch.string()) + " -o " + Quote(wav.string()) +
                 " --float --seconds 1.5 --note 60:0.8:0:0.6 --note 67:0.6:0.6:0.6");
  ASSERT_EQ(r.iExit, 0) << sWhere << "\n" << r.sErr;
  double dPeak = Peak(wav.string());
  EXPECT_TRUE(dPeak > 0.001 && dPeak < 4) << sWhere << ": an example sounds, finite and not overloaded (peak "
                                          << dPeak << ")\n" << sPatch;
}

// The rows of the generated function table: name, example and the result (empty: in a patch).
struct FunctionRow {
  std::string sName, sExample, sResult;
};
std::vector<FunctionRow> FunctionRows() {
  std::vector<FunctionRow> arow;
  std::regex row(R"(\| `([^`]+)` \| `[^`]+` \| .+ \| `([^`]+)` \| (`([^`]+)`|in a patch) \|)");
  std::smatch m;
  for (const std::string& sLine : Lines(ReadText(kDocs / "functions.md")))
    if (std::regex_match(sLine, m, row)) arow.push_back({m[1], m[2], m[4]});
  return arow;
}

}  // namespace

TEST(Manual, GeneratedTablesMatchTheProgram) {
  const std::string sOpen = "<!-- generated: vantrel ", sEnd = "<!-- end generated -->";
  int nBlocks = 0;
  for (const fs::path& path : Pages()) {
    for (const std::string& sBlock : Between(ReadText(path), sOpen, sEnd)) {
      ++nBlocks;
      size_t iArgsEnd = sBlock.find(" -->\n");
      ASSERT_NE(iArgsEnd, std::string::npos) << path;
      std::string sArgs = sBlock.substr(0, iArgsEnd);
      VantrelRun r = RunVantrel(sArgs);
      ASSERT_EQ(r.iExit, 0) << path << ": vantrel " << sArgs << "\n" << r.sErr;
      EXPECT_EQ(sBlock.substr(iArgsEnd + 5), "\n" + r.sOut + "\n")
          << path << " is out of date with vantrel " << sArgs << ": run scripts/update-docs";
    }
  }
  EXPECT_GT(nBlocks, 40);
}

TEST(Manual, EveryModuleTypeHasItsPageWithAnExample) {
  VantrelRun r = RunVantrel("modules");
  ASSERT_EQ(r.iExit, 0);
  std::regex row(R"((\w+) +Mod\w+ +\d+ +\d+ .*)");
  std::smatch m;
  int nTypes = 0;
  for (const std::string& sLine : Lines(r.sOut)) {
    if (!std::regex_match(sLine, m, row)) continue;
    std::string sType = m[1];
    ++nTypes;
    // The envelope stage types share a page; every other type has its own, with its own tables.
    bool bStage = sType != "Env" && sType.size() > 3 && sType.compare(sType.size() - 3, 3, "Env") == 0;
    fs::path page = kDocs / "modules" / ((bStage ? "EnvStages" : sType) + ".md");
    ASSERT_TRUE(fs::exists(page)) << sType << " has no page " << page;
    std::string sPage = ReadText(page);
    if (!bStage) {
      EXPECT_NE(sPage.find("<!-- generated: vantrel modules --markdown " + sType + " -->"), std::string::npos)
          << page << " shows the tables of " << sType;
    }
    EXPECT_FALSE(ExamplePatches(sPage).empty()) << page << " has an example patch";
  }
  EXPECT_GT(nTypes, 290);
}

TEST(Manual, EveryExamplePatchCompilesCleanlyAndSounds) {
  int nExamples = 0;
  for (const fs::path& path : Pages()) {
    std::vector<std::string> asPatch = ExamplePatches(ReadText(path));
    for (size_t i = 0; i < asPatch.size(); ++i, ++nExamples)
      ExpectCompilesAndSounds(asPatch[i], path.filename().string() + " example " + std::to_string(i + 1));
  }
  EXPECT_GT(nExamples, 50);
}

TEST(Manual, EveryFunctionExampleEvaluatesToItsResult) {
  std::vector<FunctionRow> arow = FunctionRows();
  ASSERT_GT(arow.size(), 80u);
  std::string sArgs = "formula --eval";
  std::vector<const FunctionRow*> aprowEvaluated;
  for (const FunctionRow& row : arow)
    if (!row.sResult.empty()) {
      sArgs += " " + Quote(row.sExample);
      aprowEvaluated.push_back(&row);
    }
  VantrelRun r = RunVantrel(sArgs);
  ASSERT_EQ(r.iExit, 0) << r.sErr;
  std::vector<std::string> asLine = Lines(r.sOut);
  ASSERT_EQ(asLine.size(), aprowEvaluated.size()) << r.sOut;
  for (size_t i = 0; i < asLine.size(); ++i)
    EXPECT_EQ(asLine[i], aprowEvaluated[i]->sResult)
        << aprowEvaluated[i]->sName << ": " << aprowEvaluated[i]->sExample;
}

// Channel buses, the voices' sum and the parent level exist only in a patch: there the examples
// compile without a message, each where its function belongs.
TEST(Manual, EveryFunctionExampleThatNeedsAPatchCompilesInOne) {
  std::set<std::string> asName;
  for (const FunctionRow& row : FunctionRows()) {
    if (!row.sResult.empty()) continue;
    asName.insert(row.sName);
    std::string sPatch = "[Osc1]\nWaveform = Sine\n\n";
    if (row.sName == "SumVoices")
      sPatch += "[Voice]\nPreGain = 0.5 * Osc1\n\n[Patch]\nResult = " + row.sExample + "\n";
    else if (row.sName == "SUPER")
      sPatch += "[Organ]\nModuleType = Sub\nFile = \"tutorial/parts/Organ.vantrel\"\nVoice:octave = 0.001 * " +
                row.sExample + "\n\n[Voice]\nPreGain = 0.5 * Osc1 + 0.5 * Organ:Result\n";
    else
      sPatch += "[Voice]\nPreGain = 0.5 * " + row.sExample + "\n";
    ExpectCompilesAndSounds(sPatch, row.sName);
  }
  EXPECT_EQ(asName, (std::set<std::string>{"MakeBus", "SumBus", "BreakOut", "Pan", "SUPER", "SumVoices"}));
}

namespace {

// A heading's anchor as Markdown viewers make it: lower case, blanks to hyphens, other
// punctuation dropped ("References: Module:Variable" is "references-modulevariable").
std::string Anchor(const std::string& sHeading) {
  std::string s;
  for (char c : sHeading) {
    if (isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') s += static_cast<char>(tolower(c));
    else if (c == ' ') s += '-';
  }
  return s;
}

}  // namespace

// A link of the manual leads to a page that exists and, with an anchor, to one of its headings.
TEST(Manual, EveryLinkLeadsToAPageAndHeading) {
  std::regex link(R"(\]\(([^)#\s]*)(#[^)\s]*)?\))");
  std::smatch m;
  int nLinks = 0;
  for (const fs::path& path : Pages()) {
    for (const std::string& sLine : Lines(ReadText(path))) {
      for (auto it = sLine.cbegin(); std::regex_search(it, sLine.cend(), m, link); it = m.suffix().first) {
        std::string sTarget = m[1], sAnchor = m[2].matched ? m[2].str().substr(1) : "";
        if (sTarget.rfind("http", 0) == 0) continue;
        ++nLinks;
        fs::path target = sTarget.empty() ? path : (path.parent_path() / sTarget).lexically_normal();
        ASSERT_TRUE(fs::exists(target)) << path << ": " << sTarget;
        if (sAnchor.empty()) continue;
        bool bFound = false;
        for (const std::string& sHeading : Lines(ReadText(target)))
          if (sHeading.rfind("#", 0) == 0 && Anchor(sHeading.substr(sHeading.find(' ') + 1)) == sAnchor) bFound = true;
        EXPECT_TRUE(bFound) << path << ": no heading for #" << sAnchor << " in " << target;
      }
    }
  }
  EXPECT_GT(nLinks, 100);
}
