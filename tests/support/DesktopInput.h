#pragma once
// What the dialog tests share: keys and clicks through SendInput (the way a
// user's input reaches the low-level keyboard hook), waiting for a window
// state, finding a thread's dialog, and PNG captures of windows.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace desk {

// One key down and up; with `modifiers` held around it.
void Key(WORD vk, std::vector<WORD> modifiers = {});
// Keys for each character of text: digits and lower-case letters.
void Type(const char* text);
// A left click at the centre of the window; false (and what was there
// instead on stderr) when the window was not the one under that point.
bool Click(HWND hWnd);
// The cursor to a screen point (an absolute move, as a mouse's).
void MoveTo(POINT screen);
// A button going down or up at a screen point: MOUSEEVENTF_LEFTDOWN,
// MOUSEEVENTF_LEFTUP, MOUSEEVENTF_RIGHTDOWN ... as `flag`.
void Button(POINT screen, DWORD flag);
// A wheel turn (WHEEL_DELTA units, negative: towards the user) at a point.
void Wheel(POINT screen, int delta);
// Presses (down) or releases a key without its partner event: modifiers
// held around other input. Under Wine an injected move resets the modifier
// state, so hold them again after a move when they must stay down.
void KeyState(WORD vk, bool down);
// A left-button drag from one screen point to another in `steps` moves,
// each move's point carried by its event; the optional keys are held
// (pressed again before every move) and released after the button.
void Drag(POINT from, POINT to, int steps = 8, std::vector<WORD> modifiers = {});
// Polls until the condition holds (at most about 10 s, or ms).
bool WaitFor(const std::function<bool()>& condition);
bool WaitFor(const std::function<bool()>& condition, int ms);
// Clicks a control of a dialog and waits until the dialog is gone; a click
// that changed nothing within 3 s is repeated once (and reported on stderr).
bool ClickToClose(HWND control, HWND dialog);
// A top-level dialog of the thread that holds a control with that id.
HWND FindThreadDialog(DWORD threadId, int controlId);
// A top-level window of the thread with that class.
HWND FindThreadWindow(DWORD threadId, const wchar_t* className);
std::wstring Text(HWND hWnd);
// One line on a window (handle, class, id, screen rectangle), for messages.
std::wstring Describe(HWND hWnd);
// Where the cursor is, what lies under it, and the foreground, active,
// focus and capture windows as the window's thread sees them.
std::string InputState(HWND hWnd);
// Saves the window's picture as PNG under the tree's test-artifacts folder.
bool Capture(HWND hWnd, const char* name);

}  // namespace desk
