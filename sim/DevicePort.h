// Opening an existing serial device (a second adapter, a USB gadget's tty) for the simulator to serve.
// Free functions with no shared state: any thread may call them.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

// Opens `path` exclusively, non-blocking and close-on-exec, raw 8N1 at `baud` bit/s (any rate: termios2),
// with input and output flushed. Returns the descriptor, or -1 with the reason in *error. Refuses anything
// that is not a terminal (a plain file, a FIFO, a directory) and a device another program holds.
int OpenServedDevice(const std::string& path, uint32_t baud, std::string* error);
// Opens the device as OpenServedDevice does and closes it again; returns the rate it holds after being set to
// `baud`, or 0 with the reason in *error. A USB gadget's tty keeps its old rate: it carries no line rate.
uint32_t ProbeServedDevice(const std::string& path, uint32_t baud, std::string* error);
// Closes a descriptor from OpenServedDevice, giving the device up for other programs.
void CloseServedDevice(int fd);

}  // namespace sim
