// Saving the connection table and the log from the main window, and the
// log's automatic save beside the executable.
#include "ui/main_form_fixture.h"

#include <QAction>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/temp_folder.h"
#include "ui/connection_grid.h"

namespace tarnwick::testing {
namespace {

class Reports : public MainFormFixture {
protected:
    TTempFolder Folder;
    void SetUp() override {
        MainFormFixture::SetUp();
        ExecutableDir = Folder.Path();
    }
    TMain_F& CreateAnswering(std::optional<std::string> file) {
        TMain_F& form = Create();
        form.AskReportFile = [this, file](QWidget*, const std::string& last) {
            Proposed.push_back(last);
            return file;
        };
        return form;
    }
    static std::string Read(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::vector<std::string> Proposed;
};

TEST_F(Reports, TableAndLogAreSavedAndTheLastNameIsProposedAgain) {
    const std::string file = ExecutableDir + "/report.htm";
    TMain_F& form = CreateAnswering(file);
    ASSERT_TRUE(WaitForRefreshes(1));
    ASSERT_TRUE(form.actionSaveExecute());
    const std::string table = Read(file);
    EXPECT_NE(table.find(">Process</th>"), std::string::npos);
    EXPECT_NE(table.find("client"), std::string::npos);
    EXPECT_NE(table.find("\r\n"), std::string::npos);

    form.AddLog("<b>markup</b> & more", lkRule);
    ASSERT_TRUE(form.actionSaveLogExecute());
    const std::string log = Read(file);
    EXPECT_NE(log.find("&lt;b&gt;markup&lt;/b&gt; &amp; more"), std::string::npos);
    EXPECT_EQ(Proposed, (std::vector<std::string>{"", file}));
}

TEST_F(Reports, TheTableSavedIsWhatTheGridShowsAndItsTitleSaysSo) {
    const std::string file = ExecutableDir + "/report.htm";
    TMain_F& form = CreateAnswering(file);
    ASSERT_TRUE(WaitForRefreshes(1));
    form.grdNetStatList->ApplyFilter("udp");
    form.grdNetStatList->ApplySort(TGridSort{2, true});  // Local Port, down
    ASSERT_TRUE(form.actionSaveExecute());
    const std::string table = Read(file);
    EXPECT_NE(table.find("Tarnwick 1.0 (matching &quot;udp&quot;, sorted by Local Port, descending)\r\n"),
              std::string::npos);
    EXPECT_NE(table.find("<tr><td>1</td><td>*</td><td>*</td><td>6002</td>"), std::string::npos);
    EXPECT_NE(table.find("<tr><td>3</td><td>*</td><td>*</td><td>6000</td>"), std::string::npos);
    EXPECT_EQ(table.find("<td>4</td>"), std::string::npos);
}

TEST_F(Reports, ClearingWithYesOffersTheSaveAndEmptiesTheLogEvenWhenCancelled) {
    TMain_F& form = CreateAnswering(std::nullopt);
    form.AddLog("entry", lkInfo);
    Boxes.Answers = {true};
    form.actionClearLog->trigger();
    EXPECT_EQ(Proposed.size(), 1u);
    EXPECT_EQ(form.Log().Count(), 0u);
}

TEST_F(Reports, AFailedSaveSaysWhy) {
    TMain_F& form = CreateAnswering(ExecutableDir + "/no/such/folder/report.htm");
    EXPECT_FALSE(form.actionSaveExecute());
    ASSERT_EQ(Boxes.Shown.size(), 1u);
    EXPECT_TRUE(Boxes.Shown[0].startsWith("Cannot create file \"")) << Boxes.Shown[0].toStdString();
}

TEST_F(Reports, TheLongLogSavesItselfBesideTheExecutable) {
    TMain_F& form = Create();
    for (int i = 0; i < 1001; ++i) form.AddLog("entry " + std::to_string(i), lkConnect);
    ASSERT_EQ(form.Log().Count(), 1u);
    EXPECT_TRUE(form.Log().Entry(0).Line.ends_with("Auto Save and Clear Log."));
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ExecutableDir + "/Logs")) {
        ++files;
        EXPECT_NE(Read(entry.path()).find("entry 1000"), std::string::npos);
    }
    EXPECT_EQ(files, 1u);
}

}  // namespace
}  // namespace tarnwick::testing
