// Ctrl+C and Ctrl+Break on a Windows console: the control handler runs on a thread of its own and only sets
// the lock-free flag.
#include <windows.h>

#include <atomic>

#include "cli/CliInterrupt.h"

namespace {

std::atomic<int> g_interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free);
bool g_installed = false;

BOOL WINAPI OnControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    g_interrupted = 1;
    return TRUE;
}

}  // namespace

CInterruptRequest::CInterruptRequest() {
    g_interrupted = 0;
    g_installed = SetConsoleCtrlHandler(OnControl, TRUE) != 0;
}

CInterruptRequest::~CInterruptRequest() {
    // Removing ours leaves whatever handlers were there before.
    if (g_installed) SetConsoleCtrlHandler(OnControl, FALSE);
    g_installed = false;
}

bool CInterruptRequest::Interrupted() {
    return g_interrupted.load() != 0;
}

void CInterruptRequest::Raise() {
    g_interrupted = 1;
}
