// Parameter files on disk: what loads, what is refused, and that a save never leaves a damaged file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

#include "program/ParameterFile.h"
#include "tests/program/TempDir.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

ParameterBytes Counting(uint8_t first) {
    ParameterBytes bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

std::vector<uint8_t> AsVector(const ParameterBytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

// Every entry of the directory, so a forgotten temporary file shows.
std::vector<std::string> Entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs work with an ordinary user's rights and returns its result: in a child process that gives up the
// superuser's rights where the test has them, else right here.
int RunAsOrdinaryUser(const std::function<int()>& work) {
    if (::geteuid() != 0) return work();
    const pid_t child = ::fork();
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(127);
        ::_exit(work());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 255;
    return WEXITSTATUS(status);
}

}  // namespace

TEST(ParameterFile, SavesExactly31BytesAndLoadsThemBack) {
    CTempDir dir;
    const fs::path path = dir.Path() / "servo.dat";
    ASSERT_EQ(SaveParameterFile(path, Counting(10)), EParamFileStatus::Ok);
    EXPECT_EQ(ReadAll(path), AsVector(Counting(10)));
    // Saving again replaces the file whole; nothing else is left in the directory.
    ASSERT_EQ(SaveParameterFile(path, Counting(100)), EParamFileStatus::Ok);
    EXPECT_EQ(ReadAll(path), AsVector(Counting(100)));
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"servo.dat"});

    ParameterBytes loaded{};
    ASSERT_EQ(LoadParameterFile(path, loaded), EParamFileStatus::Ok);
    EXPECT_EQ(loaded, Counting(100));
}

TEST(ParameterFile, RefusesAShortFileAndWhatIsNotARegularFileWithoutTouchingTheBytes) {
    CTempDir dir;
    // Nothing is filled in from a file that does not hold all the bytes.
    for (std::size_t size : {0u, 1u, 30u}) {
        const fs::path shorter = dir.Path() / "short.dat";
        WriteAll(shorter, std::vector<uint8_t>(size, 0x55));
        ParameterBytes untouched = Counting(200);
        EXPECT_EQ(LoadParameterFile(shorter, untouched), EParamFileStatus::TooShort) << size;
        EXPECT_EQ(untouched, Counting(200)) << size;
    }

    ParameterBytes untouched = Counting(200);
    EXPECT_EQ(LoadParameterFile(dir.Path() / "missing.dat", untouched), EParamFileStatus::CannotOpen);
    EXPECT_EQ(LoadParameterFile(dir.Path(), untouched), EParamFileStatus::CannotOpen) << "a directory";
    // A FIFO would block a plain open until someone writes into it.
    const fs::path fifo = dir.Path() / "fifo.dat";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(LoadParameterFile(fifo, untouched), EParamFileStatus::CannotOpen);
    EXPECT_EQ(untouched, Counting(200));
}

TEST(ParameterFile, AFailedSaveLeavesTheDirectoryAndAnyOldFileAsTheyWere) {
    CTempDir dir;
    // A parent that is a regular file refuses every write, even the superuser's.
    const fs::path notADir = dir.Path() / "plain";
    WriteAll(notADir, {1, 2, 3});
    EXPECT_EQ(SaveParameterFile(notADir / "servo.dat", Counting(0)), EParamFileStatus::CannotWrite);
    EXPECT_EQ(SaveParameterFile((dir.Path() / "missing" / "servo.dat").string(), Counting(0)),
              EParamFileStatus::CannotWrite);
    EXPECT_EQ(SaveParameterFile(dir.Path(), Counting(0)), EParamFileStatus::CannotWrite) << "a directory";
    EXPECT_EQ(SaveParameterFile("", Counting(0)), EParamFileStatus::CannotWrite);

    // A read-only file is protection the save respects.
    const fs::path readOnly = dir.Path() / "kept.dat";
    WriteAll(readOnly, AsVector(Counting(50)));
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    EXPECT_EQ(SaveParameterFile(readOnly, Counting(0)), EParamFileStatus::CannotWrite);
    EXPECT_EQ(ReadAll(readOnly), AsVector(Counting(50)));

    EXPECT_EQ(Entries(dir.Path()), (std::vector<std::string>{"kept.dat", "plain"}));
}

// A writable file in a folder the user cannot write to is still saved (in place, as nothing can be made
// beside it); a read-only file there is still refused. The superuser writes any folder, so the saves run
// as an ordinary user.
TEST(ParameterFile, AWritableFileInALockedFolderIsSavedInPlace) {
    CTempDir dir;
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    const fs::path locked = dir.Path() / "locked";
    fs::create_directory(locked);
    WriteAll(locked / "old.dat", std::vector<uint8_t>(40, 0xEE));
    WriteAll(locked / "kept.dat", AsVector(Counting(70)));
    ASSERT_EQ(::chmod((locked / "old.dat").c_str(), 0666), 0);
    ASSERT_EQ(::chmod((locked / "kept.dat").c_str(), 0444), 0);
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);

    const int outcome = RunAsOrdinaryUser([&] {
        int failures = 0;
        if (SaveParameterFile(locked / "old.dat", Counting(1)) != EParamFileStatus::Ok) failures |= 1;
        if (SaveParameterFile(locked / "kept.dat", Counting(2)) != EParamFileStatus::CannotWrite)
            failures |= 2;
        if (SaveParameterFile(locked / "new.dat", Counting(3)) != EParamFileStatus::CannotWrite)
            failures |= 4;
        return failures;
    });
    EXPECT_EQ(outcome & 1, 0) << "the writable file was refused";
    EXPECT_EQ(outcome & 2, 0) << "the read-only file was not refused";
    EXPECT_EQ(outcome & 4, 0) << "a new file appeared in the locked folder";
    EXPECT_EQ(ReadAll(locked / "old.dat"), AsVector(Counting(1))) << "cut to 31 bytes";
    EXPECT_EQ(ReadAll(locked / "kept.dat"), AsVector(Counting(70)));
    EXPECT_EQ(Entries(locked), (std::vector<std::string>{"kept.dat", "old.dat"}));
    ::chmod(locked.c_str(), 0755);
}

TEST(ParameterFile, ASaveKeepsTheOldFilesPermissionsAndWritesThroughALink) {
    CTempDir dir;
    const fs::path path = dir.Path() / "shared.dat";
    WriteAll(path, AsVector(Counting(0)));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(SaveParameterFile(path, Counting(1)), EParamFileStatus::Ok);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    const fs::path link = dir.Path() / "link.dat";
    fs::create_symlink(path, link);
    ASSERT_EQ(SaveParameterFile(link, Counting(2)), EParamFileStatus::Ok);
    EXPECT_TRUE(fs::is_symlink(link)) << "the link stays a link";
    EXPECT_EQ(ReadAll(path), AsVector(Counting(2)));
}
