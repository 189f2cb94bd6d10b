// The volume label doubles as the clip indicator: red for 700 ms after a block clipped.
#include "app/main_dialog.h"
#include "audio/engine_state.h"
#include "res/resource.h"

namespace {

constexpr DWORD CLIP_INDICATOR_MS = 700;
constexpr COLORREF CLIP_COLOUR = RGB(200, 0, 0);
constexpr COLORREF NORMAL_COLOUR = RGB(0, 0, 0);

}  // namespace

INT_PTR OnCtlColorStatic(HWND window, HDC dc, HWND control) {
    if (control == nullptr || control != GetDlgItem(window, IDC_VOLUME_LABEL)) {
        return FALSE;
    }
    SetBkMode(dc, TRANSPARENT);
    const DWORD sinceClip = GetTickCount() - lastClipTick.load();
    const bool red = sinceClip <= CLIP_INDICATOR_MS && stopping.load() == 0;
    SetTextColor(dc, red ? CLIP_COLOUR : NORMAL_COLOUR);
    return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
}
