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
// A left click at the centre of the window.
void Click(HWND hWnd);
// Polls until the condition holds (at most about 10 s).
bool WaitFor(const std::function<bool()>& condition);
// A top-level dialog of the thread that holds a control with that id.
HWND FindThreadDialog(DWORD threadId, int controlId);
// A top-level window of the thread with that class.
HWND FindThreadWindow(DWORD threadId, const wchar_t* className);
std::wstring Text(HWND hWnd);
// Saves the window's picture as PNG under the tree's test-artifacts folder.
bool Capture(HWND hWnd, const char* name);

}  // namespace desk
