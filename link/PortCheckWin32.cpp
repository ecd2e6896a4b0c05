// Why a COM name cannot serve as the servo port on Windows: a missing port, a directory, a file and a port in
// use each fail differently and deserve their own words.
#include <windows.h>

#include "link/PortCheck.h"
#include "link/SerialLine.h"

std::string PortProblem(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return path + " is a directory, not a serial port";
    const HANDLE port = CreateFileA(SerialLine::DevicePathOf(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME)
            return "no such port: " + path;
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            return path + " is busy (another program has it open)";
        return "cannot open " + path;
    }
    // Files and pipes open too; only a serial port has line settings.
    DCB line{};
    line.DCBlength = sizeof line;
    const bool serial = GetCommState(port, &line) != 0;
    CloseHandle(port);
    if (!serial) return path + " is not a serial port";
    return {};
}
