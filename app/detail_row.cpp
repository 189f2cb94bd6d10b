// Showing and hiding the bottom row (buffer length, plug-in buttons, About).
#include "app/main_dialog.h"
#include "res/resource.h"
#include "settings/settings_store.h"

namespace {

constexpr int DETAIL_ROW_PIXELS = 22;
const int DETAIL_ROW_CONTROLS[] = {IDC_BUFFER_LABEL, IDC_BUFFER_MS, IDC_VST_LOAD, IDC_VST_EDIT,
                                   ID_ABOUT};

}  // namespace

void ToggleDetailRow(HWND window) {
    currentSlot->ShowDetail = !currentSlot->ShowDetail;
    const bool show = currentSlot->ShowDetail;
    for (int id : DETAIL_ROW_CONTROLS) {
        ShowWindow(GetDlgItem(window, id), show ? SW_SHOW : SW_HIDE);
    }
    SetDlgItemTextW(window, IDC_DETAIL_TOGGLE, show ? L"▲" : L"▼");
    RECT rect;
    GetWindowRect(window, &rect);
    const int height = rect.bottom - rect.top + (show ? DETAIL_ROW_PIXELS : -DETAIL_ROW_PIXELS);
    MoveWindow(window, rect.left, rect.top, rect.right - rect.left, height, TRUE);
    SetFocus(window);
}
