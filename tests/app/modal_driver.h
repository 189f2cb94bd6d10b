// Drives a modal box (message box, About box, file dialog) that the code under test runs on
// this thread: a thread timer, which the box's own modal loop dispatches, hands the box to a
// test action on every tick until the box is gone.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class ModalDriver {
public:
    // action(box, tick) runs on every tick (20 ms) while a visible dialog box owned by owner
    // exists on this thread that did not exist yet when the driver was made (so an open
    // editor window is never taken for the box); tick counts from 0 at the first sight. A box still open after
    // about 5 s is ended by force (stuck() then says so), so a test fails instead of hanging.
    ModalDriver(HWND owner, std::function<void(HWND box, int tick)> action);
    ~ModalDriver();
    ModalDriver(const ModalDriver&) = delete;
    ModalDriver& operator=(const ModalDriver&) = delete;

    int boxesSeen() const { return boxesSeen_; }
    bool stuck() const { return stuck_; }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    void OnTick();

    HWND owner_;
    std::vector<HWND> existing_;
    std::function<void(HWND, int)> action_;
    UINT_PTR timer_ = 0;
    HWND box_ = nullptr;
    int tick_ = 0;
    int boxesSeen_ = 0;
    bool stuck_ = false;
};

// A visible dialog-class window of this thread owned by owner and not among skip, or null.
HWND FindOwnedDialog(HWND owner, const std::vector<HWND>& skip = {});
// Texts of a box's static controls, in child order; icon statics are left out.
std::vector<std::wstring> StaticTexts(HWND box);
// The icon shown by the first icon static of a box, or null.
HICON BoxIcon(HWND box);
std::wstring WindowTitle(HWND window);
