// Runs the program's own start-up in this process, in a fresh working
// directory holding the given config.ini, so tests drive the real windows.
#pragma once

#include <windows.h>

#include <string>

// `config` is the file's content; null leaves the directory without one.
HWND StartApp(const char* config);
// Destroys the main window as the Exit command does and takes the quit
// message off the queue; returns its exit code.
int CloseApp(HWND mainWindow);

// Answers the next message box or dialog of this process once it is up, from
// inside the modal loop the caller is waiting in: records its caption and the
// text of its first static control, then presses the given button.
struct ModalAnswer {
    std::wstring caption;
    std::wstring text;
    bool seen = false;
};
void AnswerNextModal(ModalAnswer* answer, int buttonId);
