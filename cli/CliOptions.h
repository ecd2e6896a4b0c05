// Command line of the brennix client: global options, then one command with its arguments.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum EExitCode : int {
    EXIT_OK = 0,
    EXIT_NO_REPLY = 1,
    EXIT_BAD_ARGUMENTS = 2,
    EXIT_NO_ADAPTER = 3,
    EXIT_PORT_UNAVAILABLE = 4,
    EXIT_UPGRADE_ERROR = 5,      // the boot loader did not answer, or refused a block
    EXIT_UPGRADE_CANCELLED = 6,  // interrupted; the servo waits in its boot loader for a new transfer
    EXIT_NOT_VERIFIED = 7,       // the servo answered after a change, but not with what was written
    EXIT_RATE_REFUSED = 8,       // the port's driver cannot run the line at the rate asked for
    EXIT_OUTPUT_FAILED = 9,      // what the command printed (or the file it saved) could not be written
};

struct CCliOptions {
    std::string portPath;  // empty: find the adapter by its USB IDs
    uint16_t usbVendorId = 0x16C0;
    uint16_t usbProductId = 0x05E1;
    int baud = 1000000;
    int timeoutMs = 50;
    bool timeoutGiven = false;  // --timeout was on the command line
    int simulatedServos = 0;    // 0: no simulator
    bool trace = false;         // every frame to stderr as it goes
    std::string command;
    std::vector<std::string> arguments;
};

// The options, or nullopt with the reason in *error.
std::optional<CCliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string* error);

// A whole number from decimal or 0x-prefixed hexadecimal text, within [low, high].
std::optional<long> ParseNumber(const std::string& text, long low, long high);
// A data byte from hexadecimal text (with or without 0x).
std::optional<int> ParseHexByte(const std::string& text);

extern const char* const CLI_USAGE;
