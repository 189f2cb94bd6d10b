#include "app/file_chooser.h"

#include <commdlg.h>

#include "app/texts.h"

BOOL ChooseEffectFile(HWND owner, const wchar_t* title, wchar_t* buffer, DWORD bufferLength) {
    OPENFILENAMEW dialog;
    ZeroMemory(&dialog, sizeof dialog);
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = Text(TEXT_PLUGIN_FILTER);
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = buffer;
    dialog.nMaxFile = bufferLength;
    dialog.lpstrTitle = title;
    dialog.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_NONETWORKBUTTON;
    dialog.lpstrDefExt = L"dll";
    return GetOpenFileNameW(&dialog);
}
