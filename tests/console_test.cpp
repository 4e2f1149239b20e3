#include <gtest/gtest.h>
#include "cli/console.h"
TEST(Console, Placeholder) { EXPECT_EQ(AttributeWithColor(0x1F, 12), 0x1C); }
