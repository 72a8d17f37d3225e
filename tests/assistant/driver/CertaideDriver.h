#pragma once
// Drives Certaide.exe from another process as a user would: starts it,
// finds its windows by class and process (the title follows the locale),
// clicks controls where the skin's layout sources put them, chooses combo
// rows, types, clicks Wine's tray icon, injects device arrivals and
// removals, captures windows as PNG and waits for lines of the
// application's journal (CERTAIDE_JOURNAL).
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace certdrive {

// The main window's class, the combo drop-down's class, and the class of
// the USB device interfaces the main window registers for.
extern const wchar_t MAIN_WINDOW_CLASS[];    // "VeneerMainWnd"
extern const wchar_t COMBO_DROPDOWN_CLASS[]; // "VeneerComboWnd"
extern const GUID USB_DEVICE_INTERFACE;      // GUID_DEVINTERFACE_USB_DEVICE

// A host path ("/x/y") as Windows sees it under Wine ("Z:\x\y"); other
// paths unchanged.
std::wstring WindowsPath(const std::string& path);
std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);

// ------------------------------------------------------------ the process

class Process {
public:
    Process() = default;
    ~Process();  // closes the handles; never ends the process
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Starts the program with the arguments (the command-line tail) and the
    // parent's environment plus `env` (name, value; a value replaces the
    // parent's). False with the reason in `error`.
    bool Start(const std::wstring& program, const std::wstring& arguments,
               const std::vector<std::pair<std::wstring, std::wstring>>& env, std::string* error);
    DWORD Id() const { return m_id; }
    HANDLE Handle() const { return m_process; }
    bool Running() const;
    // Waits for the end; true with the exit code once it ended in time.
    bool WaitExit(DWORD ms, DWORD* exitCode);
    void Kill();  // this process only

private:
    HANDLE m_process = nullptr;
    DWORD m_id = 0;
};

// ------------------------------------------------------------ windows

// A top-level window of the process with that class (visible ones first);
// null when there is none. processId 0: any process.
HWND FindProcessWindow(DWORD processId, const wchar_t* className, bool visibleOnly = false);
// Polls for it up to `ms`.
HWND WaitProcessWindow(DWORD processId, const wchar_t* className, DWORD ms, bool visibleOnly = false);
// Certaide's main window ("VeneerMainWnd") of the process.
inline HWND WaitMainWindow(DWORD processId, DWORD ms) {
    return WaitProcessWindow(processId, MAIN_WINDOW_CLASS, ms);
}
// The top-level windows of the process (class name, handle), for messages.
std::string DescribeProcessWindows(DWORD processId);

// The system DPI (96 when it cannot be read) and its scale.
int SystemDpi();
inline double DpiScale(int dpi) { return dpi / 96.0; }

// ------------------------------------------------------------ the skin

// One layout source of the skin (e.g. "main.xml"), read from the skin's
// source folder. Control rectangles follow the layout rules the windows
// use: a floating control sits at its "pos" (left, top, right, bottom)
// inside its parent; children of vertical and horizontal layouts stack
// after their siblings' fixed sizes, paddings and the child padding,
// children without a size sharing what is left; other containers give a
// child their content area (less "inset"). Everything is scaled by the
// window's DPI scale.
class SkinLayout {
public:
    // The folder of the skin's sources: CERTAIDE_SKIN_SOURCES, else the
    // one this program was built with.
    static std::wstring SourceFolder();

    bool Load(const std::wstring& fileName, std::string* error);  // from SourceFolder()
    bool LoadText(const std::wstring& text, std::string* error);

    // The control's rectangle in client coordinates of a window whose
    // client area is `client` pixels at that DPI; false when no element of
    // that name exists.
    bool ControlRect(const std::wstring& name, SIZE client, int dpi, RECT* rect) const;
    bool Has(const std::wstring& name) const;

    struct Element {
        std::wstring tag;
        std::vector<std::pair<std::wstring, std::wstring>> attributes;
        std::vector<int> children;
        int parent = -1;
        const wchar_t* Attribute(const wchar_t* name) const;
    };
    // The first element whose attribute has that value (case-insensitive).
    const Element* FindByAttribute(const wchar_t* attribute, const std::wstring& value) const;

private:
    std::vector<Element> m_elements;  // [0] is the root "Window"
    int Find(const std::wstring& name) const;
};

// The text of a catalog id in the skin's language file ("lan_cn.xml");
// empty when there is none.
std::wstring CatalogText(const std::wstring& id);

// ------------------------------------------------------------ input

// Brings the window to the front (as a click on it would) and waits until
// it is the foreground window or `ms` passed.
bool BringToFront(HWND window, DWORD ms = 2000);
// A click (left or right) at a point in the window's client coordinates:
// the window brought to the front, then an absolute move and the button
// down and up, each carrying the point, through SendInput.
bool ClickAt(HWND window, POINT client, bool right, std::string* error);
// A click at the centre of the named control of the layout.
bool ClickControl(HWND window, const SkinLayout& layout, const std::wstring& name, std::string* error);
// Opens the combo (a click on it), waits for its drop-down window of the
// same process and clicks row `row` (rows 24 px, scaled, under a 1 px inset).
bool ChooseComboRow(HWND window, const SkinLayout& layout, const std::wstring& combo, int row,
                    std::string* error);
// Types the text into whatever has the focus: letters and digits as their
// virtual keys, anything else as Unicode characters.
void TypeText(const std::wstring& text);
// One key down and up, the modifiers held around it.
void PressKey(WORD vk, const std::vector<WORD>& modifiers = {});

// Wine's tray icon: a "__winex11_tray_icon" child of the tray window that
// Wine shows without a desktop shell ("__winex11_standalone_tray", or the
// "Shell_TrayWnd" system tray). The icon windows carry no text (Wine keeps
// the tip to itself), so with several icons the last one listed is taken.
// Null when there is none.
HWND FindTrayIcon();
// A left or right click on that icon (the shell then sends the owner its
// callback message).
bool ClickTrayIcon(HWND icon, bool right, std::string* error);

// A device change as the system sends it to a window registered for USB
// device interfaces: SendMessage (never posted) of WM_DEVICECHANGE with
// `event` (DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE) and a
// DEV_BROADCAST_DEVICEINTERFACE_W naming the device
// "\\?\USB#VID_vvvv&PID_pppp#<instance>#{a5dcbf10-6530-11d2-901f-00c04fb951ed}".
// The message is sent synchronously, also to another process's window.
bool SendDeviceChange(HWND window, WPARAM event, WORD vendorId, WORD productId, const std::wstring& instance,
                      std::string* error);
// The device interface path such a message carries.
std::wstring UsbInterfacePath(WORD vendorId, WORD productId, const std::wstring& instance);

// ------------------------------------------------------------ the certificate dialog

// The system's certificate dialog (CryptUIDlgViewCertificateW): a visible
// top-level dialog ("#32770") of the process owned by `owner`, or (Wine,
// whose CRYPTUI leaves it without an owner and the owner enabled) one
// without an owner on the owner's thread; null when none came within `ms`.
HWND WaitCertificateDialog(DWORD processId, HWND owner, DWORD ms);
// Whether the dialog shows the certificate of that serial number (hex, as
// host OpenSSL prints it): its details page is chosen and its field list
// walked row by row until a text field of the page holds the serial's
// bytes, in their order or least significant first as Wine writes them
// (blanks, case and leading zeros aside). `seen` gets the texts read, for
// messages.
bool CertificateDialogShowsSerial(HWND dialog, const std::string& serialHex, std::string* seen);
// Closes it with its OK button; true once it is gone within `ms`.
bool CloseCertificateDialog(HWND dialog, DWORD ms);

// ------------------------------------------------------------ captures

// The window's picture, read from its window DC (its own pixels, even
// under another window), saved as PNG at `path` (folders created).
bool CaptureWindow(HWND window, const std::wstring& path, std::string* error);

// ------------------------------------------------------------ the journal

struct JournalLine {
    unsigned long ms = 0;
    std::string kind;
    std::string details;  // UTF-8
    std::string text;     // the whole line
};

// The application's journal: "<ms> <kind> <details>" lines appended by
// every thread and process that writes it. Positions are line indexes, so
// a wait can look only at what came after a mark.
class Journal {
public:
    explicit Journal(const std::wstring& path) : m_path(path) {}
    const std::wstring& Path() const { return m_path; }
    std::vector<JournalLine> Lines() const;
    size_t Mark() const { return Lines().size(); }
    // The first line from index `from` on of that kind whose details contain
    // every text of `contains`, waiting up to `ms`; -1 when none came.
    int WaitFor(const std::string& kind, const std::vector<std::string>& contains, DWORD ms, size_t from = 0,
                JournalLine* line = nullptr) const;
    int Find(const std::string& kind, const std::vector<std::string>& contains, size_t from = 0,
             JournalLine* line = nullptr) const;
    // The lines from `from` on of that kind that contain every text.
    int Count(const std::string& kind, const std::vector<std::string>& contains = {}, size_t from = 0) const;
    // The last such line; false when none.
    bool Last(const std::string& kind, const std::vector<std::string>& contains, JournalLine* line,
              size_t from = 0) const;

private:
    std::wstring m_path;
};

// The value of "name=" in a journal line's details: up to the next " word="
// (values such as a label's text may hold blanks), or the end.
std::string DetailValue(const std::string& details, const std::string& name);

}  // namespace certdrive
