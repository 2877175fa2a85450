#include <gtest/gtest.h>

TEST(report_smoke, builds) { SUCCEED(); }
