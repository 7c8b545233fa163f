// The report pages byte for byte, the placeholders, escaping and saving.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>

#include "log/html_report.h"

namespace tarnwick {
namespace {

// The page's lines, each ended by CR LF. Blanks at line ends are part of the page.
std::string Page(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

const char* const kTableStyle[] = {"<table border=\"1\" ", "cellpadding=\"2\" ", "cellspacing=\"0\" ",
                                   "style=\"border-collapse: collapse; ", "font-family:Tahoma", "; font-size:8pt\" ",
                                   "bordercolor=\"#111111\" ", "width=\"100%\">"};

std::string ExpectedTablePage(const std::string& host, const std::string& time, const std::string& body) {
    std::string page = Page({"<HTML>", "<BODY>", "<H2>", "Tarnwick 1.0", "</H2>", "<H3>" + host + "</H3><br>",
                             "<code>", time + "<br>", "<br><br>", "</code>"});
    for (const char* line : kTableStyle) page += Page({line});
    page += Page({"<tr>", "<th ", "bgcolor=\"#D6D6D6\">#</th>", "<th ", "bgcolor=\"#D6D6D6\">Remote ", "Addr</th>",
                  "<th ", "bgcolor=\"#D6D6D6\">Remote ", "Port</th>", "<th ", "bgcolor=\"#D6D6D6\">Local Port</th>",
                  "<th ", "bgcolor=\"#D6D6D6\">Protocol</th>", "<th ", "bgcolor=\"#D6D6D6\">Status</th>", "<th ",
                  "bgcolor=\"#D6D6D6\">Process</th>", "</tr>", body, "</table>", "</body>", "</html>"});
    return page;
}

std::string ExpectedLogPage(const std::string& host, const std::string& time, const std::string& body) {
    std::string page = Page({"<HTML>", "<BODY bgcolor=#0>", "<H2>", "<font color=#FFFFFF>Tarnwick Log ", "Files</font>",
                             "</H2>", "<H3><font color=#FFFFFF>" + host + "</font></H3><br>",
                             "<font color=#FFFFFF>" + time + "</font><br>", ""});
    for (const char* line : kTableStyle) page += Page({line});
    page += Page({body, "</table>", "</body>", "</html>"});
    return page;
}

const TReportHeading kHeading{"WS01(192.168.0.5)", "Time:..............12/06/26 10:20:30"};

TEST(HtmlReport, TableReportOfSmallGridByteForByte) {
    TGridRows grid;
    grid.SetRowCount(3);
    grid.WriteRow(1, {"example.org", "https", "ws01:50312", "TCP", "Established", "firefox"});
    grid.WriteRow(2, {"*", "*", "ws01:domain(udp)", "UDP", "-", "dnsmasq"});
    const std::string body =
        "<tr><td>1</td><td>example.org</td><td>https</td><td>ws01:50312</td><td>TCP</td><td>Established</td>"
        "<td>firefox</td></tr>"
        "<tr><td>2</td><td>*</td><td>*</td><td>ws01:domain(udp)</td><td>UDP</td><td>-</td><td>dnsmasq</td></tr>";
    EXPECT_EQ(BuildTableReport(grid, kHeading), ExpectedTablePage(kHeading.Host, kHeading.Time, body));
}

TEST(HtmlReport, EmptyGridGivesOneNumberedRowOfEmptyCells) {
    const TGridRows grid;  // the header and its one empty data row
    EXPECT_EQ(BuildTableReport(grid, kHeading),
              ExpectedTablePage(kHeading.Host, kHeading.Time,
                                "<tr><td>1</td><td></td><td></td><td></td><td></td><td></td><td></td></tr>"));
}

TEST(HtmlReport, LogReportColoursEachKindOldestFirst) {
    const std::vector<TLogEntry> entries{{"12/06/26 10:00:00    Connection Status Changed to Close_Wait", lkInfo},
                                         {"12/06/26 10:00:01    Enabled Rules: Web", lkRule},
                                         {"12/06/26 10:00:02    firefox Connected to a", lkConnect},
                                         {"12/06/26    firefox DisConnected to a", lkDisconnect}};
    const std::string body =
        "<tr><td><font size=2 color=#9CFF9C>12/06/26 10:00:00    Connection Status Changed to Close_Wait"
        "</font></td></tr>"
        "<tr><td><font size=2 color=#CEC6FF>12/06/26 10:00:01    Enabled Rules: Web</font></td></tr>"
        "<tr><td><font size=2 color=#FFFF00>12/06/26 10:00:02    firefox Connected to a</font></td></tr>"
        "<tr><td><font size=2 color=#00FFFF>12/06/26    firefox DisConnected to a</font></td></tr>";
    EXPECT_EQ(BuildLogReport(entries, kHeading), ExpectedLogPage(kHeading.Host, kHeading.Time, body));
}

TEST(HtmlReport, EmptyLogStillFillsHeading) {
    EXPECT_EQ(BuildLogReport({}, kHeading), ExpectedLogPage(kHeading.Host, kHeading.Time, ""));
}

TEST(HtmlReport, InsertedTextsAreEscaped) {
    EXPECT_EQ(HtmlEscape("a<b>&\"c\"'"), "a&lt;b&gt;&amp;&quot;c&quot;'");

    TGridRows grid;
    grid.WriteRow(1, {"<script>x</script>", "", "", "", "", "a&b \"q\""});
    const std::string table = BuildTableReport(grid, {"host<i>", "t&"});
    EXPECT_NE(table.find("<td>&lt;script&gt;x&lt;/script&gt;</td>"), std::string::npos);
    EXPECT_NE(table.find("<td>a&amp;b &quot;q&quot;</td></tr>"), std::string::npos);
    EXPECT_NE(table.find("<H3>host&lt;i&gt;</H3>"), std::string::npos);
    EXPECT_NE(table.find("t&amp;<br>"), std::string::npos);
    EXPECT_EQ(table.find("<script>"), std::string::npos);

    const std::string log = BuildLogReport({{"10:00    <b>&</b>", lkRule}}, kHeading);
    EXPECT_NE(log.find(">10:00    &lt;b&gt;&amp;&lt;/b&gt;</font>"), std::string::npos);
}

TEST(HtmlReport, PlaceholdersInsideInsertedTextsStayAsTheyAre) {
    // Filled as given: each placeholder of the template once, none inside the texts.
    EXPECT_EQ(FillReportTemplate("[<?HOST?>|<?TIME?>|<?BODY?>|<?HOST?>]", "<?TIME?>", "<?BODY?>", "<?HOST?>"),
              "[<?TIME?>|<?BODY?>|<?HOST?>|<?HOST?>]");
    // A placeholder missing from the template is skipped; the others still go in.
    EXPECT_EQ(FillReportTemplate("<?BODY?> and <?HOST?>", "h", "t", "b"), "b and h");

    // In a page the texts are escaped as well, so they show the placeholder text.
    const std::string log = BuildLogReport({{"x    <?HOST?> <?BODY?>", lkInfo}}, {"<?TIME?>", "T"});
    EXPECT_EQ(log, ExpectedLogPage("&lt;?TIME?&gt;", "T",
                                   "<tr><td><font size=2 color=#9CFF9C>x    &lt;?HOST?&gt; &lt;?BODY?&gt;"
                                   "</font></td></tr>"));
}

TEST(HtmlReport, HostTextAndTimeText) {
    EXPECT_EQ(HostText("WS01", {"192.168.0.5", "10.0.0.1"}), "WS01(192.168.0.5)");
    EXPECT_EQ(HostText("WS01", {}), "WS01");
    EXPECT_EQ(ReportTimeText(std::chrono::system_clock::now()).rfind("Time:..............", 0), 0u);
    const std::string local = LocalHostText();  // this machine: its name, maybe an address
    EXPECT_FALSE(local.empty());
    EXPECT_LE(local.find('('), 63u);
}

class SaveReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = std::filesystem::temp_directory_path() /
              (std::string("tarnwick-report-") +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(Dir);
        std::filesystem::create_directories(Dir);
    }
    void TearDown() override { std::filesystem::remove_all(Dir); }
    static std::string Read(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::filesystem::path Dir;
};

TEST_F(SaveReportTest, WritesBytesAndReplacesAnExistingFile) {
    const std::string path = (Dir / "report.htm").string();
    SaveReport(path, "first page, much longer\r\n");
    SaveReport(path, "second\r\n");
    EXPECT_EQ(Read(path), "second\r\n");
}

TEST_F(SaveReportTest, FailureNamesTheFullFileAndTheReason) {
    const std::string path = (Dir / "missing" / ".." / "missing" / "report.htm").string();
    try {
        SaveReport(path, "x");
        FAIL() << "no error";
    } catch (const TReportError& e) {
        const std::string named = "Cannot create file \"" + (Dir / "missing" / "report.htm").string() + "\". ";
#ifdef _WIN32
        EXPECT_EQ(std::string(e.what()).substr(0, named.size()), named);  // the reason in Windows's own words
#else
        EXPECT_EQ(std::string(e.what()), named + "No such file or directory");
#endif
    }
}

}  // namespace
}  // namespace tarnwick
