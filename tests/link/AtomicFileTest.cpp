// Whole-file replacement: old or new contents only, permissions kept, and what it refuses to touch.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "link/AtomicFile.h"
#include "tests/program/TempDir.h"

namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void Put(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Runs the write as an unprivileged user when the test runs as root, who may create files anywhere; the
// child's exit code says ok (0), ok in place (1) or failed (2).
int WriteAsUser(const fs::path& path, const std::string& text) {
    const auto code = [&] {
        const CFileWriteResult r = WriteFileAtomically(path.string(), text);
        return r.ok ? (r.inPlace ? 1 : 0) : 2;
    };
    if (::geteuid() != 0) return code();
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        ::_exit(code());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 4;
}

}  // namespace

TEST(AtomicFile, ReplacesTheWholeFileKeepsItsModeAndLeavesNothingBeside) {
    CTempDir dir;
    const fs::path file = dir.Path() / "curve.csv";
    Put(file, std::string(1000, 'x'));
    ::chmod(file.c_str(), 0640);
    const CFileWriteResult result = WriteFileAtomically(file.string(), "short\n");
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_FALSE(result.inPlace);
    EXPECT_EQ(Contents(file), "short\n");
    struct stat st {};
    ::stat(file.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);

    // Through a link the file it names is replaced and the link stays a link.
    const fs::path link = dir.Path() / "latest.csv";
    fs::create_symlink(file, link);
    ASSERT_TRUE(WriteFileAtomically(link.string(), "new\n").ok);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Contents(file), "new\n");
}

TEST(AtomicFile, DirectoriesFifosAndReadOnlyFilesAreRefusedWithTheirCause) {
    CTempDir dir;
    const CFileWriteResult onDir = WriteFileAtomically(dir.Path().string(), "x");
    EXPECT_FALSE(onDir.ok);
    EXPECT_EQ(onDir.error, "is a directory");

    const fs::path fifo = dir.Path() / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    const CFileWriteResult onFifo = WriteFileAtomically(fifo.string(), "x");  // must not hang
    EXPECT_FALSE(onFifo.ok);
    EXPECT_EQ(onFifo.error, "not a regular file");
    EXPECT_TRUE(fs::is_fifo(fifo));

    const fs::path locked = dir.Path() / "keep.csv";
    Put(locked, "precious");
    ::chmod(locked.c_str(), 0444);
    const CFileWriteResult onLocked = WriteFileAtomically(locked.string(), "x");
    EXPECT_FALSE(onLocked.ok);
    EXPECT_EQ(onLocked.error, "Permission denied");
    EXPECT_EQ(Contents(locked), "precious");

    EXPECT_FALSE(WriteFileAtomically("", "x").ok);
    const CFileWriteResult missing = WriteFileAtomically((dir.Path() / "no" / "such.csv").string(), "x");
    EXPECT_EQ(missing.error, "No such file or directory");
}

TEST(AtomicFile, AFolderThatForbidsNewFilesIsWrittenInPlaceOrReported) {
    CTempDir dir;
    const fs::path folder = dir.Path() / "shared";
    fs::create_directory(folder);
    const fs::path file = folder / "plot.png";
    Put(file, std::string(5000, 'o'));
    ::chmod(file.c_str(), 0666);
    ::chmod(dir.Path().c_str(), 0755);
    ::chmod(folder.c_str(), 0555);
    EXPECT_EQ(WriteAsUser(file, "in place"), 1);
    EXPECT_EQ(Contents(file), "in place");
    // No file to overwrite: the folder's refusal is the answer.
    EXPECT_EQ(WriteAsUser(folder / "new.png", "x"), 2);
    EXPECT_FALSE(fs::exists(folder / "new.png"));
}
