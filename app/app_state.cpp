#include "app/app_state.h"

HINSTANCE appInstance;
HMENU trayMenu;
HMENU trayPopup;
NOTIFYICONDATAW trayIconData;
