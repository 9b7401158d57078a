// Recording every frame received to a CSV file in the recordings folder,
// buffered and handed to the system at least every 250 ms.
#pragma once

#include <windows.h>

#include <cstdint>

#include "sweep_state.h"

constexpr DWORD kRecordingFlushMs = 250;
constexpr DWORD kRecordingNameShowMs = 5000;

// False, with the system's error, when no file could be created.
bool StartRecording(DWORD* error);
// Hands what is buffered to the system and closes the file.
void StopRecording();
bool IsRecording();
// False, with the system's error, when a write failed: recording has then stopped.
bool RecordFrames(const Frame* frames, int count, DWORD* error);
bool FlushRecording(DWORD* error);
bool FlushRecordingIfDue(DWORD* error);
int FormatRecordingField(WCHAR* text, int size);
