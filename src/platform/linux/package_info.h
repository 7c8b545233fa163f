// Version information of Linux executables.
//
// A PE file (one run under Wine, say) is read through its own VS_VERSIONINFO
// resource. Any other executable borrows the fields of the Debian package
// that owns it, under the same keys:
//   ProductName      the package's name
//   ProductVersion   its version
//   FileVersion      its version
//   CompanyName      its maintainer
//   FileDescription  its short description
//   Comments         its homepage
//   InternalName     the executable's file name
//   LegalCopyright   the first copyright line of /usr/share/doc/<package>/copyright
// under the translation 040904B0. An executable that no package owns has no
// version information: every field is empty.
//
// dpkg-query runs with a fixed argument list (never through a shell), its
// output read through a pipe.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/pe_version_info.h"

namespace tarnwick {

struct TPackageInfo {
    std::string Package;     // name without architecture, "coreutils"
    std::string Version;
    std::string Maintainer;
    std::string Summary;     // first line of the description
    std::string Homepage;
    std::string Copyright;   // FirstCopyrightLine of the copyright file
    std::string IconName;    // Icon= of the package's desktop entry for this executable
};

// The forms under which dpkg may have recorded `path`, in the order tried:
// the path, its resolved form (symbolic links followed), and for each the
// twin across the merged /usr (/bin <-> /usr/bin, /sbin <-> /usr/sbin,
// /lib* <-> /usr/lib*). No duplicates.
std::vector<std::string> PackagePathCandidates(const std::string& path);

// The package owning `path` as dpkg-query -S names it ("libc6:amd64" for a
// multi-arch package); diversions are passed over. nullopt when none does.
std::optional<std::string> OwningPackage(const std::string& path);

// The package fields of the executable `path`, or nullopt when no package
// owns it or dpkg cannot be asked.
std::optional<TPackageInfo> PackageInfoOf(const std::string& path);

// The first line of a copyright file that starts with "Copyright" (any case,
// after leading blanks) and holds a digit: a year, so headings such as
// "Copyright and license" and an empty "Copyright:" field are passed over.
// The line is returned trimmed; the field form of machine-readable files,
// "Copyright: 1994-2023 Free Software Foundation, Inc.", loses its colon:
// "Copyright 1994-2023 Free Software Foundation, Inc.". Empty when none.
std::string FirstCopyrightLine(std::string_view text);

// The Icon= value of a desktop entry whose Exec= command's file name is
// `exeName`; empty when the entry runs something else or has no icon.
std::string DesktopEntryIcon(std::string_view desktopEntry, std::string_view exeName);

// The version block standing for `package`'s fields, for the executable `path`.
TVersionBlock PackageVersionBlock(const TPackageInfo& package, const std::string& path);

// The version information of the file `path`: its PE resource, else its
// package's fields; nullopt when it has neither.
std::optional<TVersionBlock> ReadFileVersionInfo(const std::string& path);

// What the process information dialog shows of the executable `path`.
TProcessInfoFields ReadProcessInfoFields(const std::string& path);

}  // namespace tarnwick
