// The Windows services on the real system (under Wine in CI): processes,
// version information against the program's own PE reader, the Run key read
// back by reg.exe, closing connections, starting programs, wake-ups and the
// program's files.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/temp_folder.h"
#include "loopback_sockets.h"
#include "platform/atomic_file.h"
#include "platform/descriptor_wait.h"
#include "platform/pipe_wakeup.h"
#include "platform/program_environment.h"
#include "platform/record_file.h"
#include "platform/windows/registry_autostart.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/windows_connection_killer.h"
#include "platform/windows/windows_process_list.h"
#include "platform/windows/windows_program_launcher.h"
#include "platform/windows/windows_version_info.h"

namespace tarnwick {
namespace {

using testing::TTempFolder;

std::string OwnExePath() {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return Utf8Text(std::wstring_view(path, length));
}

std::string SystemFolder() {
    wchar_t path[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    return Utf8Text(std::wstring_view(path, length));
}

TEST(WindowsProcesses, TheSnapshotAndTheImagePathNameThisProcess) {
    const std::string exe = OwnExePath();
    const std::string name = exe.substr(exe.find_last_of('\\') + 1);
    TWindowsProcessList list;
    const auto processes = list.TakeSnapshot();
    ASSERT_TRUE(processes) << processes.Failure().Text();
    const auto self = std::find_if(processes->begin(), processes->end(),
                                   [](const TProcessEntry& p) { return p.Pid == ::GetCurrentProcessId(); });
    ASSERT_NE(self, processes->end());
    EXPECT_EQ(self->ExeFile, name);

    const TResult<std::string> path = GetProcessExePath(::GetCurrentProcessId());
    ASSERT_TRUE(path) << path.Failure().Text();
    EXPECT_EQ(*path, exe);
    EXPECT_FALSE(GetProcessExePath(0xFFFFFFF0u));
}

// The version fixtures (tests/fixtures/pe), copied beside the test program.
std::string FixturePath(const std::string& name) {
    const std::string exe = OwnExePath();
    return exe.substr(0, exe.find_last_of('\\')) + "\\pe\\" + name;
}

TEST(WindowsVersionInfo, WindowsReadsWhatTheProgramsOwnReaderReads) {
    for (const char* name : {"fixture64.exe", "fixture32.exe"}) {
        const std::string path = FixturePath(name);
        std::ifstream in(std::filesystem::path(WideText(path)), std::ios::binary);
        const std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto expected = ProcessInfoValues(TAppObj(ReadPeVersionInfo(image)));
        ASSERT_FALSE(expected[0].empty()) << path << " has no product name to compare";
        EXPECT_EQ(ReadProcessInfoFields(path).Values, expected) << name;
    }
    EXPECT_EQ(ReadProcessInfoFields(FixturePath("missing.exe")).Values, decltype(TProcessInfoFields::Values){});
}

// What `reg query` says of the value `name` of the Run key: its lines.
std::string RegQuery(const std::string& name) {
    const std::string command = "reg query \"HKCU\\" + std::string(kRunKeyPath) + "\" /v \"" + name + "\" 2>&1";
    FILE* pipe = ::_wpopen(WideText(command).c_str(), L"r");
    if (pipe == nullptr) return "(reg could not be run)";
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    ::_pclose(pipe);
    return output;
}

TEST(RegistryAutostart, EnableWritesTheRunValueAndDisableRemovesIt) {
    const std::string name = "tarnwick-test-" + std::to_string(::GetCurrentProcessId()) + ".exe";
    const std::string path = "C:\\Program Files\\Tarnwick Test\\" + name;
    TRegistryAutostart autostart;
    ASSERT_TRUE(autostart.Enable(name, path));
    // "    <name>    REG_SZ    <data>"
    const std::string written = RegQuery(name);
    const size_t type = written.find("    REG_SZ    ");
    ASSERT_NE(type, std::string::npos) << written;
    EXPECT_NE(written.rfind(name, type), std::string::npos) << written;
    const size_t data = type + std::string("    REG_SZ    ").size();
    EXPECT_EQ(written.substr(data, written.find_first_of("\r\n", data) - data), path) << written;
    autostart.Disable(name);
    EXPECT_EQ(RegQuery(name).find(path), std::string::npos);
    autostart.Disable(name);  // gone already: no error
}

TEST(WindowsConnectionKiller, ClosesAnIpv4ConnectionOrSaysWhyNotAndRefusesIpv6) {
    ASSERT_TRUE(StartWinsock());
    const TUniqueSocket listener = testing::Listen(AF_INET);
    const uint16_t port = testing::LocalPortOf(listener.Get());
    const auto connection = testing::ConnectIpv4(listener.Get(), port);
    TTcpRow row;
    row.State = TTcpState::Established;
    row.LocalAddr = row.RemoteAddr = TInetAddress::Ipv4(127, 0, 0, 1);
    row.LocalPort = testing::LocalPortOf(connection.Client.Get());
    row.RemotePort = port;

    TWindowsConnectionKiller killer;
    const TStatus killed = killer.KillTcp(row);
    if (killed) {
        // Closed: the peer's end reads a reset (or the end of the stream) soon.
        WSAPOLLFD server{connection.Server.Get(), POLLRDNORM, 0};
        ASSERT_EQ(::WSAPoll(&server, 1, 5000), 1) << "the peer saw nothing of the close";
        char byte = 0;
        EXPECT_LE(::recv(connection.Server.Get(), &byte, 1, 0), 0);
    } else {
        // Not closed: the reason says so (an administrator's right, or a
        // system that only pretends), and the connection still works.
        std::printf("The close was refused: %s\n", killed.Failure().Text().c_str());
        EXPECT_FALSE(killed.Failure().Text().empty());
        EXPECT_EQ(::send(connection.Client.Get(), "x", 1, 0), 1);
    }

    TTcpRow row6 = row;
    row6.LocalAddr = row6.RemoteAddr = TInetAddress::Ipv6(*ParseIp6("::1"));
    const TStatus refused = killer.KillTcp(row6);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.Failure().Context.find("IPv6"), std::string::npos);
}

TEST(WindowsProgramLauncher, StartsAProgramAndSaysWhenThereIsNone) {
    TWindowsProgramLauncher launcher;
    EXPECT_TRUE(launcher.Launch(SystemFolder() + "\\hostname.exe"));
    const TStatus missing = launcher.Launch(SystemFolder() + "\\no-such-program.exe");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.Failure().Errno, ENOENT);
}

TEST(SocketPairWakeup, ReadableOnceSignalledUntilCleared) {
    TPipeWakeup wakeup;
    TWatchedFd watched[2] = {{wakeup.Fd()}, {-1}};
    ASSERT_TRUE(WaitForReadable(watched, 0));
    EXPECT_FALSE(watched[0].Ready);
    wakeup.Signal();
    wakeup.Signal();
    ASSERT_TRUE(WaitForReadable(watched, 5000));
    EXPECT_TRUE(watched[0].Ready);
    EXPECT_FALSE(watched[1].Ready);
    wakeup.Clear();
    ASSERT_TRUE(WaitForReadable(watched, 0));
    EXPECT_FALSE(watched[0].Ready);
}

TEST(WindowsFiles, WholeFilesAreReplacedReadAndRefusedAsTheContractSays) {
    TTempFolder folder;
    const std::string path = folder.Write("Option.ini", "old");
    ASSERT_TRUE(WriteWholeFile(path, "new text"));
    EXPECT_EQ(folder.Read("Option.ini"), "new text");
    const auto read = ReadWholeFile(path);
    ASSERT_TRUE(read && *read);
    EXPECT_EQ(**read, "new text");
    EXPECT_FALSE(*ReadWholeFile(folder.File("missing.ini")));
    EXPECT_EQ(ReadWholeFile(folder.Path()).Failure().Errno, EISDIR);

    // A read-only file is the user's word: not replaced.
    ASSERT_TRUE(::SetFileAttributesW(WideText(path).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(WriteWholeFile(path, "again").Failure().Errno, EACCES);
    EXPECT_EQ(folder.Read("Option.ini"), "new text");
    ::SetFileAttributesW(WideText(path).c_str(), FILE_ATTRIBUTE_NORMAL);

    EXPECT_FALSE(*WriteNewFile(path, "taken"));
    EXPECT_TRUE(*WriteNewFile(folder.File("Log20261207-001.htm"), "page"));
    std::vector<std::string> names;
    ASSERT_TRUE(ForEachFolderEntry(folder.Path(), [&](std::string_view name) { names.emplace_back(name); }));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Log20261207-001.htm", "Option.ini"}));
}

// A recording that failed midway is cut back to its last whole record, from
// where it began; a file in the way is emptied first.
TEST(WindowsFiles, ARecordingEmptiesItsFileAndIsCutBackToWhatItWrote) {
    TTempFolder folder;
    const std::string path = folder.Write("capture.pcapng", "an older capture");
    auto file = CreateRecordFile(path);
    ASSERT_TRUE(file) << file.Failure().Text();
    const std::string bytes = "whole block, half a block";
    size_t written = 0;
    ASSERT_TRUE((*file)->Write({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, written));
    EXPECT_EQ(written, bytes.size());
    ASSERT_TRUE((*file)->CutTo(11));
    ASSERT_TRUE((*file)->Write({reinterpret_cast<const uint8_t*>("."), 1}, written));
    file->reset();
    EXPECT_EQ(folder.Read("capture.pcapng"), "whole block.");
    EXPECT_FALSE(CreateRecordFile(folder.File("missing\\capture.pcapng")));
}

TEST(WindowsFolders, AWritableFolderIsPortableUnlessItIsTheBinOfAnInstallation) {
    TTempFolder root;
    std::filesystem::create_directories(std::filesystem::path(WideText(root.File("bin"))));
    EXPECT_TRUE(IsPortableFolder(root.File("bin")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(std::filesystem::path(WideText(root.File("bin")))),
                            std::filesystem::directory_iterator{}),
              0) << "the probe of the folder stayed";
    EXPECT_FALSE(IsPortableFolder(root.File("missing")));
    std::filesystem::create_directories(std::filesystem::path(WideText(root.File("share/tarnwick"))));
    EXPECT_FALSE(IsPortableFolder(root.File("bin")));
}

}  // namespace
}  // namespace tarnwick
