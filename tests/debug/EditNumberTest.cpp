// Reading a number from an edit of the debug page.
#include <gtest/gtest.h>

#include "debug/EditNumber.h"

TEST(EditNumberTest, LeadingIntegerWithBlanksAndSign) {
    const struct {
        const char* text;
        int value;
    } cases[] = {
        {"", 0},    {"abc", 0}, {"12ab", 12}, {"-7", -7}, {"  42", 42}, {"+3", 3},
        {"+-3", 0}, {"-", 0},   {" -5x", -5}, {"007", 7}, {"1 2", 1},   {"99999999999", 2147483647},
    };
    for (const auto& c : cases) EXPECT_EQ(EditNumber(c.text), c.value) << '"' << c.text << '"';
}
