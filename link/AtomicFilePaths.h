// The paths whole-file replacement works with, the same on every system: the file a link names, and the
// names tried for the temporary sibling.
//
// Thread rules: any thread; the sibling counter is shared and atomic.
#pragma once

#include <filesystem>

// The file a symbolic link names, so replacing it keeps the link; the path itself when it is no link or
// cannot be resolved.
std::filesystem::path ResolveLink(const std::filesystem::path& path);

// The next name to try for a hidden temporary beside target: ".<name>.tmp<process>-<n>", n counting up
// across the whole process so two threads never try the same name.
std::filesystem::path NextSiblingName(const std::filesystem::path& target, unsigned long processId);
