#include <gtest/gtest.h>
#include "gl/gl_rules.h"
TEST(GLRules, Placeholder) { EXPECT_EQ(VendorClassOf("Mesa/X.org"), VENDOR_OTHER); }
