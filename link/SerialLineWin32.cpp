// Windows COM ports through the serial services: one synchronous handle opened without sharing, timeouts
// through COMMTIMEOUTS set from the time left before every transfer, and a removed adapter noticed at once.
// A Handle here points to a CComPort: the port and the claim that keeps a second opener out.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "link/SerialLine.h"

namespace SerialLine {

namespace {

using Clock = std::chrono::steady_clock;

struct CComPort {
    HANDLE port;
    // A named object per port, held while the port is open. Serial drivers refuse a second opener by
    // themselves, but not every layer does (wine lets share mode 0 pass for COM ports), and a tool that
    // shares the bus with another copy of itself would interleave frames.
    HANDLE claim;
    // The total timeout the driver has now, so the usual request (the same timeout every time) costs no
    // extra call into the driver; MAXDWORD until the first is set.
    DWORD timeoutMs = MAXDWORD;
};

CComPort& Port(Handle port) {
    return *reinterpret_cast<CComPort*>(port);
}

HANDLE Win(Handle port) {
    return Port(port).port;
}

// "COM12" -> 12; -1 for anything else.
int ComNumber(const std::string& name) {
    if (name.size() < 4 || name.size() > 8) return -1;
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[static_cast<std::size_t>(i)])) != "COM"[i])
            return -1;
    int number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return -1;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

const char kDevicePrefix[] = "\\\\.\\";

std::string WithoutPrefix(const std::string& path) {
    return path.rfind(kDevicePrefix, 0) == 0 ? path.substr(sizeof kDevicePrefix - 1) : path;
}

// Claims the port for this process; null when another holder has it.
HANDLE ClaimPort(const std::string& path) {
    std::string port = WithoutPrefix(path);
    for (char& c : port) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string name = "Global\\brennix-port-" + port;
    SetLastError(ERROR_SUCCESS);  // only a name that existed already sets it
    const HANDLE claim = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    if (claim && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        return nullptr;
    }
    return claim;
}

// Whole milliseconds left before the deadline, rounded up so a wait never ends early; 0 once it has passed.
DWORD MillisecondsLeft(Deadline deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<DWORD>(std::clamp<long long>(left, 0, MAXDWORD - 1));
}

// Reads and writes give up after ms; with 0 a read returns at once with the bytes already there (a
// constant of 0 with the other fields 0 would mean "wait for ever", so that case has its own setting).
bool SetTotalTimeout(Handle handle, DWORD ms) {
    CComPort& port = Port(handle);
    if (port.timeoutMs == ms) return true;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = ms == 0 ? MAXDWORD : 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = ms;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = std::max<DWORD>(ms, 1);
    if (!SetCommTimeouts(port.port, &timeouts)) return false;
    port.timeoutMs = ms;
    return true;
}

// A transfer that failed outright means the device is gone: drivers answer a removed adapter with
// ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND, ERROR_OPERATION_ABORTED, ERROR_DEVICE_REMOVED,
// ERROR_GEN_FAILURE and the like, and a time-out is a success with a short count, never an error.
bool FailedForGood(DWORD error) {
    return error != ERROR_IO_PENDING;
}

}  // namespace

std::string DevicePathOf(const std::string& name) {
    const int number = ComNumber(name);
    if (number > 8) return kDevicePrefix + name;
    return name;
}

bool PortExists(const std::string& name) {
    // Without access rights: nothing is read, written or reconfigured. Only "not found" means absent; a
    // port in use refuses even this and still exists.
    const HANDLE probe = CreateFileA(DevicePathOf(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        return true;
    }
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_INVALID_NAME;
}

static_assert(sizeof(DCB) <= sizeof(CSavedLine::bytes));

Handle OpenExclusive(const char* path, CSavedLine* saved) {
    saved->valid = false;
    const HANDLE claim = ClaimPort(path);
    if (!claim) return kNoPort;
    const HANDLE port =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DCB line{};
    line.DCBlength = sizeof line;
    // Files and pipes open fine too; only a serial port has line settings.
    if (port == INVALID_HANDLE_VALUE || !GetCommState(port, &line)) {
        if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
        CloseHandle(claim);
        return kNoPort;
    }
    std::memcpy(saved->bytes, &line, sizeof line);
    saved->valid = true;
    SetupComm(port, 1024, 1024);
    return reinterpret_cast<Handle>(new CComPort{port, claim});
}

void CloseExclusive(Handle handle, const CSavedLine& saved) {
    const auto* port = reinterpret_cast<CComPort*>(handle);
    if (saved.valid) {
        DCB line{};
        std::memcpy(&line, saved.bytes, sizeof line);
        SetCommState(port->port, &line);
    }
    CloseHandle(port->port);
    CloseHandle(port->claim);
    delete port;
}

bool SetRawLine(Handle port, uint32_t baud) {
    DCB line{};
    line.DCBlength = sizeof line;
    if (!GetCommState(Win(port), &line)) return false;
    line.BaudRate = baud;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    line.fBinary = TRUE;
    line.fParity = FALSE;
    line.fOutxCtsFlow = FALSE;
    line.fOutxDsrFlow = FALSE;
    line.fDtrControl = DTR_CONTROL_ENABLE;
    line.fDsrSensitivity = FALSE;
    line.fOutX = FALSE;
    line.fInX = FALSE;
    line.fErrorChar = FALSE;
    line.fNull = FALSE;
    line.fRtsControl = RTS_CONTROL_ENABLE;
    // Otherwise one framing error would fail every later transfer until ClearCommError.
    line.fAbortOnError = FALSE;
    if (!SetCommState(Win(port), &line)) return false;
    return GetLineRate(port) == baud;
}

uint32_t GetLineRate(Handle port) {
    DCB line{};
    line.DCBlength = sizeof line;
    if (!GetCommState(Win(port), &line)) return 0;
    return line.BaudRate;
}

void FlushInput(Handle port) {
    PurgeComm(Win(port), PURGE_RXCLEAR);
}

void FlushBoth(Handle port) {
    PurgeComm(Win(port), PURGE_TXCLEAR | PURGE_RXCLEAR);
}

void DrainOutput(Handle port) {
    FlushFileBuffers(Win(port));
}

void RequestLowLatency(Handle) {
    // The latency timer of USB adapters is a driver setting on Windows, not something a program asks for.
}

Transfer WriteUntil(Handle port, const uint8_t* data, int count, Deadline deadline) {
    Transfer done;
    while (done.count < count && Clock::now() < deadline) {
        if (!SetTotalTimeout(port, std::max<DWORD>(MillisecondsLeft(deadline), 1))) {
            done.lost = true;
            break;
        }
        DWORD written = 0;
        if (!WriteFile(Win(port), data + done.count, static_cast<DWORD>(count - done.count), &written,
                       nullptr)) {
            done.lost = FailedForGood(GetLastError());
            break;
        }
        done.count += static_cast<int>(written);
        if (written == 0) break;  // the time ran out
    }
    return done;
}

Transfer ReadUntil(Handle port, uint8_t* buffer, int count, Deadline deadline) {
    Transfer done;
    // At least one read, even at the deadline itself: bytes already there are taken rather than timed out.
    do {
        const DWORD left = MillisecondsLeft(deadline);
        if (!SetTotalTimeout(port, left)) {
            done.lost = true;
            break;
        }
        DWORD got = 0;
        if (!ReadFile(Win(port), buffer + done.count, static_cast<DWORD>(count - done.count), &got,
                      nullptr)) {
            done.lost = FailedForGood(GetLastError());
            break;
        }
        done.count += static_cast<int>(got);
        if (left == 0) break;
        // A short count is the timeout; the loop only goes round again when the driver returned early.
    } while (done.count < count && Clock::now() < deadline);
    return done;
}

}  // namespace SerialLine
