// Replacing a whole file so that readers see the old contents or the new, never a half-written file. Every
// file the desktop tool and the client write goes through here, but for a taught motion's recording, which
// is written row by row as it comes so that a crash loses at most its last second (link/MotionFile.h).
#pragma once

#include <string>
#include <string_view>

// What a write did; `error` names the cause when it failed ("Permission denied", "No space left on device").
struct CFileWriteResult {
    bool ok = false;
    bool inPlace = false;  // the folder allowed no new file, so the existing file was overwritten directly
    std::string error;
};

// Writes the bytes to a new file beside the target, makes them durable and renames it over the target.
// When the folder forbids creating that file but the target exists and may be written, the target is
// rewritten in place instead. A symbolic link is followed to the file it names; an existing target keeps
// its permissions. Directories, FIFOs and other non-regular files are refused, never opened. On failure the
// target is as it was, except after a failed in-place write.
//
// Thread rules: may be called from any thread; concurrent writes to the same path leave one of them.
CFileWriteResult WriteFileAtomically(const std::string& path, std::string_view bytes);
