// The oscilloscope's capture runs on the audio thread: rendering with it installed, captures
// handed over and new notes started allocate nothing once the patch has warmed up.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include "alloc_counter.h"
#include "app/appcore.h"
#include "ide/scopecapture.h"
#include "patch/patch.h"

namespace {

void CountPost(void* pv) { ++*static_cast<int*>(pv); }

TEST(ScopeCaptureAlloc, CapturingAndHandingOverAllocateNothing) {
  InitSharedTables();
  AppCore core(std::string(VANTREL_TEST_DATA) + "/install");
  std::string sPath = testing::TempDir() + "/scope_alloc.vantrel";
  std::ofstream(sPath) << "[Osc1]\nWaveform = Sine\nFrequency = Pitch\n\n[Voice]\nPreGain = 0.5 * Osc1:Output\n\n"
                          "[Scope]\nSyncIn = Osc1:SyncOut\nFreqHint = Osc1:Frequency\nProbe1 = Osc1:Output\n"
                          "Caption1 = Osc1:Frequency\nwave = Osc1:Waveform\n";
  std::unique_ptr<Patch> ppatch(core.CompilePatchFile(sPath.c_str(), 0));
  ASSERT_TRUE(ppatch && ppatch->bCompiled);
  ScopeCapture capture;
  int nPosts = 0;
  capture.SetPost(&CountPost, &nPosts);
  std::mutex mutexEngine;
  capture.Register(&mutexEngine);
  auto Render = [&](int nFrames) {
    for (int i = 0; i < nFrames; ++i) {
      double adFrame[2] = {0, 0};
      ppatch->RenderFrame(adFrame, 2);
      // The window's part, done here between frames: what it reads is there, then released.
      if (!capture.Ready()) capture.Release();
    }
  };
  ppatch->NoteOn(69, 1);
  Render(2000);
  ppatch->NoteOn(72, 1);
  Render(2000);
  ASSERT_GT(nPosts, 10);
  int nWarm = nPosts;
  AllocationCounter counter;
  Render(4000);
  ppatch->NoteOn(76, 1);  // another voice: a new capture
  Render(4000);
  EXPECT_EQ(counter.Count(), 0);
  EXPECT_GT(nPosts, nWarm + 20) << "captures went on being handed over";
  capture.Withdraw(&mutexEngine);
}

}  // namespace
