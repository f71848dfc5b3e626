// placeholder
#include <gtest/gtest.h>
TEST(FilterPlaceholder, Builds) { EXPECT_TRUE(true); }
