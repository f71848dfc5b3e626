// Evaluation allocates nothing once warmed up, whatever the formula does.
#include <gtest/gtest.h>

#include "alloc_counter.h"
#include "table_fixture.h"

TEST(EvalAllocations, TheCounterSeesLibraryAllocations) {
  AllocationCounter counter;
  Form* pform = FormNewConstant(FormTypeNumeric, 1);  // calloc inside the formula library
  FormFree(pform);
  EXPECT_EQ(counter.Count(), 1);
}

TEST(EvalAllocations, NoneAfterWarmUp) {
  TestTable table;
  table.Add("Note", "Time", "0.25");
  table.Add("Osc", "Freq", "IF(Note:Time < 0.5, 440 + 7 SEMIS, 220) * Select(Note:Time, 1, 2)");
  table.Add("Osc", "Gain", "LinFadeLoop(Note:Time, 0, 1, 0.5) + Curve(Note:Time, 0.3, 0, 1) + PEAK(Freq, 400, 2, 0, 1)");
  table.Add("Loop", "a", "a + MAX(Osc:Gain, 1)");  // reports a loop every evaluation
  ASSERT_EQ(table.Compile(), 0);
  table.Eval("Loop", "a");  // the first loop report creates its error-list entry
  AllocationCounter counter;
  for (int i = 0; i < 1000; ++i) {
    table.MarkStale();
    table.Eval("Loop", "a");
  }
  EXPECT_EQ(counter.Count(), 0);
  EXPECT_EQ(ErrorList::Get()->anode[0].iCount, 1001);
}
