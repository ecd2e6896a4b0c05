// The number an edit field of the debug page holds.
#pragma once

#include <string_view>

// Leading decimal integer after leading blanks, with an optional plus or minus sign; 0 without digits.
int EditNumber(std::string_view text);
