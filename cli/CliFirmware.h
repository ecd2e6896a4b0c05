// The client's firmware commands: what an image file holds, and flashing it into one servo.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/CliContext.h"

// brennix firmware FILE [--frames]: length, block count and source kind, then with --frames every block
// frame as hex, one per line. Needs no port. Returns an EExitCode.
int RunFirmwareInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// brennix flash ID FILE: the upgrade page's transfer with a progress line on err. SIGINT cancels before
// the next block. Returns an EExitCode: EXIT_UPGRADE_ERROR or EXIT_UPGRADE_CANCELLED when it did not finish.
int RunFlash(const CCliContext& c, uint8_t id, const std::string& path);
