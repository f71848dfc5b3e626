// Shared by the patch fuzzers: compile a parsed patch quickly and play a short note through it.
#pragma once

#include "app/appcore.h"
#include "formula/errorlist.h"
#include "foundation/akconfig.h"
#include "patch/patch.h"
#include "patch/structural.h"

// Few voices and few frames keep an input to a fraction of a millisecond: what breaks in
// compilation or at the first samples of a note breaks with two voices as with sixteen. A patch
// that sets its own voice counts keeps them.
inline void FuzzLimitVoices(AKConfig_T* pconf) {
  AKConfig_T* pconfPatch = AKConfigGetSub(pconf, "Patch");
  if (!AKConfigTest(pconfPatch, "VoicePrealloc") && !AKConfigTest(pconfPatch, "NoteMax") &&
      !AKConfigTest(pconfPatch, "VoicesPerNote"))
    AKConfigSet(pconfPatch, "VoicePrealloc", "2");
}

// Compiles the patch on channel 1 and, if it compiles, plays a note in stereo: its start, a
// second note over it, and the release.
inline void FuzzCompileAndPlay(AppCore* pcore, AKConfig_T* pconf) {
  auto* pmodChannel = static_cast<ModChannel*>(pcore->Engine()->apmodChannel[0]);
  Patch* ppatch = new Patch(pcore->Engine(), pconf, pmodChannel);
  if (ppatch->bCompiled) {
    double adFrame[2];
    auto render = [&](int nFrames) {
      for (int i = 0; i < nFrames; ++i) {
        adFrame[0] = adFrame[1] = 0;
        ppatch->RenderFrame(adFrame, 2);
      }
    };
    ppatch->NoteOn(60, 0.5);
    render(8);
    ppatch->NoteOn(64, 1);
    render(4);
    ppatch->NoteOff(60, 0.5);
    ppatch->NoteOff(64, 0);
    render(4);
  }
  delete ppatch;
  ErrorList::Get()->Clear();
}
