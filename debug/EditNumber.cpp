// Reads like the C library's atoi, but saturates instead of overflowing (through ParseLeadingInt).
#include "debug/EditNumber.h"

#include <cctype>

#include "link/Encodings.h"

int EditNumber(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    text.remove_prefix(at);
    if (text.size() >= 2 && text[0] == '+' && std::isdigit(static_cast<unsigned char>(text[1])))
        text.remove_prefix(1);
    return ParseLeadingInt(text);
}
