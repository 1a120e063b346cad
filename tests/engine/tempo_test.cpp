#include "engine/tempo.h"

#include <gtest/gtest.h>

namespace vindelor {
namespace {

TEST(TempoTest, TheIntervalIsUnroundedAndATempoOutsideTheRangeIsHeldAtTheNearerEnd) {
    EXPECT_EQ(beatInterval(120), 500.0);
    EXPECT_EQ(beatInterval(70), 60000.0 / 70);
    for (const auto& [asked, held] : {std::pair<std::int64_t, Tempo>{250, 200}, {INT64_MAX, 200},
                                      {30, 50}, {-5, 50}, {137, 137}}) {
        EXPECT_EQ(clampTempo(asked), held) << asked;
    }
}

TEST(TempoTest, TheBoxTakesDigitsBackspaceAndEnterAndIsReadAsAWholeNumberOrNotAtAll) {
    for (const char16_t key : {u'0', u'9', char16_t{8}, char16_t{13}}) {
        EXPECT_EQ(filterTempoKey(key), key);
    }
    for (const char16_t dropped : {u'a', u' ', u'-', u'.', u'+', u'\t', u'å'}) {
        EXPECT_EQ(filterTempoKey(dropped), 0) << static_cast<int>(dropped);
    }
    EXPECT_EQ(wholeNumberIn(" 050 "), 50);
    EXPECT_EQ(wholeNumberIn("99999999999999999999999"), INT64_MAX);
    for (const char* junk : {"", "   ", "-5", "+5", "1.5", "12a", "1 2"}) {
        EXPECT_FALSE(wholeNumberIn(junk)) << '"' << junk << '"';
    }
    EXPECT_EQ(tempoText(50), "50");
}

}  // namespace
}  // namespace vindelor
