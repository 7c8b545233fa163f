// Texts the program shows and writes exactly as they have always read, odd
// spellings, capitals and punctuation included. Users know them, and their
// scripts and log parsers match on them: they are kept as they are on
// purpose. Do not "correct" them.
#pragma once

namespace tarnwick {

// Commands and options.
inline constexpr const char* kProcessInfoCommand = "&Process Infomation";
inline constexpr const char* kTrayCommand = "&Tray to Task Bar";
inline constexpr const char* kAutoStartOption = "Run Tarnwick at Windows Startup";

// Message boxes.
inline constexpr const char* kNoProcessExeFile = "Can't Found Process EXE File!";
inline constexpr const char* kExitQuestion = "Are you sure Exit?";
inline constexpr const char* kSaveBeforeClearQuestion = "Do you want to Save the log before clear Log?";
inline constexpr const char* kUdpIsConnectionLess = "UDP protocol is connection-less";
inline constexpr const char* kOnlyEstablishedCanClose = "I can only close Established connections!";
inline constexpr const char* kMustSelectRule = "Must Select one Rules!";

// Event log lines.
inline constexpr const char* kDisconnectedTo = "DisConnected to ";
inline constexpr const char* kStatusChangedTo = "Connection Status Changed to ";
inline constexpr const char* kStatusChangedRemoteAddr = ",RemoteAddr ";
inline constexpr const char* kOnPort = " On Port:";
inline constexpr const char* kAutoSavedLine = "Auto Save and Clear Log.";
inline constexpr const char* kRuleKillLine = ",Kill the Connection!";

}  // namespace tarnwick
