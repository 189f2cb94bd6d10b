// The monitor window ("モニター" / "Monitor" in the system menu): modeless, owned by the main
// window, what the stream does at a glance. Each channel's level at the input and the output
// (peak and RMS in dBFS, the peak held 1.5 s, a clip mark held as the clip light), the program's
// own part of the delay, the drift corrector's ratio and the queue against its target, each
// effect's share of its blocks' time over the last second (average and worst) and its late
// blocks, and the breaks and restarts the About box counts. Drawn 25 times a second while
// shown, not at all while hidden or minimised. Its place is kept in [Kawauso04].
#pragma once

#include <windows.h>

void OpenMonitorWindow(HWND mainWindow);
// Its texts in the shown language (a language switch).
void RefreshMonitorWindow();
HWND MonitorWindow();
