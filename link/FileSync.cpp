// Durable writes on POSIX systems: the stream's buffer to the kernel, then the file's data to the disk.
#include <unistd.h>

#include "link/MotionFile.h"

bool SyncFileToDisk(std::FILE* file) {
    return std::fflush(file) == 0 && ::fdatasync(::fileno(file)) == 0;
}
