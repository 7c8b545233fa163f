// Alert popup logic without windows: the stack of positions, the slide
// frames and the message's line break.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "ui/popup_stack.h"
#include "ui/popup_text.h"

namespace tarnwick::testing {
namespace {

std::vector<int> TakeAll(TPopupStack& stack) {
    std::vector<int> taken;
    while (const std::optional<int> position = stack.Take()) taken.push_back(*position);
    return taken;
}

TEST(PopupStack, FillsUpwardsEvery120RowsUntilNoRoomIsLeft) {
    TPopupStack stack(0, 740);
    EXPECT_EQ(TakeAll(stack), (std::vector<int>{740, 620, 500, 380, 260, 140}));
    EXPECT_EQ(stack.NextTop(), 20);
    EXPECT_EQ(stack.Take(), std::nullopt);  // refused without changing anything
    EXPECT_EQ(stack.NextTop(), 20);
    EXPECT_EQ(stack.Positions().size(), 6u);
    EXPECT_EQ(PopupLeft(1024), 1024 - 181 - 20);

    // The room is measured from the work area's top, not from row 0.
    TPopupStack belowPanel(100, 500);
    EXPECT_EQ(TakeAll(belowPanel), (std::vector<int>{500, 380, 260}));
    TPopupStack tiny(0, 119);
    EXPECT_EQ(tiny.Take(), std::nullopt);
    TPopupStack justEnough(0, 120);
    EXPECT_EQ(justEnough.Take(), 120);
}

TEST(PopupStack, ReleaseKeepsNewAlertsAboveTheHighestOpenOne) {
    TPopupStack stack(0, 740);
    ASSERT_EQ(stack.Take(), 740);
    ASSERT_EQ(stack.Take(), 620);
    stack.Release(740);  // the gap at the bottom is not reused
    EXPECT_EQ(stack.NextTop(), 500);
    EXPECT_EQ(stack.Positions(), std::vector<int>{620});
    ASSERT_EQ(stack.Take(), 500);

    stack.Release(500);  // the highest closed: its place is free again
    EXPECT_EQ(stack.NextTop(), 500);
    stack.Release(620);  // all closed: back to the bottom
    EXPECT_EQ(stack.NextTop(), 740);
    EXPECT_TRUE(stack.Positions().empty());
    EXPECT_EQ(stack.Take(), 740);
}

TEST(PopupStack, AFullStackMakesRoomWhenItsTopAlertCloses) {
    TPopupStack stack(0, 740);
    TakeAll(stack);
    stack.Release(140);
    EXPECT_EQ(stack.Take(), 140);
    stack.Release(380);  // a middle one: the top is still taken
    EXPECT_EQ(stack.Take(), std::nullopt);
    EXPECT_EQ(stack.Positions(), (std::vector<int>{740, 620, 500, 260, 140}));
}

// The whole 23-step sequence is checked on a real window in test_msn_popup.cpp.
TEST(PopupSlide, StepsFiveRowsWithTheBottomRowOnTheSlotAndStopsAtTheLimits) {
    EXPECT_EQ(SlideInStep(599, 1), (TSlideFrame{594, 6, false}));
    EXPECT_EQ(SlideInStep(599, 111), (TSlideFrame{484, 116, true}));
    EXPECT_EQ(SlideOutStep(599, 116), (TSlideFrame{489, 111, false}));
    EXPECT_EQ(SlideOutStep(599, 6), (TSlideFrame{599, 1, true}));
    // Sizes off the 5-row grid stop at the limits instead of overshooting.
    EXPECT_EQ(SlideInStep(50, 8, 10), (TSlideFrame{41, 10, true}));
    EXPECT_EQ(SlideOutStep(50, 3), (TSlideFrame{50, 1, true}));
}

TEST(PopupMessage, AsciiBreaksOnceAfterByte20) {
    EXPECT_EQ(BreakPopupMessage(""), "");
    EXPECT_EQ(BreakPopupMessage("12345678901234567890"), "12345678901234567890");
    EXPECT_EQ(BreakPopupMessage("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), "ABCDEFGHIJKLMNOPQRST\nUVWXYZ");
    EXPECT_EQ(BreakPopupMessage("123456789012345678901"), "12345678901234567890\n1");
    // Only one break; the label wraps the rest.
    EXPECT_EQ(BreakPopupMessage(std::string(50, 'x')), std::string(20, 'x') + "\n" + std::string(30, 'x'));
}

TEST(PopupMessage, MultiByteCharactersAreNeverSplit) {
    const std::string a19(19, 'a');
    const std::string a18(18, 'a');
    // Byte 20 starts a character: the whole character stays on the first line.
    EXPECT_EQ(PopupMessageBreak(a19 + "\xC3\xA9xyz"), 21u);                // é: bytes 20-21
    EXPECT_EQ(PopupMessageBreak(a19 + "\xF0\x9F\x98\x80z"), 23u);          // 😀: bytes 20-23
    // Byte 20 in the middle of a character.
    EXPECT_EQ(PopupMessageBreak(a18 + "\xE2\x82\xAC" "ab"), 21u);          // €: bytes 19-21
    // A character ending at byte 20, or starting at byte 21, needs nothing.
    EXPECT_EQ(PopupMessageBreak(a18 + "\xC3\xA9x"), 20u);
    EXPECT_EQ(PopupMessageBreak(std::string(20, 'a') + "\xC3\xA9"), 20u);
    std::string accents;
    for (int i = 0; i < 15; ++i) accents += "\xC3\xA9";
    EXPECT_EQ(BreakPopupMessage(accents), accents.substr(0, 20) + "\n" + accents.substr(20));
    // Nothing after the straddling character: no empty second line.
    EXPECT_EQ(BreakPopupMessage(a19 + "\xC3\xA9"), a19 + "\xC3\xA9");
    // Stray continuation bytes are not followed beyond one character's length.
    EXPECT_EQ(PopupMessageBreak(a19 + std::string(8, '\x80')), 23u);
}

}  // namespace
}  // namespace tarnwick::testing
