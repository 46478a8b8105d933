#include "OVApplicationDelegate.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

TEST(PlaceholdersTest, FillsInOrderAndLeavesOtherPercentSignsAlone) {
  EXPECT_EQ(fillPlaceholders("Another instance of %@ is already running. Startup path : %@, pid = %d",
                             {"Orvex", "/usr/bin/orvex", "42"}),
            "Another instance of Orvex is already running. Startup path : /usr/bin/orvex, pid = 42");
  EXPECT_EQ(fillPlaceholders("100% of %@", {"Orvex"}), "100% of Orvex");
  EXPECT_EQ(fillPlaceholders("%@ and %@", {"one"}), "one and %@");
  EXPECT_EQ(fillPlaceholders("%@", {"a", "b"}), "a");
  EXPECT_EQ(fillPlaceholders("ends with %", {"x"}), "ends with %");
}

TEST(PlaceholdersTest, AValueHoldingAPlaceholderIsNotFilledAgain) {
  // A share or program path from outside may contain "%@".
  EXPECT_EQ(fillPlaceholders("%@ (%@)", {"path %@", "3"}), "path %@ (3)");
}

} // namespace
} // namespace orvex
