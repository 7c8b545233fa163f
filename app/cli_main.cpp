// tarnwick-cli: the connection monitor without windows, for servers, scripts
// and tests. Output is one record a line, fields separated by tabs.
#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "cli_capture.h"
#include "cli_commands.h"
#include "cli_info.h"
#include "cli_locate.h"
#include "cli_options.h"
#include "cli_platform.h"
#include "cli_report.h"
#include "common/ini_file.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");  // time stamps in the user's date and time format
    tarnwick::PrepareConsoleOutput();
    const std::vector<std::string> args = tarnwick::CommandLineArguments(argc, argv);
    const auto options = tarnwick::ParseCliOptions(args);
    if (!options) {
        std::cerr << "tarnwick-cli: " << options.Failure().Text() << "\n" << tarnwick::CliUsage();
        return 2;
    }
    try {
        switch (options->Command) {
            case tarnwick::TCliOptions::TCommand::Table: return tarnwick::RunTableCommand(*options);
            case tarnwick::TCliOptions::TCommand::Watch: return tarnwick::RunWatchCommand(*options);
            case tarnwick::TCliOptions::TCommand::Top: return tarnwick::RunTopCommand(*options);
            case tarnwick::TCliOptions::TCommand::Rules: return tarnwick::RunRulesCommand(*options);
            case tarnwick::TCliOptions::TCommand::Kill: return tarnwick::RunKillCommand(*options);
            case tarnwick::TCliOptions::TCommand::Capture: return tarnwick::RunCaptureCommand(options->Capture);
            case tarnwick::TCliOptions::TCommand::Report:
                return options->ReportKind == tarnwick::TCliOptions::TReportKind::Table
                           ? tarnwick::RunReportTableCommand(options->ReportFile)
                           : tarnwick::RunReportLogCommand(options->ReportFile, options->WatchSeconds);
            case tarnwick::TCliOptions::TCommand::Info: return tarnwick::RunInfoCommand(options->Pid);
            case tarnwick::TCliOptions::TCommand::Locate: return tarnwick::RunLocateCommand(options->LocateAddresses);
            case tarnwick::TCliOptions::TCommand::Help: std::cout << tarnwick::CliUsage(); return 0;
        }
    } catch (const std::exception& e) {
        std::cerr << "tarnwick-cli: " << tarnwick::FileErrorText(e) << "\n";
        return 1;
    }
    return 0;
}
