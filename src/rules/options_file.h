// Option.ini, the settings file beside the executable: one section "Option"
// with six keys, read and written with the rules of the INI module (Booleans
// "1"/"0", non-zero meaning true; integers in decimal; a missing or malformed
// value gives the key's default).
#pragma once

#include <cstdint>
#include <string>

namespace tarnwick {

// The connection grid's filter and sort, which the window keeps from one run
// to the next (keys "GridFilter", "GridSortColumn" and "GridSortOrder").
struct TGridViewOptions {
    std::string Filter;           // the filter's words; empty: every row
    std::string SortColumn;       // the title of the column sorted by; empty: the tables' order
    bool SortDescending = false;  // "GridSortOrder": "Descending", else "Ascending"
    bool operator==(const TGridViewOptions&) const = default;
};

// The settings, in the order of their keys in the file. Each field is named
// after its key and starts at the key's default.
struct TOptions {
    bool AutoRefresh = true;   // the periodic refresh timer runs
    int32_t RefreshTime = 3;   // its interval in seconds; not limited here
    bool Tray = false;         // the main window goes to the tray once, shortly after it is first shown
    bool AutoStart = false;    // mirrors the start-up entry; read only by the Options dialog
    bool AutoSaveLog = true;   // the event log saves and clears itself when it grows long
    int32_t DataBuffer = 200;  // stored and edited only; the dialog's field keeps it within 100..1000
    // The View menu's "Show Traffic" (key "ShowTraffic"): not one of the six
    // keys the Options dialog saves, but saved on its own when switched.
    bool ShowTraffic = false;
    // The View menu's "Show Location" (key "ShowLocation"), saved the same way.
    bool ShowLocation = false;
    // Saved on their own too, as the user filters and sorts.
    TGridViewOptions GridView;
};

// How the refresh timer runs under `options`: a refresh time of 0 or less
// switches the periodic refresh off rather than refreshing back to back, and
// very long times are capped at what a millisecond timer can hold.
struct TRefreshTimerSetting {
    bool Periodic = true;
    int IntervalMs = 3000;
};
TRefreshTimerSetting RefreshTimerOf(const TOptions& options);

// The settings in the file at `path`. Never fails: without a file, or with one
// that cannot be read (a folder, a FIFO or device, which is never waited on,
// or a file beyond the read bound), every setting has its default, as a
// profile read would give.
TOptions LoadOptionsFile(const std::string& path);

// Writes the six keys into the file, created when missing, in the order of
// TOptions; everything else in the file stays. The file is saved as
// SaveIniFile saves (replaced in one step where it can be): on failure
// TIniWriteError ("Unable to write to <path>") is thrown. A file that cannot
// be read is not written over.
void SaveOptionsFile(const std::string& path, const TOptions& options);

// Stores the View menu's "Show Traffic" switch in the file, leaving every
// other line as it is. Off, the key is written only where the file already
// has it, so a file that never had the view on stays byte for byte as it was.
// Fails as SaveOptionsFile does.
void SaveShowTrafficOption(const std::string& path, bool show);
// The same for the View menu's "Show Location" switch.
void SaveShowLocationOption(const std::string& path, bool show);

// Stores the grid's filter and sort in the file, leaving every other line as
// it is. A key is written only while it has a value, or where the file
// already has it (then emptied), so a file of someone who never filtered nor
// sorted stays byte for byte as it was. Fails as SaveOptionsFile does.
void SaveGridViewOptions(const std::string& path, const TGridViewOptions& view);

// The settings file in `executableDir`: an existing file whose name is
// "Option.ini" in any case ("option.ini", "OPTION.INI", ...), else
// "Option.ini". Of several, "Option.ini" itself is taken, else the first name
// in byte order.
std::string OptionsFilePath(const std::string& executableDir);

}  // namespace tarnwick
