// Where the programs find tarnwick-helper, and which copies they trust to run.
//
// A copy runs with the rights of whoever starts it (and, installed, with its
// file capabilities), so a copy that someone else could have put in place or
// changed is not started: another user could otherwise have a member of the
// group tarnwick run a program of theirs by leaving it beside a copy of
// tarnwick-cli in a shared folder.
#pragma once

#include <sys/types.h>

#include <string>

#include "common/result.h"

namespace tarnwick {

struct THelperLocation {
    // The program to start; empty when every copy found was refused.
    std::string Program;
    // Why copies were passed over, "; "-joined ("tarnwick-helper beside the
    // program (/tmp/x/tarnwick-helper) was not used: its folder /tmp/x may be
    // written by others"); empty when none was.
    std::string Refused;
};

// $TARNWICK_HELPER when set (the user's own choice, taken as it is); else
// LocateHelperProgram for this executable's folder and this user.
THelperLocation FindHelperProgram();

// The first trusted copy of <exeDir>/tarnwick-helper (the build tree) and
// <exeDir>/../libexec/tarnwick/tarnwick-helper (an installed copy). When
// none is trusted and there is no installed copy, the installed path anyway,
// whose start then says that the helper is not installed.
THelperLocation LocateHelperProgram(const std::string& exeDir, uid_t caller);

// Whether the file at `path` (absolute, without symbolic links: what
// realpath gives) may be trusted by `caller`: it and every folder above it
// belong to root or to `caller`, and no one else may write them. Above its
// own folder, a sticky folder writable by all (/tmp) is fine: no one may
// rename or remove there what is not theirs. Fails with why not, in words
// to follow "<the copy> was not used: " ("its folder /x may be written by
// others").
TStatus CheckTrusted(const std::string& path, uid_t caller);

}  // namespace tarnwick
