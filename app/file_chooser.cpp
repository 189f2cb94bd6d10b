#include "app/file_chooser.h"

#include <commdlg.h>

namespace {

// Four terminated strings and the empty one that ends the list.
const wchar_t EFFECT_FILTER[] = L"VST Plugins (*.dll)\0*.dll\0すべてのファイル (*.*)\0*.*\0";

}  // namespace

BOOL ChooseEffectFile(HWND owner, const wchar_t* title, wchar_t* buffer, DWORD bufferLength) {
    OPENFILENAMEW dialog;
    ZeroMemory(&dialog, sizeof dialog);
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = EFFECT_FILTER;
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = buffer;
    dialog.nMaxFile = bufferLength;
    dialog.lpstrTitle = title;
    dialog.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_NONETWORKBUTTON;
    dialog.lpstrDefExt = L"dll";
    return GetOpenFileNameW(&dialog);
}
