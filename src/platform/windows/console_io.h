// The command line and the console of a Windows console program, as the
// program's texts are: UTF-8.
#pragma once

#include <string>
#include <vector>

namespace tarnwick {

// The arguments after the program's name, from the wide command line (the
// 8-bit argv is in the system's code page and loses what it cannot hold).
std::vector<std::string> CommandLineArguments();

// Standard output and error written as they are: "\n" stays "\n" (as on
// other systems, for scripts that read the lines), and a console shows the
// UTF-8 texts as UTF-8.
void PrepareConsoleOutput();

}  // namespace tarnwick
