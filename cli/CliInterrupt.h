// Ctrl+C as a request to finish: a command that runs until interrupted checks the flag between its steps.
#pragma once

// Installs a SIGINT handler for its lifetime and puts the previous one back. Only one may exist at a time.
// Thread rules: construct and destroy on one thread; Interrupted() may be read from any thread.
class CInterruptRequest {
public:
    CInterruptRequest();
    ~CInterruptRequest();
    CInterruptRequest(const CInterruptRequest&) = delete;
    CInterruptRequest& operator=(const CInterruptRequest&) = delete;

    // True once SIGINT came (or Raise was called) since construction.
    static bool Interrupted();
    // What SIGINT does, for tests that cannot send a signal to one thread only.
    static void Raise();
};
