// The picture Ctrl+C copies, saved as a PNG for a report: the common Save
// dialog names the file, the Windows Imaging Component encodes it.
#include <windows.h>

#include <commdlg.h>
#include <wincodec.h>

#include <cwchar>
#include <vector>

#include "app.h"
#include "system_text.h"
#include "save_folders.h"

namespace {

constexpr int kNameLength = 64;

// tarquell-YYYYMMDD-HHMMSS.png in the recordings' folder.
void SuggestName(WCHAR* path, int size)
{
    WCHAR folder[MAX_PATH] = L"";
    if (*RecordingsFolder())
        swprintf(folder, MAX_PATH, L"%ls", RecordingsFolder());
    else if (GetCurrentDirectoryW(MAX_PATH - 1, folder))
        wcscat(folder, L"\\");
    WCHAR name[kNameLength];
    FormatSaveName(name, kNameLength);
    swprintf(path, size, L"%ls%ls.png", folder, name);
}

// The bitmap's rows as 24-bit BGR, top row first, each padded to 4 bytes.
std::vector<BYTE> PixelRows(HBITMAP bitmap, const BITMAP& size, UINT* stride)
{
    *stride = (static_cast<UINT>(size.bmWidth) * 3 + 3) & ~3u;
    std::vector<BYTE> rows(static_cast<size_t>(*stride) * size.bmHeight);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof info.bmiHeader, size.bmWidth, -size.bmHeight, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    HDC screen = GetDC(nullptr);
    if (GetDIBits(screen, bitmap, 0, size.bmHeight, rows.data(), &info, DIB_RGB_COLORS) != size.bmHeight) rows.clear();
    ReleaseDC(nullptr, screen);
    return rows;
}

template <typename Interface>
void Release(Interface*& object)
{
    if (object) object->Release();
    object = nullptr;
}

// A file it fails to finish is deleted.
HRESULT WritePng(const WCHAR* path, HBITMAP bitmap)
{
    BITMAP size = {};
    UINT stride = 0;
    GetObjectW(bitmap, sizeof size, &size);
    std::vector<BYTE> rows = PixelRows(bitmap, size, &stride);
    if (rows.empty()) return E_FAIL;
    IWICImagingFactory* factory = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
    if (SUCCEEDED(result)) result = factory->CreateStream(&stream);
    if (SUCCEEDED(result)) result = stream->InitializeFromFilename(path, GENERIC_WRITE);
    const bool created = SUCCEEDED(result);
    if (SUCCEEDED(result)) result = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
    if (SUCCEEDED(result)) result = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    if (SUCCEEDED(result)) result = encoder->CreateNewFrame(&frame, nullptr);
    if (SUCCEEDED(result)) result = frame->Initialize(nullptr);
    if (SUCCEEDED(result)) result = frame->SetSize(size.bmWidth, size.bmHeight);
    if (SUCCEEDED(result)) result = frame->SetPixelFormat(&format);
    if (SUCCEEDED(result) && !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR)) result = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    if (SUCCEEDED(result))
        result = frame->WritePixels(size.bmHeight, stride, static_cast<UINT>(rows.size()), rows.data());
    if (SUCCEEDED(result)) result = frame->Commit();
    if (SUCCEEDED(result)) result = encoder->Commit();
    Release(frame);
    Release(encoder);
    Release(stream);
    Release(factory);
    if (FAILED(result) && created) DeleteFileW(path);
    return result;
}

}  // namespace

// A failed write names the file and the system's reason.
void SaveViewPicture(HWND window)
{
    WCHAR path[MAX_PATH + kNameLength];
    SuggestName(path, MAX_PATH + kNameLength);
    if (!AskFileName(window, L"PNG (*.png)\0*.png\0", L"png", OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY, path))
        return;
    HBITMAP bitmap = RenderViewPicture();
    if (!bitmap) return;
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const HRESULT result = WritePng(path, bitmap);
    if (SUCCEEDED(initialised)) CoUninitialize();
    DeleteObject(bitmap);
    if (SUCCEEDED(result)) return;
    const std::wstring reason = SystemMessage(static_cast<DWORD>(result));
    MessageBoxW(window, (L"Не получилось сохранить «" + std::wstring(path) + L"»: " + reason).c_str(), L"Внимание!!!", MB_OK);
}
