// Interned strings.
#include <gtest/gtest.h>

#include <string>

#include "foundation/akquark.h"

TEST(Quark, EqualTextsShareOneHandle) {
  std::string a = "Oscillator", b = "Oscil";
  b += "lator";
  const char* q = AKQuark(a.c_str());
  EXPECT_EQ(q, AKQuark(b.c_str()));
  EXPECT_STREQ(q, "Oscillator");
  EXPECT_EQ(AKQuarkLength(q), 10);
  EXPECT_NE(q, AKQuark("Oscillator2"));
  EXPECT_GT(AKQuarkSerial(AKQuark("Oscillator2")), AKQuarkSerial(q));
  EXPECT_EQ(AKQuarkSerial(AKQuark("")), 0) << "the empty text is interned first";
  EXPECT_EQ(AKQuark(nullptr), AKQuark(""));
}

TEST(Quark, HandlesStayValidAcrossManyBlocks) {
  const char* qFirst = AKQuark("first-of-many");
  std::string sHuge(70000, 'q');  // larger than a block: gets its own record
  const char* qHuge = AKQuark(sHuge.c_str());
  for (int i = 0; i < 20000; ++i) AKQuark(("name" + std::to_string(i)).c_str());
  EXPECT_STREQ(qFirst, "first-of-many");
  EXPECT_EQ(AKQuarkLength(qHuge), 70000);
  EXPECT_EQ(AKQuark(sHuge.c_str()), qHuge);
  EXPECT_EQ(AKQuark("name19999"), AKQuark(std::string("name19999").c_str()));
  EXPECT_GT(AKQuarkMemory(), 65528 * 5);
}
