#include "common/paths.hpp"
#include "common/text.hpp"
#include <gtest/gtest.h>
TEST(P2, Builds) { EXPECT_EQ(tarvik::format_duration(0), "n/a"); }
