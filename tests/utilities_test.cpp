#include "common/paths.hpp"
#include "common/text.hpp"
#include <gtest/gtest.h>
TEST(Placeholder, Builds) { EXPECT_EQ(tarvik::format_duration(0), "n/a"); }
