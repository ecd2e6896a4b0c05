// The client's standard output, written so that a failure to write it is seen and its cause kept.
//
// Thread rules: one client run, one thread.
#pragma once

#include <iosfwd>
#include <streambuf>
#include <string>

// An output buffer over a file descriptor that keeps the errno of the first write that failed, so the cause
// ("No space left on device") can be named however long after the failure it is noticed. Flushes at every
// line end when the descriptor is a terminal, as stdio does, and when it is full or flushed otherwise.
class COutputBuf : public std::streambuf {
public:
    explicit COutputBuf(int fd);
    ~COutputBuf() override;
    COutputBuf(const COutputBuf&) = delete;
    COutputBuf& operator=(const COutputBuf&) = delete;

    // 0 while every write succeeded, else the errno of the first that failed.
    int Error() const { return m_nError; }

protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char_type* text, std::streamsize count) override;
    int sync() override;

private:
    bool Drain();

    int m_fd;
    bool m_bLineBuffered;
    int m_nError = 0;
    char m_buffer[4096];
};

// Flushes `out`; 0 when everything written to it has gone out, otherwise why not: the errno a COutputBuf
// kept, or EIO for other streams that failed.
int OutputError(std::ostream& out);

// Ends a command whose output could not be written: "brennix: cannot write the output: CAUSE" on err, except
// for a pipe whose reader has gone (EPIPE), which ends quietly as it always has. Returns EXIT_OUTPUT_FAILED.
int ReportOutputError(std::ostream& err, int error);
