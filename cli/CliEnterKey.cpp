// Enter on a POSIX terminal: a poll of standard input without waiting, then the typed line is read.
#include "cli/CliEnterKey.h"

#include <poll.h>
#include <unistd.h>

bool InputIsTerminal() {
    return ::isatty(STDIN_FILENO) != 0;
}

bool EnterPressed() {
    if (!InputIsTerminal()) return false;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (::poll(&input, 1, 0) <= 0 || !(input.revents & POLLIN)) return false;
    // A terminal in its usual line mode hands over whole lines: the line is read and dropped.
    char line[256];
    return ::read(STDIN_FILENO, line, sizeof line) > 0;
}
