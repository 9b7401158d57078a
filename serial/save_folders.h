// Where config.ini and the recordings are kept: the working directory while
// it can be written, which is where today's users have their file; otherwise
// %LOCALAPPDATA%\Tarquell\ for the settings and Documents\Tarquell\ for the
// recordings (a program under Program Files cannot write beside itself).
#pragma once

#include <windows.h>

constexpr DWORD kSettingsWarningShowMs = 5000;

// Creates and removes a probe file in `folder` (empty: the working
// directory); false, with the system's error, when it cannot.
bool FolderWritable(const WCHAR* folder, DWORD* error);
// Chosen at start-up, with FolderWritable or a probe a test scripts.
void ChooseSaveFolders(bool (*writable)(const WCHAR* folder, DWORD* error));
const WCHAR* SettingsFile();
// Empty for the working directory, else a folder ending in a backslash.
const WCHAR* RecordingsFolder();
// "tarquell-YYYYMMDD-HHMMSS" in local time: how a recording or a picture
// saved now is named, before its extension.
void FormatSaveName(WCHAR* text, int size);
// "settings will not be saved: <the system's message>" when neither place
// can be written, else empty.
const WCHAR* SettingsWarning();
// The warning for the link field, in its first seconds.
const WCHAR* SettingsWarningNote();
