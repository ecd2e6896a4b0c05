// Durable writes on Windows: the stream's buffer to the system, then the file's data to the disk.
#include <io.h>

#include "link/MotionFile.h"

bool SyncFileToDisk(std::FILE* file) {
    return std::fflush(file) == 0 && ::_commit(::_fileno(file)) == 0;
}
