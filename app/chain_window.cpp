#include "app/chain_window.h"

#include <algorithm>
#include <string>

#include "app/app_state.h"
#include "app/chained_effects.h"
#include "app/dialog_keys.h"
#include "app/file_chooser.h"
#include "app/isolation_menu.h"
#include "app/live_effect.h"
#include "app/plugin_commands.h"
#include "app/slot_plugin.h"
#include "app/texts.h"
#include "plugin/editor_window.h"
#include "plugin/effect_handle.h"
#include "res/resource.h"
#include "settings/settings_store.h"

namespace {

HWND chainWindow = nullptr;
HWND chainOwner = nullptr;

// Row 0 is the first effect, row r > 0 the slot's chained effect r - 1.
int32_t SelectedRow() {
    return static_cast<int32_t>(
        SendDlgItemMessageW(chainWindow, IDC_CHAIN_LIST, LB_GETCURSEL, 0, 0));
}

int32_t RowCount() {
    int32_t rows = currentSlot->VstPath[0] != L'\0' ? 1 : 0;
    while (rows > 0 && rows <= CHAINED_EFFECTS &&
           currentSlot->Chained[rows - 1].VstPath[0] != L'\0') {
        ++rows;
    }
    return rows;
}

const wchar_t* RowPath(int32_t row) {
    return row == 0 ? currentSlot->VstPath : currentSlot->Chained[row - 1].VstPath;
}

bool RowLoaded(int32_t row) {
    return row == 0 ? LiveEffectLoaded() : ChainedEffectHandle(row - 1) != nullptr;
}

bool RowBypassed(int32_t row) {
    return row == 0 ? currentSlot->VstBypassed : currentSlot->Chained[row - 1].VstBypassed;
}

bool RowWantsOwnProcess(int32_t row) {
    return row == 0 ? currentSlot->VstIsolated : currentSlot->Chained[row - 1].VstIsolated;
}

// Where a loaded effect runs now; where one not loaded is to run.
bool RowIsolated(int32_t row) {
    if (!RowLoaded(row)) {
        return RowWantsOwnProcess(row);
    }
    return row == 0 ? LiveEffectIsolated() : ChainedEffectIsolated(row - 1);
}

// "2. comp.dll  64-bit  own process  bypassed".
std::wstring RowText(int32_t row) {
    const ModuleMachine machine =
        ModuleMachineOf(PluginPathFromProgramFolder(RowPath(row)).c_str());
    std::wstring text = std::to_wstring(row + 1) + L". " + FileNameOf(RowPath(row));
    text += machine == ModuleMachine::X64    ? L"  64-bit"
            : machine == ModuleMachine::I386 ? L"  32-bit"
                                             : L"";
    if (RowIsolated(row)) {
        text += std::wstring(L"  ") + Text(TEXT_CHAIN_ROW_OWN_PROCESS);
    }
    if (RowBypassed(row)) {
        text += std::wstring(L"  ") + Text(TEXT_CHAIN_ROW_BYPASSED);
    }
    if (!RowLoaded(row)) {
        text += std::wstring(L"  (") + Text(TEXT_CHAIN_ROW_OUT) + L")";
    }
    return text;
}

void Enable(int id, bool on) {
    EnableWindow(GetDlgItem(chainWindow, id), on ? TRUE : FALSE);
}

// The first effect and the second change places only both loaded (a load would break the
// sound); only a loaded one has an editor.
bool FirstTwoLoaded() {
    return RowLoaded(0) && RowLoaded(1);
}

// What the selected row allows.
void ShowButtons() {
    const int32_t row = SelectedRow();
    const int32_t rows = RowCount();
    const bool chainedRow = row > 0 && row < rows;
    Enable(IDC_CHAIN_ADD, rows <= CHAINED_EFFECTS);
    Enable(IDC_CHAIN_REMOVE, chainedRow);
    Enable(IDC_CHAIN_UP, chainedRow && (row > 1 || FirstTwoLoaded()));
    Enable(IDC_CHAIN_DOWN, row >= 0 && row + 1 < rows && (row > 0 || FirstTwoLoaded()));
    Enable(IDC_CHAIN_BYPASS, row >= 0 && row < rows);
    Enable(IDC_CHAIN_EDITOR, row >= 0 && row < rows && RowLoaded(row));
    Enable(IDC_CHAIN_OWN_PROCESS, row >= 0 && row < rows);
    CheckDlgButton(chainWindow, IDC_CHAIN_OWN_PROCESS,
                   row >= 0 && row < rows && RowWantsOwnProcess(row) ? BST_CHECKED : BST_UNCHECKED);
}

void FillRows(int32_t select) {
    SendDlgItemMessageW(chainWindow, IDC_CHAIN_LIST, LB_RESETCONTENT, 0, 0);
    const int32_t rows = RowCount();
    for (int32_t row = 0; row < rows; ++row) {
        SendDlgItemMessageW(chainWindow, IDC_CHAIN_LIST, LB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(RowText(row).c_str()));
    }
    if (rows > 0) {
        const int32_t at = select < 0 ? 0 : (select >= rows ? rows - 1 : select);
        SendDlgItemMessageW(chainWindow, IDC_CHAIN_LIST, LB_SETCURSEL, static_cast<WPARAM>(at), 0);
    }
    ShowButtons();
}

// The slot as it now stands, kept at once, and the rows anew.
void Changed(int32_t select) {
    SaveSlotWithPlugin(chainOwner);
    FillRows(select);
}

void OnAdd() {
    wchar_t path[VST_PATH_UNITS] = L"";
    if (ChooseEffectFile(chainWindow, Text(TEXT_OPEN_PLUGIN), path, VST_PATH_UNITS)) {
        AddToChain(chainOwner, path);
    }
}

void OnMove(int32_t by) {
    const int32_t row = SelectedRow();
    if (row < 0) {
        return;
    }
    if (std::min(row, row + by) == 0) {
        CloseEditor(); // a window of the first effect's would outlive its place
        if (!SwapFirstAndSecond(*currentSlot)) {
            return;
        }
        FirstEffectMoved(chainOwner);
    } else {
        SwapChainedEffects(*currentSlot, row - 1, row - 1 + by);
    }
    Changed(row + by);
}

void OnBypass() {
    const int32_t row = SelectedRow();
    if (row == 0) {
        currentSlot->VstBypassed = !currentSlot->VstBypassed;
        PublishLiveChain();
    } else if (row > 0) {
        SetChainedBypass(*currentSlot, row - 1, !currentSlot->Chained[row - 1].VstBypassed);
    }
    Changed(row);
}

void OnEditor() {
    const int32_t row = SelectedRow();
    if (row == 0) {
        OpenLiveEditor(chainOwner);
    } else if (EffectHandle* h = ChainedEffectHandle(row - 1);
               h != nullptr && !EffectCallUnderWay(h)) {
        OpenEditor(chainOwner, h);
    }
}

void OnOwnProcess() {
    const int32_t row = SelectedRow();
    if (row == 0) {
        ToggleIsolation(chainOwner); // the system menu's check follows
    } else if (row > 0) {
        currentSlot->Chained[row - 1].VstIsolated = !currentSlot->Chained[row - 1].VstIsolated;
    }
    Changed(row);
}

INT_PTR OnChainCommand(int id, int code) {
    const int32_t row = SelectedRow();
    switch (id) {
    case IDC_CHAIN_LIST:
        if (code == LBN_SELCHANGE) {
            ShowButtons();
        }
        return TRUE;
    case IDC_CHAIN_ADD:
        OnAdd();
        return TRUE;
    case IDC_CHAIN_REMOVE:
        RemoveChainedEffect(*currentSlot, row - 1);
        Changed(row);
        return TRUE;
    case IDC_CHAIN_UP:
        OnMove(-1);
        return TRUE;
    case IDC_CHAIN_DOWN:
        OnMove(1);
        return TRUE;
    case IDC_CHAIN_BYPASS:
        OnBypass();
        return TRUE;
    case IDC_CHAIN_EDITOR:
        OnEditor();
        return TRUE;
    case IDC_CHAIN_OWN_PROCESS:
        OnOwnProcess();
        return TRUE;
    case IDCANCEL:
        DestroyWindow(chainWindow);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK ChainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        chainWindow = window;
        RouteDialogKeys(window);
        SetWindowTextW(window, Text(TEXT_CHAIN_TITLE));
        TranslateControls(window);
        FillRows(0);
        return TRUE;
    case WM_COMMAND:
        return OnChainCommand(LOWORD(wParam), HIWORD(wParam));
    case WM_CLOSE:
        DestroyWindow(window);
        return TRUE;
    case WM_DESTROY:
        StopRoutingDialogKeys(window);
        chainWindow = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

void OpenChainWindow(HWND mainWindow) {
    chainOwner = mainWindow;
    if (chainWindow == nullptr) {
        CreateDialogParamW(appInstance, MAKEINTRESOURCEW(IDD_CHAIN), mainWindow, ChainDialogProc,
                           0);
    }
    if (chainWindow != nullptr) {
        ShowWindow(chainWindow, SW_SHOW);
        SetForegroundWindow(chainWindow);
    }
}

void RefreshChainWindow() {
    if (chainWindow != nullptr) {
        SetWindowTextW(chainWindow, Text(TEXT_CHAIN_TITLE));
        TranslateControls(chainWindow);
        FillRows(SelectedRow());
    }
}

HWND ChainWindow() {
    return chainWindow;
}

bool AddToChain(HWND mainWindow, const wchar_t* path) {
    bool added = false;
    if (!LiveEffectLoaded()) {
        std::wcsncpy(currentSlot->VstPath, path, VST_PATH_MAX_UNITS - 1);
        currentSlot->VstPath[VST_PATH_MAX_UNITS - 1] = L'\0';
        const LoadOutcome outcome = LoadSlotPlugin(mainWindow, nullptr, false);
        added = outcome == LoadOutcome::Loaded;
        if (outcome == LoadOutcome::Failed) {
            ReportFailedLoad(mainWindow); // as "VST読込" tells it
        }
    } else if (ChainedEffectCount() < static_cast<uint32_t>(CHAINED_EFFECTS)) {
        added = AddChainedEffect(*currentSlot, currentSlotIndex, path);
        if (!added) {
            ReportFailedChainedLoad(mainWindow, path);
        }
    }
    if (added) {
        SaveSlotWithPlugin(mainWindow);
    }
    RefreshChainWindow();
    return added;
}
