// On Windows a console's Enter is not watched: a command waits its full time.
#include "cli/CliEnterKey.h"

bool InputIsTerminal() {
    return false;
}

bool EnterPressed() {
    return false;
}
