// The renderer's differential test: every shipped patch, every annotated test patch and a few
// hundred generated ones must still sound as the reference renderer made them, within 1e-10.
//
// tests/data/render_reference/SET.ref was written by scripts/render-reference from a trusted
// binary: note 60 held for FRAMES frames through `vantrel regress`, and per block of 16 frames
// the first sample and the block's sum. Here the same run is made with this build and reduced
// the same way; every sample kept must lie within 1e-10 of the reference, every block sum within
// 16 x 1e-10 (so a change of any one sample by more than that shows). The sets and how their
// installations are laid out: scripts/render_capture.py.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "run_vantrel.h"

namespace fs = std::filesystem;

namespace {

constexpr double kTolerance = 1e-10;  // the regression runner's
constexpr int kBlock = 16;

struct Capture {
  int nFrames = 0;
  std::vector<double> adFirst, adSum;  // per block
};

// The reference of one set: patch name (below patch/) to its stored capture.
std::map<std::string, Capture> ReadReference(const fs::path& path) {
  std::map<std::string, Capture> mapRef;
  std::ifstream file(path);
  std::string sLine;
  Capture* pcap = nullptr;
  while (std::getline(file, sLine)) {
    if (sLine.empty() || sLine[0] == '#') continue;
    if (sLine.compare(0, 6, "patch ") == 0) {
      size_t iSpace = sLine.rfind(' ');
      pcap = &mapRef[sLine.substr(6, iSpace - 6)];
      pcap->nFrames = atoi(sLine.c_str() + iSpace + 1);
      continue;
    }
    char* pszEnd = nullptr;
    double dFirst = strtod(sLine.c_str(), &pszEnd);
    double dSum = strtod(pszEnd, nullptr);
    if (pcap) {
      pcap->adFirst.push_back(dFirst);
      pcap->adSum.push_back(dSum);
    }
  }
  return mapRef;
}

std::vector<double> ReadDoubles(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<double> ad(fs::file_size(path) / sizeof(double));
  file.read(reinterpret_cast<char*>(ad.data()), static_cast<std::streamsize>(ad.size() * sizeof(double)));
  return ad;
}

// The stored form of a capture, summed in order as the script sums it.
Capture Reduce(const std::vector<double>& ad) {
  Capture cap;
  cap.nFrames = static_cast<int>(ad.size());
  for (size_t i = 0; i < ad.size(); i += kBlock) {
    double dSum = 0;
    for (size_t j = i; j < std::min(ad.size(), i + kBlock); ++j) dSum += ad[j];
    cap.adFirst.push_back(ad[i]);
    cap.adSum.push_back(dSum);
  }
  return cap;
}

bool Near(double dRef, double d, double dTolerance) {
  if (std::isnan(dRef) || std::isnan(d)) return std::isnan(dRef) && std::isnan(d);
  return dRef == d || std::fabs(dRef - d) <= dTolerance;
}

// Empty when the capture matches the reference, else where it first does not.
std::string Compare(const Capture& ref, const Capture& cap) {
  char sz[256];
  if (ref.nFrames != cap.nFrames) {
    snprintf(sz, sizeof sz, "%d frames captured, the reference has %d", cap.nFrames, ref.nFrames);
    return sz;
  }
  for (size_t i = 0; i < ref.adFirst.size() && i < cap.adFirst.size(); ++i) {
    if (!Near(ref.adFirst[i], cap.adFirst[i], kTolerance)) {
      snprintf(sz, sizeof sz, "frame %zu: %.17g, the reference %.17g", i * kBlock, cap.adFirst[i], ref.adFirst[i]);
      return sz;
    }
    if (!Near(ref.adSum[i], cap.adSum[i], kBlock * kTolerance)) {
      snprintf(sz, sizeof sz, "frames %zu to %zu sum to %.17g, the reference %.17g", i * kBlock, i * kBlock + kBlock - 1,
               cap.adSum[i], ref.adSum[i]);
      return sz;
    }
  }
  return "";
}

fs::path SourceDir() { return fs::path(VANTREL_TEST_DATA).parent_path().parent_path(); }

// The installation folder of a set, as scripts/render_capture.py lays it out.
fs::path MakeInstall(const std::string& sSet) {
  fs::path dir = fs::path(testing::TempDir()) / ("render_reference_" + std::to_string(getpid()) + "_" + sSet);
  fs::remove_all(dir);
  const auto copy = fs::copy_options::recursive;
  if (sSet == "shipped") {
    fs::copy(SourceDir() / "installation", dir, copy);
    fs::remove_all(dir / "regressions");
  } else if (sSet == "tests") {
    fs::copy(DataPath("install"), dir, copy);
    fs::create_directories(dir / "patch/data");
    for (const auto& entry : fs::directory_iterator(DataPath("patches")))
      if (entry.path().extension() == ".vantrel") fs::copy(entry.path(), dir / "patch/data");
  } else {
    fs::copy(DataPath("render_reference/fuzz"), dir, copy);
  }
  fs::remove_all(dir / "log");
  fs::create_directories(dir / "regressions");
  return dir;
}

class RenderReference : public testing::TestWithParam<std::string> {};

TEST_P(RenderReference, EveryPatchSoundsAsTheReferenceRendererMadeIt) {
  std::map<std::string, Capture> mapRef = ReadReference(DataPath("render_reference/" + GetParam() + ".ref"));
  ASSERT_GT(mapRef.size(), 10u) << "no reference for the set " << GetParam();
  int nFrames = mapRef.begin()->second.nFrames;
  fs::path dir = MakeInstall(GetParam());
  VantrelRun run = RunVantrel("regress --install '" + dir.string() + "' --frames " + std::to_string(nFrames));
  // 1: some patches do not compile (test patches that expect errors), which the reference knows.
  ASSERT_TRUE(run.iExit == 0 || run.iExit == 1) << run.sOut << run.sErr;

  int nCompared = 0;
  std::vector<std::string> asFailed;
  for (const auto& [sName, ref] : mapRef) {
    fs::path path = dir / "regressions" / sName;
    path.replace_extension(".exemplar");
    std::string sWhy = fs::exists(path) ? Compare(ref, Reduce(ReadDoubles(path))) : "no capture (did it compile?)";
    if (!sWhy.empty()) asFailed.push_back(sName + ": " + sWhy);
    ++nCompared;
  }
  for (const std::string& s : asFailed) ADD_FAILURE() << s;
  EXPECT_TRUE(asFailed.empty()) << asFailed.size() << " of " << nCompared
                                << " patches differ from the reference (when a change of sound is meant, "
                                   "write it anew with scripts/render-reference)";
  if (asFailed.empty()) fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Sets, RenderReference, testing::Values("shipped", "tests", "fuzz"));

}  // namespace
