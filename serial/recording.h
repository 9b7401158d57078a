// Recording every frame received to a CSV file in the recordings folder. The
// link thread formats the rows as it reads the frames; a writer thread of the
// recording's own hands them to the system at least every 250 ms, so that a
// disk that stalls never holds the port.
#pragma once

#include <windows.h>

#include <cstdint>

#include "sweep_state.h"

constexpr DWORD kRecordingFlushMs = 250;
constexpr DWORD kRecordingNameShowMs = 5000;

// Window's thread: start and stop, and what the status row shows.
// False, with the system's error, when no file could be created. The fields
// of every line are separated by `separator`, ',' or ';'.
bool StartRecording(char separator, DWORD* error);
// Hands what is buffered to the system and closes the file.
void StopRecording();
bool IsRecording();
int FormatRecordingField(WCHAR* text, int size);
// Called on the writer thread when a write failed and recording stopped.
void SetRecordingFailureHandler(void (*failed)(DWORD error));
// True when no rows wait for the writer.
bool IsRecordingHandedOver();

// Link thread: rows for the frames just read, timed now.
void RecordFrames(const Frame* frames, int count);
void HandOverRecording();
void HandOverRecordingIfDue();
// How long the link may wait for bytes before a hand-over falls due.
DWORD RecordingHandOverDueInMs();
