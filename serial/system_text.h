// The system's own words for an error, as the boxes and the status row give them.
#pragma once

#include <windows.h>

#include <string>

// Without the line end it comes with; "error N" where the system has none.
std::wstring SystemMessage(DWORD error);
