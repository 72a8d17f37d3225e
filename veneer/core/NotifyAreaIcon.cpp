#include "NotifyAreaIcon.h"

#include <cwchar>

#include "DpiScaler.h"
#include "PaintManager.h"

namespace Veneer {

namespace {
CNotifyAreaIcon::ShellNotifyIconFn g_shellNotifyIcon = &Shell_NotifyIconW;
}  // namespace

CNotifyAreaIcon::ShellNotifyIconFn CNotifyAreaIcon::SetShellNotifyIcon(ShellNotifyIconFn function) {
    ShellNotifyIconFn previous = g_shellNotifyIcon;
    g_shellNotifyIcon = function ? function : &Shell_NotifyIconW;
    return previous;
}

CNotifyAreaIcon::CNotifyAreaIcon() {
    memset(&m_data, 0, sizeof(m_data));
    m_data.cbSize = kRecordSize;
}

CNotifyAreaIcon::~CNotifyAreaIcon() { ReleaseIcon(); }

void CNotifyAreaIcon::ReleaseIcon() {
    if (m_icon && m_ownsIcon) DestroyIcon(m_icon);
    m_icon = nullptr;
    m_ownsIcon = false;
}

void CNotifyAreaIcon::CopyTip(const wchar_t* tip) {
    // The record's field holds 128 characters with the terminator; a longer
    // tip is cut (and never written past the field).
    const size_t length = wcslen(tip);
    const size_t kept = length < size_t(kMaxTipChars) ? length : size_t(kMaxTipChars);
    wmemcpy(m_data.szTip, tip, kept);
    m_data.szTip[kept] = L'\0';
}

void CNotifyAreaIcon::Add(HWND window, const wchar_t* tip) {
    if (!window) return;
    const POINT corner = {1, 1};
    const int size = CDpiScaler::GetMonitorDpi(MonitorFromPoint(corner, MONITOR_DEFAULTTONEAREST)) > 96 ? 32 : 16;
    HINSTANCE instance = CPaintManagerUI::GetInstance();
    HICON icon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON, size, size,
                                               LR_DEFAULTCOLOR));
    const bool owned = icon != nullptr;
    if (!icon) icon = LoadIconW(instance, MAKEINTRESOURCEW(kIconId));
    // An icon from an earlier Add is no longer handed to the shell.
    ReleaseIcon();
    m_icon = icon;
    m_ownsIcon = owned;
    m_data.cbSize = kRecordSize;
    m_data.hWnd = window;
    m_data.uID = kIconId;
    m_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_data.uCallbackMessage = m_callbackMessage;
    m_data.hIcon = m_icon;
    if (tip) CopyTip(tip);
    g_shellNotifyIcon(NIM_ADD, &m_data);
    m_added = true;
}

void CNotifyAreaIcon::Remove() {
    g_shellNotifyIcon(NIM_DELETE, &m_data);
    m_added = false;
    ReleaseIcon();
    m_callbackMessage = kDefaultCallbackMessage;
}

bool CNotifyAreaIcon::SetTip(const wchar_t* tip) {
    if (tip) CopyTip(tip);
    if (!m_added) return false;
    m_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    return g_shellNotifyIcon(NIM_MODIFY, &m_data) != FALSE;
}

}  // namespace Veneer
