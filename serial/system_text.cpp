#include "system_text.h"

#include <cwchar>

std::wstring SystemMessage(DWORD error)
{
    constexpr DWORD kLength = 512;
    WCHAR text[kLength] = L"";
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                  kLength, nullptr);
    while (length && (text[length - 1] == L'\r' || text[length - 1] == L'\n')) text[--length] = L'\0';
    if (!length) swprintf(text, kLength, L"error %lu", error);
    return text;
}
