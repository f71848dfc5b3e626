// The checked growable array, the text buffer and the lazily filled pointer array.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "foundation/akarray.h"
#include "foundation/akdynary.h"
#include "foundation/aktext.h"

TEST(Array, GrowsByDoublingAndNeverShrinksThroughSetSize) {
  AKArray<int> a;
  EXPECT_EQ(a.Capacity(), 0);
  a.SetSize(5);
  EXPECT_EQ(a.Capacity(), 8);
  EXPECT_EQ(a.N(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(a[i], 0) << "new elements are zero-filled";
  a.SetSize(3);
  EXPECT_EQ(a.N(), 5);
  a.Add(7);
  EXPECT_EQ(a.N(), 6);
  EXPECT_EQ(a[5], 7);
  a.Empty();
  EXPECT_EQ(a.N(), 0);
  EXPECT_EQ(a.Capacity(), 8);
}

TEST(Array, RemoveAndInsertKeepOrder) {
  AKArray<std::string> a;
  for (const char* psz : {"a", "b", "c", "d"}) a.Add(psz);
  a.Remove(1);
  a.Insert(0, "z");
  std::string s;
  for (const std::string& x : a) s += x;
  EXPECT_EQ(s, "zacd");
}

// Elements that ask for a wider alignment than the allocator's default (the variable records
// keep cache-line boundaries) keep it through every reallocation. 512 bytes, since no allocator
// gives that by chance.
TEST(Array, OverAlignedElementsStayAlignedWhileGrowing) {
  struct alignas(512) Line {
    double d = 0;
  };
  AKArray<Line> a(AK_HERE);
  for (int i = 0; i < 100; ++i) {
    a.Add(Line{static_cast<double>(i)});
    ASSERT_EQ(reinterpret_cast<uintptr_t>(a.begin()) % 512, 0u) << "after " << i + 1 << " elements";
  }
  a.Reserve(1000);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a.begin()) % 512, 0u);
  EXPECT_EQ(a[99].d, 99);
}

TEST(ArrayDeathTest, IndexOutOfRangeIsAFailedCheck) {
  AKArray<int> a;
  a.SetSize(5);
  EXPECT_EXIT(a[5], testing::ExitedWithCode(1), "i >= 0 && i < iUsed");
  EXPECT_EXIT(a[-1], testing::ExitedWithCode(1), "i >= 0 && i < iUsed");
  EXPECT_EXIT(a.SetSize(-1), testing::ExitedWithCode(1), "i >= 0");
}

TEST(Text, AppendsTextsFormatsAndCharacters) {
  AKText t;
  EXPECT_STREQ(t.Text(), "");
  t.Append("abc");
  t.Append(nullptr);
  t.AppendChar('d');
  t.AppendChar(0);
  std::string sLong(1000, 'x');
  t.AppendFormat("[%d:%s]", 42, sLong.c_str());
  EXPECT_EQ(t.Length(), 3u + 1 + 4 + 1000 + 1);
  EXPECT_EQ(std::string(t.Text()), "abcd[42:" + sLong + "]");
  t.Empty();
  EXPECT_STREQ(t.Text(), "");
}

TEST(DynAry, CreatesItemsOnFirstRequestOnly) {
  static int nCreated;
  nCreated = 0;
  AKDynAry_T* pda = AKDynAryCreate(sizeof(int), [](void* pv, int i, void*) {
    *static_cast<int*>(pv) = i * 10;
    ++nCreated;
  }, nullptr);
  EXPECT_EQ(*static_cast<int*>(AKDynAryGet(pda, 100)), 1000);
  EXPECT_EQ(AKDynAryGet(pda, 100), AKDynAryGet(pda, 100));
  EXPECT_EQ(nCreated, 1);
  EXPECT_GE(pda->nSize, 101);
  AKDynAryFreeItem(pda, 100);
  EXPECT_EQ(*static_cast<int*>(AKDynAryGet(pda, 100)), 1000);
  EXPECT_EQ(nCreated, 2);
  AKDynAryFree(pda);
}
