// The Scope probe: slots, probes and captions.
#include <gtest/gtest.h>

#include "formula/errorlist.h"
#include "module_harness.h"
#include "modules/scope.h"

TEST(Scope, ProbesAndCaptionsTakeSlots) {
  ErrorList::Get()->Clear();
  ModuleHarness h("Scope");
  h.AddContext("Osc", "Frequency", "440");
  h.Set("Probe1", "Note:Time * 2");
  h.Set("Probe2", "Note:Time * 3");
  h.Set("Caption1", "Osc:Frequency");
  h.Set("level", "0.5");
  h.Set("Level", "1");
  ASSERT_EQ(h.Start(), 0);
  auto* pscope = static_cast<ModOscilloscope*>(h.pmodule());
  EXPECT_EQ(pscope->nSlots, 5);
  ASSERT_EQ(pscope->apvarProbe.size(), 2u);
  ASSERT_EQ(pscope->acaption.size(), 2u);
  EXPECT_STREQ(pscope->acaption[0].szLabel, "Osc:Frequency") << "a caption is labelled with its formula";
  EXPECT_STREQ(pscope->acaption[1].szLabel, "level") << "a lower-case variable is labelled with its name";
  h.Step();
  EXPECT_DOUBLE_EQ(h.Out("Probe2"), 3 * h.dTime);
  EXPECT_EQ(pscope->apvarProbe[1]->pvalue, &pscope->adSlot[1]) << "values land in the probe's slots";
  ASSERT_EQ(ErrorList::Get()->anode.N(), 1);
  EXPECT_STREQ(ErrorList::Get()->anode[0].psz, "Scope:Level unknown variable; skipping");
}

TEST(Scope, FiftySlotsAtMost) {
  ErrorList::Get()->Clear();
  ModuleHarness h("Scope");
  for (int i = 1; i <= 51; ++i) h.Set(("Probe" + std::to_string(i)).c_str(), "1");
  EXPECT_EQ(h.Start(), 1);
  ASSERT_EQ(ErrorList::Get()->anode.N(), 1);
  EXPECT_STREQ(ErrorList::Get()->anode[0].psz, "Scope can only handle first 50 inputs");
}

TEST(Scope, DefaultsFrameOnePeriodBySync) {
  ModuleHarness h("Scope");
  h.AddContext("Osc", "SyncOut");
  h.Set("SyncIn", "Osc:SyncOut");
  ASSERT_EQ(h.Start(), 0);
  h.Value("Osc", "SyncOut") = -1;
  EXPECT_EQ(h.Out("Finished"), 0);
  h.Step();
  h.Value("Osc", "SyncOut") = 0.25;
  EXPECT_EQ(h.Out("Finished"), 1);
}
