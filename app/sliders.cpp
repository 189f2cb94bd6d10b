// The volume and pitch trackbars: every scroll code recomputes the shared value under the
// lock and rewrites the label. Trackbar and label are handled outside the lock so the audio
// thread waits only for one store.
#include <windows.h>
#include <commctrl.h>
#include <cwchar>

#include "app/main_dialog.h"
#include "audio/engine_state.h"
#include "audio/slider_tables.h"
#include "res/resource.h"

namespace {

int TrackbarPosition(HWND trackbar) {
    return static_cast<int>(SendMessageW(trackbar, TBM_GETPOS, 0, 0));
}

}  // namespace

INT_PTR OnVScroll(HWND window, HWND trackbar) {
    wchar_t label[32];
    if (trackbar != nullptr && trackbar == GetDlgItem(window, IDC_VOLUME)) {
        const double value = GainForVolumePosition(TrackbarPosition(trackbar));
        LockEnter(&EngineLock);
        gain = value;
        LockLeave(&EngineLock);
        std::swprintf(label, sizeof label / sizeof label[0], L"%.2f", value);
        SetDlgItemTextW(window, IDC_VOLUME_VALUE, label);
        return TRUE;
    }
    if (trackbar != nullptr && trackbar == GetDlgItem(window, IDC_PITCH)) {
        const int position = TrackbarPosition(trackbar);
        const double value = PitchRatioForPosition(position);
        LockEnter(&EngineLock);
        pitchRatio = value;
        LockLeave(&EngineLock);
        std::swprintf(label, sizeof label / sizeof label[0], L"%+d", -position);
        SetDlgItemTextW(window, IDC_PITCH_VALUE, label);
        return TRUE;
    }
    return FALSE;
}
