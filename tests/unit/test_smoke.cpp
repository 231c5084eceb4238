#include <gtest/gtest.h>
#include "baseutil.h"
TEST(Smoke, Replace) { EXPECT_EQ("bbb", Replace("aaa", "a", "b")); }
