#include <gtest/gtest.h>

TEST(engine_smoke, builds) { SUCCEED(); }
