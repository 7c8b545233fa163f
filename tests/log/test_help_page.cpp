// The help page as the window opens it: its line on the location database
// filled in, in the page as it is shipped.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "log/help_page.h"

namespace tarnwick {
namespace {

TEST(HelpPage, TheShippedPageGetsItsLineOnTheLocationDatabaseEscaped) {
    std::ifstream in(TARNWICK_HELP_PAGE, std::ios::binary);
    const std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(page.empty()) << TARNWICK_HELP_PAGE;
    const std::string filled = FillHelpPage(page, "made <today> & fresh");
    const std::string expected = std::string(kHelpDataElement) + "made &lt;today&gt; &amp; fresh</span>";
    const size_t at = page.find(kHelpDataElement);
    EXPECT_EQ(filled.substr(0, at + expected.size()), page.substr(0, at) + expected);
    EXPECT_TRUE(filled.ends_with(page.substr(page.find("</span>", at) + std::string_view("</span>").size())));
    EXPECT_EQ(FillHelpPage("<p>no such line</p>", "x"), "<p>no such line</p>");
}

}  // namespace
}  // namespace tarnwick
