// Version fields of Linux executables from the packages that own them, on
// this machine's own dpkg database, and the executable paths of processes.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "common/temp_folder.h"
#include "platform/linux/package_info.h"
#include "platform/linux/process_exe.h"

extern char** environ;

namespace tarnwick {
namespace {

// What dpkg-query itself says of `package`'s field `field`.
std::string DpkgField(const std::string& package, const std::string& field) {
    const std::string command = "dpkg-query -W -f='${" + field + "}' " + package;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {};
    std::string out;
    char buffer[256];
    while (size_t got = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, got);
    pclose(pipe);
    return out;
}

TEST(PackageInfoTest, PackagedExecutableShowsItsPackageFields) {
    const TProcessInfoFields fields = ReadProcessInfoFields("/usr/bin/dpkg");
    const std::string version = DpkgField("dpkg", "Version");
    ASSERT_FALSE(version.empty());
    EXPECT_EQ(fields.Values[0], "dpkg");                                // Product Name
    EXPECT_EQ(fields.Values[1], version);                               // Product Version
    EXPECT_EQ(fields.Values[2], DpkgField("dpkg", "Maintainer"));      // Company
    EXPECT_TRUE(fields.Values[3].starts_with("Copyright")) << fields.Values[3];
    EXPECT_EQ(fields.Values[4], "dpkg");                                // Internal Name
    EXPECT_EQ(fields.Values[5], DpkgField("dpkg", "binary:Summary"));  // Description
    EXPECT_EQ(fields.Values[6], DpkgField("dpkg", "Homepage"));        // Comments
    EXPECT_EQ(fields.Values[7], version);                               // File Version

    const TAppObj app(ReadFileVersionInfo("/usr/bin/dpkg"));
    EXPECT_EQ(app.GetTranslation(), "040904B0");
    EXPECT_EQ(app.GetValue("ProductName"), "dpkg");
}

TEST(PackageInfoTest, MergedUsrPathsFindTheirPackage) {
    // /proc/<pid>/exe names /usr/bin/ls where dpkg recorded /bin/ls.
    EXPECT_EQ(OwningPackage("/usr/bin/ls"), "coreutils");
    EXPECT_EQ(OwningPackage("/bin/ls"), "coreutils");
    const auto info = PackageInfoOf("/usr/bin/ls");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->Version, DpkgField("coreutils", "Version"));
    EXPECT_EQ(TAppObj(PackageVersionBlock(*info, "/usr/bin/ls")).GetValue("InternalName"), "ls");

    const auto bin = PackagePathCandidates("/bin/ls");
    EXPECT_NE(std::find(bin.begin(), bin.end(), "/usr/bin/ls"), bin.end());
    const auto lib = PackagePathCandidates("/usr/lib/x86_64-linux-gnu/libc.so.6");
    EXPECT_NE(std::find(lib.begin(), lib.end(), "/lib/x86_64-linux-gnu/libc.so.6"), lib.end());
    EXPECT_EQ(PackagePathCandidates("/opt/none/x"), std::vector<std::string>{"/opt/none/x"});
}

TEST(PackageInfoTest, DpkgQueryIsNeverTakenFromThePath) {
    // A dpkg-query of the user's, first on PATH, that claims every file.
    const testing::TTempFolder scratch;
    const std::filesystem::path folder = scratch.Path();
    std::ofstream(folder / "dpkg-query") << "#!/bin/sh\necho \"impostor: $2\"\n";
    std::filesystem::permissions(folder / "dpkg-query", std::filesystem::perms::owner_all);
    const std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", (folder.string() + ":" + oldPath).c_str(), 1);
    const auto owner = OwningPackage("/usr/bin/ls");
    setenv("PATH", oldPath.c_str(), 1);
    EXPECT_EQ(owner, "coreutils");
}

TEST(PackageInfoTest, UnownedFilesHaveNoFields) {
    char name[] = "/tmp/tarnwick_unowned_XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    chmod(name, 0755);
    EXPECT_FALSE(OwningPackage(name));
    EXPECT_FALSE(ReadFileVersionInfo(name));
    const TProcessInfoFields fields = ReadProcessInfoFields(name);
    for (const std::string& value : fields.Values) EXPECT_EQ(value, "");
    EXPECT_EQ(fields.IconName, "");
    // A pattern dpkg-query would expand is looked up only as written.
    EXPECT_FALSE(OwningPackage("/usr/bin/l*"));
    EXPECT_FALSE(ReadFileVersionInfo("/no/such/file"));
    unlink(name);
}

TEST(PackageInfoTest, PeFilesReadTheirOwnResource) {
    const std::string path = std::string(TARNWICK_PE_FIXTURES) + "/fixture64.exe";
    const TProcessInfoFields fields = ReadProcessInfoFields(path);
    EXPECT_EQ(fields.Values[0], "Tarnwick Fixture");
    EXPECT_EQ(fields.Values[7], "1.2.3.4");
}

TEST(PackageInfoTest, CopyrightLineAndDesktopIcon) {
    EXPECT_EQ(FirstCopyrightLine("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
                                 "Upstream-Name: x\n\nFiles: *\nCopyright: 1994-2023 Free Software Foundation, Inc.\n"
                                 "           2000 Other\n"),
              "Copyright 1994-2023 Free Software Foundation, Inc.");
    EXPECT_EQ(FirstCopyrightLine("Copyright and license\n=====\n\n  COPYRIGHT (C) 1999 Someone  \r\nCopyright 2001 B\n"),
              "COPYRIGHT (C) 1999 Someone");
    EXPECT_EQ(FirstCopyrightLine("Copyright:\nLicense: GPL-2\n"), "");
    EXPECT_EQ(FirstCopyrightLine(""), "");

    const char* entry = "[Desktop Entry]\nName=Editor\nExec=/usr/bin/editor %F\nIcon=accessories-text-editor\n"
                        "[Desktop Action New]\nExec=other\nIcon=wrong\n";
    EXPECT_EQ(DesktopEntryIcon(entry, "editor"), "accessories-text-editor");
    EXPECT_EQ(DesktopEntryIcon(entry, "other"), "");
    EXPECT_EQ(DesktopEntryIcon("[Desktop Entry]\nExec=editor\n", "editor"), "");
}

bool IsExe(const TResult<std::string>& exe, const std::string& path) { return exe && *exe == path; }

TEST(ProcessExeTest, PathOfOwnAndMissingProcesses) {
    EXPECT_EQ(GetProcessExePath(static_cast<uint32_t>(getpid())).Value(),
              std::filesystem::read_symlink("/proc/self/exe").string());
    EXPECT_EQ(GetProcessExePath(0).Failure().Errno, ENOENT);            // no process 0 under /proc
    EXPECT_EQ(GetProcessExePath(4000000000u).Failure().Errno, ENOENT);  // beyond any pid
}

TEST(ProcessExeTest, AnExecutableDeletedOrReplacedSinceItStartedKeepsItsPath) {
    // A file really named with the kernel's mark keeps it while it has its name.
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "tarnwick_deleted_exe";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "sleeper (deleted)").string();
    std::filesystem::copy_file("/bin/sleep", path);
    char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>("30"), nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, path.c_str(), nullptr, nullptr, argv, environ), 0);
    const auto pid = static_cast<uint32_t>(child);
    // Until the exec is done the child still runs this test program.
    for (int i = 0; i < 500 && !IsExe(GetProcessExePath(pid), path); ++i) usleep(10000);
    EXPECT_TRUE(IsExe(GetProcessExePath(pid), path));

    std::filesystem::remove(path);
    EXPECT_TRUE(IsExe(GetProcessExePath(pid), path));
    std::ofstream(path) << "a new file under the old name";  // an upgrade's replacement
    EXPECT_TRUE(IsExe(GetProcessExePath(pid), path));

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::filesystem::remove_all(folder);
}

TEST(ProcessExeTest, LongPathsAreCutAt254Bytes) {
    EXPECT_EQ(CutExePath(std::string(300, 'a')), std::string(254, 'a'));
    EXPECT_EQ(CutExePath(std::string(254, 'a')), std::string(254, 'a'));
    // A two-byte character across the cut is dropped whole.
    const std::string path = std::string(253, 'a') + "\u00E4bc";
    EXPECT_EQ(CutExePath(path), std::string(253, 'a'));
}

}  // namespace
}  // namespace tarnwick
