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
constexpr int kRecordingPathLength = MAX_PATH + 64;

// Window's thread: start and stop, and what the status row shows.
// False, with the system's error, when no file could be created. The fields
// of every line are separated by `separator`, ',' or ';'.
bool StartRecording(char separator, DWORD* error);
// Hands what is buffered to the system and closes the file.
void StopRecording();
bool IsRecording();
int FormatRecordingField(WCHAR* text, int size);
// Called on the thread that found it when a recording failed; it may only
// post. The window then takes the failures.
void SetRecordingFailureHandler(void (*failed)());
struct RecordingFailure {
    DWORD error;
    WCHAR fileName[kRecordingPathLength];
    bool wasCurrent;  // it stopped the recording going then, not an earlier one's late writer
};
bool TakeRecordingFailure(RecordingFailure* failure);
// The run whose rows are recorded; 0 for none. Rows of any other run (a
// link that Stop gave up on) are refused. Ending a run hands over its rows.
void SetRecordedRun(uint32_t run);

// Link thread: rows for the frames just read, timed now.
void RecordFrames(uint32_t run, const Frame* frames, int count);
void HandOverRecording(uint32_t run);
void HandOverRecordingIfDue(uint32_t run);
// How long the link may wait for bytes before a hand-over falls due.
DWORD RecordingHandOverDueInMs();
