// The SIGINT handler only sets a lock-free flag, the one thing a handler may safely do.
#include "cli/CliInterrupt.h"

#include <signal.h>

#include <atomic>

namespace {

std::atomic<int> g_interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free);
struct sigaction g_previous {};
bool g_installed = false;

extern "C" void OnInterrupt(int) {
    g_interrupted = 1;
}

}  // namespace

CInterruptRequest::CInterruptRequest() {
    g_interrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    g_installed = sigaction(SIGINT, &action, &g_previous) == 0;
}

CInterruptRequest::~CInterruptRequest() {
    if (g_installed) sigaction(SIGINT, &g_previous, nullptr);
    g_installed = false;
}

bool CInterruptRequest::Interrupted() {
    return g_interrupted.load() != 0;
}

void CInterruptRequest::Raise() {
    g_interrupted = 1;
}
