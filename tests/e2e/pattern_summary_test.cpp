#include "bench/rig/pattern_summary.h"

#include <gtest/gtest.h>

namespace vindelor::rig {
namespace {

TEST(SummarizingAPattern, CountsWholeBarsAndShowsTheRest) {
    EXPECT_EQ(summarizePattern("AnnnAnnnAn"), "(Annn)x2+An");
    EXPECT_EQ(summarizePattern("TnnTnnTnn"), "(Tnn)x3");
    EXPECT_EQ(summarizePattern("AnnnnnAnnnnn"), "(Annnnn)x2");
}

TEST(SummarizingAPattern, MarksABarThatDoesNotRepeatAsIrregular) {
    EXPECT_EQ(summarizePattern("AnnnAnnnAnnnAnnnAn?nAnnn"), "AnnnAnnnAnnn... irregular");
}

TEST(SummarizingAPattern, ShowsADashForNoClicks) {
    EXPECT_EQ(summarizePattern(""), "-");
}

}  // namespace
}  // namespace vindelor::rig
