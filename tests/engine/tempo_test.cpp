#include "engine/tempo.h"

#include <gtest/gtest.h>

namespace vindelor {
namespace {

TEST(BeatIntervalTest, IsSixtyThousandOverTheTempoUnrounded) {
    EXPECT_DOUBLE_EQ(beatInterval(120), 500.0);
    EXPECT_DOUBLE_EQ(beatInterval(50), 1200.0);
    EXPECT_DOUBLE_EQ(beatInterval(200), 300.0);
    EXPECT_DOUBLE_EQ(beatInterval(70), 60000.0 / 70.0);
    EXPECT_NE(beatInterval(70), 857.0);
}

TEST(ClampTempoTest, HoldsTheTempoAtTheNearerEnd) {
    EXPECT_EQ(clampTempo(250), 200);
    EXPECT_EQ(clampTempo(999), 200);
    EXPECT_EQ(clampTempo(INT64_MAX), 200);
    EXPECT_EQ(clampTempo(30), 50);
    EXPECT_EQ(clampTempo(-5), 50);
    EXPECT_EQ(clampTempo(137), 137);
}

TEST(FilterTempoKeyTest, PassesDigitsBackspaceAndEnterOnly) {
    for (char16_t key = u'0'; key <= u'9'; ++key) {
        EXPECT_EQ(filterTempoKey(key), key);
    }
    EXPECT_EQ(filterTempoKey(8), 8);
    EXPECT_EQ(filterTempoKey(13), 13);
    for (const char16_t dropped :
         {u'a', u'Z', u' ', u'-', u'.', u',', u'+', u'\t', u'\x1b', u'å'}) {
        EXPECT_EQ(filterTempoKey(dropped), 0) << static_cast<int>(dropped);
    }
}

TEST(WholeNumberInTest, ReadsPlainDecimalsAndRefusesEverythingElse) {
    EXPECT_EQ(wholeNumberIn("120"), 120);
    EXPECT_EQ(wholeNumberIn("050"), 50);
    EXPECT_EQ(wholeNumberIn(" 90 "), 90);
    EXPECT_EQ(wholeNumberIn("0"), 0);
    EXPECT_EQ(wholeNumberIn("99999999999999999999999"), INT64_MAX);
    for (const char* junk : {"", "   ", "-5", "+5", "1.5", "12a", "abc", "1 2", "0x10"}) {
        EXPECT_FALSE(wholeNumberIn(junk).has_value()) << '"' << junk << '"';
    }
}

TEST(TempoTextTest, IsPlainDecimal) {
    EXPECT_EQ(tempoText(120), "120");
    EXPECT_EQ(tempoText(50), "50");
}

}  // namespace
}  // namespace vindelor
