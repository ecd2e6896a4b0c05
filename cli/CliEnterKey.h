// Enter on a terminal as "done": a command that waits for the operator checks it between its steps.
#pragma once

// True once a line has been typed on standard input, when that is a terminal; never otherwise (a script's
// input is not an operator). Reads at most what was typed, never blocks. CliEnterKey.cpp or
// CliEnterKeyWin32.cpp, as CMake picks. Main thread only.
bool EnterPressed();
// Whether standard input is a terminal, so the command can say that Enter ends the wait.
bool InputIsTerminal();
