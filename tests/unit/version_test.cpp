// Edges of the version marks; the entry and service tests check the mark of each degree mode.
#include <gtest/gtest.h>

#include "base/version.h"

TEST(MarkedVersion, DegreeModesReverseFlagAndTheUnderscoreCut) {
    const struct {
        const char* text;
        int limit;
        bool reversed;
        const char* expected;
    } cases[] = {
        {"2.4.6", -1, false, "2.4.6_150(M)"},
        {"2.4.6_90", 150, false, "2.4.6_150"},      // an earlier suffix is cut at the first "_"
        {"2.4.6_a_b", 90, false, "2.4.6_90(M)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(marked_version(c.text, c.limit, c.reversed), c.expected) << c.text << " " << c.limit;
    EXPECT_STREQ(version_text, "2.4.6");
}
