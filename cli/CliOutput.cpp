// Output through write(2), so a full disk, /dev/full or a closed pipe is an errno the client can name.
#include "cli/CliOutput.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ostream>

#include "cli/CliOptions.h"

COutputBuf::COutputBuf(int fd) : m_fd(fd), m_bLineBuffered(::isatty(fd) == 1) {
    setp(m_buffer, m_buffer + sizeof m_buffer);
}

COutputBuf::~COutputBuf() {
    Drain();
}

bool COutputBuf::Drain() {
    const char* at = pbase();
    std::size_t left = static_cast<std::size_t>(pptr() - pbase());
    while (left > 0 && m_nError == 0) {
        const auto n = ::write(m_fd, at, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            m_nError = n < 0 ? errno : EIO;
            break;
        }
        at += n;
        left -= static_cast<std::size_t>(n);
    }
    // What could not be written is dropped: the stream reports the failure from here on.
    setp(m_buffer, m_buffer + sizeof m_buffer);
    return m_nError == 0;
}

COutputBuf::int_type COutputBuf::overflow(int_type ch) {
    if (!Drain()) return traits_type::eof();
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    *pptr() = traits_type::to_char_type(ch);
    pbump(1);
    if (m_bLineBuffered && traits_type::to_char_type(ch) == '\n' && !Drain()) return traits_type::eof();
    return ch;
}

std::streamsize COutputBuf::xsputn(const char_type* text, std::streamsize count) {
    if (m_nError != 0) return 0;
    const std::streamsize put = std::streambuf::xsputn(text, count);
    if (m_bLineBuffered && std::memchr(text, '\n', static_cast<std::size_t>(put)) != nullptr && !Drain())
        return 0;
    return put;
}

int COutputBuf::sync() {
    return Drain() ? 0 : -1;
}

int OutputError(std::ostream& out) {
    out.flush();
    if (const auto* buffer = dynamic_cast<const COutputBuf*>(out.rdbuf()); buffer && buffer->Error() != 0)
        return buffer->Error();
    return out.good() ? 0 : EIO;
}

int ReportOutputError(std::ostream& err, int error) {
    if (error != EPIPE) err << "brennix: cannot write the output: " << std::strerror(error) << "\n";
    return EXIT_OUTPUT_FAILED;
}
