// The paths of whole-file replacement, through std::filesystem only.
#include "link/AtomicFilePaths.h"

#include <atomic>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

fs::path ResolveLink(const fs::path& path) {
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(path, ec))) {
        const fs::path resolved = fs::weakly_canonical(path, ec);
        if (!ec) return resolved;
    }
    return path;
}

fs::path NextSiblingName(const fs::path& target, unsigned long processId) {
    static std::atomic<unsigned> counter{0};
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    return dir / ("." + target.filename().string() + ".tmp" + std::to_string(processId) + "-" +
                  std::to_string(counter++));
}
