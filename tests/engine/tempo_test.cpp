#include "engine/tempo.h"

#include <gtest/gtest.h>

namespace vindelor {
namespace {

// What the window's tests cannot type: text pasted past the key filter, and numbers beyond
// any the box holds.
TEST(TempoTest, TheBoxIsReadAsAWholeNumberOrNotAtAllAndHeldWithinTheRange) {
    EXPECT_EQ(wholeNumberIn(" 050 "), 50);
    EXPECT_EQ(clampTempo(*wholeNumberIn("99999999999999999999999")), 200);
    for (const char* junk : {"", "   ", "-5", "+5", "1.5", "12a", "1 2"}) {
        EXPECT_FALSE(wholeNumberIn(junk)) << '"' << junk << '"';
    }
    for (const char16_t dropped : {u'-', u'.', u'+', u'\t', u'å'}) {
        EXPECT_EQ(filterTempoKey(dropped), 0) << static_cast<int>(dropped);
    }
}

}  // namespace
}  // namespace vindelor
