// Which copy of tarnwick-helper the programs start: only one that no one but
// root or the user could have put there or changed.
#include "platform/linux/helper_location.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/loopback_helpers.h"

namespace tarnwick {
namespace {

// <dir>/bin holds the program, <dir>/libexec/tarnwick the installed helper.
class HelperLocation : public testing::Test {
protected:
    void SetUp() override {
        Dir_.MakeDir("bin");
        Dir_.MakeDir("libexec/tarnwick");
        Root_ = std::filesystem::canonical(Dir_.Path()).string();
        for (const char* folder : {"", "/bin", "/libexec", "/libexec/tarnwick"}) Chmod(Root_ + folder, 0755);
        Beside_ = Root_ + "/bin/tarnwick-helper";
        Installed_ = Root_ + "/libexec/tarnwick/tarnwick-helper";
    }

    static void Chmod(const std::string& path, mode_t mode) { ASSERT_EQ(chmod(path.c_str(), mode), 0) << path; }

    void Place(const std::string& path) {
        Dir_.WriteFile(path.substr(Root_.size() + 1), "#!/bin/sh\n");
        Chmod(path, 0755);
    }

    THelperLocation Locate(uid_t caller = geteuid()) const { return LocateHelperProgram(Root_ + "/bin", caller); }

    std::string Refusal(const std::string& where, const std::string& path, const std::string& why) const {
        return "tarnwick-helper " + where + " (" + path + ") was not used: " + why;
    }

    test::TTempDir Dir_;
    std::string Root_;
    std::string Beside_;
    std::string Installed_;
};

TEST_F(HelperLocation, ACopyBesideThatOnlyItsOwnerMayChangeIsUsed) {
    Place(Beside_);
    Place(Installed_);
    const THelperLocation location = Locate();
    EXPECT_EQ(location.Program, Beside_);
    EXPECT_EQ(location.Refused, "");
}

TEST_F(HelperLocation, ACopyOthersMayChangeGivesWayToTheInstalledOneWithTheReason) {
    Place(Beside_);
    Place(Installed_);
    Chmod(Beside_, 0775);
    THelperLocation location = Locate();
    EXPECT_EQ(location.Program, Installed_);
    EXPECT_EQ(location.Refused, Refusal("beside the program", Beside_, "it may be written by others"));

    // Sticky or not, its own folder lets others put another file in its place.
    Chmod(Beside_, 0755);
    Chmod(Root_ + "/bin", 01777);
    location = Locate();
    EXPECT_EQ(location.Program, Installed_);
    EXPECT_EQ(location.Refused,
              Refusal("beside the program", Beside_, "its folder " + Root_ + "/bin may be written by others"));

    // Without an installed copy, the start says none is installed, and why
    // the one beside was not used.
    ASSERT_EQ(unlink(Installed_.c_str()), 0);
    location = Locate();
    EXPECT_EQ(location.Program, Installed_);
    EXPECT_NE(location.Refused.find("its folder " + Root_ + "/bin"), std::string::npos) << location.Refused;
}

TEST_F(HelperLocation, AFolderAboveMayBeWritableByAllOnlyWhenSticky) {
    Place(Installed_);
    Chmod(Root_, 01777);
    EXPECT_EQ(Locate().Program, Installed_);
    Chmod(Root_, 0777);
    const THelperLocation location = Locate();
    EXPECT_EQ(location.Program, "");
    EXPECT_EQ(location.Refused,
              Refusal("installed", Installed_, "the folder " + Root_ + " may be written by others"));
}

TEST_F(HelperLocation, ACopyOfAnotherUserIsRefused) {
    Place(Beside_);
    // Root owns what it wrote and is trusted anyway: it gives the copy away.
    // A user cannot, and asks as someone else instead.
    uid_t caller = geteuid();
    uid_t owner = geteuid();
    if (caller == 0) {
        owner = 4242;
        ASSERT_EQ(chown(Beside_.c_str(), owner, static_cast<gid_t>(-1)), 0);
    } else {
        caller = owner + 1;
    }
    const THelperLocation location = Locate(caller);
    EXPECT_EQ(location.Program, Installed_);
    EXPECT_EQ(location.Refused, Refusal("beside the program", Beside_,
                                        "it belongs to another user (uid " + std::to_string(owner) + ")"));
}

}  // namespace
}  // namespace tarnwick
