#pragma once
// The mix-in of controls whose images may be animated GIFs: one player per
// image name, drawn through image attribute strings; frame changes reach
// the control as a message posted to its window.
#include <windows.h>

#include "GifPlayer.h"
#include "UIValueTypes.h"

namespace Veneer {

class CPaintManagerUI;

// Posted by a GIF worker to the window of the control it plays for; wParam
// is the control's serial number.
const UINT kGifFrameMessage = WM_APP + 0x105;

class CGifAnimationUIBase : public IGifAnimationCallback {
public:
    CGifAnimationUIBase();
    ~CGifAnimationUIBase() override;

    // Worker thread: posts kGifFrameMessage to the frame window.
    void OnFrameChanged() override;

    bool DrawGifImage(HDC hdc, const RECT& paint, CPaintManagerUI* manager, const RECT& item, const wchar_t* image);
    GifPlayer* CreatePlayer(const wchar_t* name, const wchar_t* resourceType);
    void StopGif(const wchar_t* name);
    GifPlayer* FindPlayer(const wchar_t* name) const;
    // Stops, clears and removes every player.
    void RemoveAllPlayers();

    UINT_PTR GetGifSerial() const { return m_serial; }

protected:
    struct DrawRequest;
    void DrawGifFrame(HDC hdc, const RECT& paint, CPaintManagerUI* manager, const RECT& item,
                      const DrawRequest& request);
    // Set on the UI thread before a player starts.
    void SetFrameWindow(HWND window) { m_frameWindow = window; }

private:
    CStringKeyMap m_players;
    HWND m_frameWindow = nullptr;
    UINT_PTR m_serial;
};

}  // namespace Veneer
