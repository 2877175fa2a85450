#include <gtest/gtest.h>

TEST(control_smoke, builds) { SUCCEED(); }
