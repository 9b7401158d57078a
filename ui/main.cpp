#include "app.h"
#include "resource.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand)
{
    LoadStringW(instance, IDS_APP_TITLE, g_title, kMaxLoadString);
    LoadStringW(instance, IDS_CLASS_NAME, g_className, kMaxLoadString);
    RegisterMainClass(instance);
    if (!CreateMainWindow(instance, showCommand)) return 0;
    OpenRecordingArgument(commandLine);
    return RunMessageLoop(LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_MAIN_MENU)));
}
