// Certaide's entry: the "-exit" switch, the single instance, the shared
// context and events, the main window, the key monitor thread and the
// message loop, and the teardown in reverse.
#include <windows.h>

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <cwchar>
#include <new>
#include <string>

#include "AppConfig.h"
#include "AppContext.h"
#include "HttpWinNet.h"
#include "Journal.h"
#include "MainWnd.h"
#include "MiniDump.h"
#include "MonitorThread.h"
#include "PaintManager.h"
#include "ResourceCatalog.h"
#include "SKFDeviceHandler.h"
#include "TraceHelper.h"
#include "UIDelegate.h"
#include "sm2_hooks.h"
#include "sm_registration.h"

#define TRACE_MODULE L"AppMain"

#ifndef CERTAIDE_RENEWAL_URL
#define CERTAIDE_RENEWAL_URL L"https://renew.sorvel.cn/AssistantServer/RequestAction.do"
#endif

namespace {

const wchar_t SINGLE_INSTANCE_EVENT[] = L"{765D017B-4EDB-46D7-9311-0411D596255F}";
constexpr UINT IDS_APP_TITLE = 128;
constexpr UINT IDI_APP_ICON = 128;

std::wstring LoadTitle() {
    wchar_t title[257] = {0};
    LoadStringW(GetModuleHandleW(nullptr), IDS_APP_TITLE, title, 256);
    return title;
}

// Restores, shows and lifts the running instance's window.
void BringRunningInstanceForward() {
    const std::wstring title = LoadTitle();
    HWND window = FindWindowW(nullptr, title.c_str());
    if (!window || !IsWindow(window)) return;
    ShowWindow(window, SW_RESTORE);
    ShowWindow(window, SW_SHOWNA);
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

// The command line after the program's name and the one blank that follows
// it. The C runtime's tail skips every blank, which would make " -exit" the
// switch too.
std::wstring CommandLineTail(const wchar_t* crtTail) {
    const wchar_t* p = GetCommandLineW();
    if (!p) return crtTail ? crtTail : L"";
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"') ++p;
        if (*p) ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t') ++p;
    }
    if (*p == L' ' || *p == L'\t') ++p;
    return p;
}

}  // namespace

// 1 when another instance runs (its window brought forward), 0 when this
// process now owns the named event.
int CheckExistedInstance(HANDLE* phInstanceEvent) {
    TRACE_SCOPE(L"CheckExistedInstance");
    *phInstanceEvent = OpenEventW(READ_CONTROL, FALSE, SINGLE_INSTANCE_EVENT);
    if (*phInstanceEvent) {
        BringRunningInstanceForward();
        return 1;
    }
    *phInstanceEvent = CreateEventW(nullptr, TRUE, TRUE, SINGLE_INSTANCE_EVENT);
    // Two processes that start together both miss the open: the one whose
    // create finds the event is the second.
    if (*phInstanceEvent && GetLastError() == ERROR_ALREADY_EXISTS) {
        BringRunningInstanceForward();
        return 1;
    }
    return 0;
}

void ExitRunningInstance() {
    TRACE_SCOPE(L"ExitRunningInstance");
    HANDLE event = OpenEventW(READ_CONTROL, FALSE, SINGLE_INSTANCE_EVENT);
    if (!event) return;
    const std::wstring title = LoadTitle();
    HWND window = FindWindowW(nullptr, title.c_str());
    if (!window || !IsWindow(window)) {
        CloseHandle(event);
        return;
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
    for (int attempt = 0; attempt < 21; ++attempt) {
        CloseHandle(event);
        event = OpenEventW(READ_CONTROL, FALSE, SINGLE_INSTANCE_EVENT);
        if (!event) return;
        Sleep(500);
    }
    CloseHandle(event);
}

void LoadServerUrlConfig() {
    wcsncpy(g_wszServerUrl, CERTAIDE_RENEWAL_URL, 259);
    g_wszServerUrl[259] = 0;
}

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR lpCmdLine, int nCmdShow) {
    TRACE_NAME(L"wWinMain");
    const std::wstring commandLine = CommandLineTail(lpCmdLine);
    // The shared pieces live on the heap: a monitor thread that outlives its
    // wait keeps using them until the process ends.
    PluggedKeyInfoCache* cache = new PluggedKeyInfoCache(&g_pUSBKEYLibraryList);
    AppEventSet* events = new AppEventSet();
    AppContext* context = new AppContext();
    HWND* mainWindow = new HWND(nullptr);
    HANDLE instanceEvent = nullptr;
    bool monitorRunning = false;
    int exitCode = 0;

    TraceRegister();
    JournalTraceFailures();
    SetUnhandledExceptionFilter(&MiniDumper::ApplicationCrashHandler);
    CoInitialize(nullptr);
    OleInitialize(nullptr);
    OpenSSL_add_all_ciphers();
    OpenSSL_add_all_digests();
    // The SM identifiers, names and ZUC after OpenSSL's own records, then
    // SM2 in OpenSSL's EC key method and key decoding.
    smcrypto::RegisterSMAlgorithms();
    smcrypto::RegisterSM2Hooks();
    ERR_load_crypto_strings();
    ERR_clear_error();

    if (_wcsicmp(commandLine.c_str(), L"-exit") == 0) {
        ExitRunningInstance();
    } else if (CheckExistedInstance(&instanceEvent) == 1) {
        TRACE_FAIL(L"App running", L"CheckExistedInstance() == 1", E_FAIL);
    } else {
        context->phMainWnd = mainWindow;
        context->pEvents = events;
        context->pCache = cache;
        LoadServerUrlConfig();
        ApplyTestBindingUrls();
        CreateStartupEvents(*events);
        // A failed allocation registers none: PIN requests then fail.
        SKFRegisterUIDelegator(new (std::nothrow) CCustomizedUIDelegate);
        Veneer::CPaintManagerUI::SetInstance(hInstance);
        CMainWnd* window = new (std::nothrow) CMainWnd(context);
        if (!window) {
            TRACE_FAIL(L"new CMainWnd", L"pMainWnd == NULL", E_OUTOFMEMORY);
        } else {
            const std::wstring title = LoadTitle();
            HWND hwnd = window->Create(nullptr, title.c_str(), 0x96CA0000, 0, 0, 0, 800, 552);
            if (!hwnd) {
                // No window (a skin that does not load): the renewal thread is
                // told to end, and the process ends with a failure.
                TRACE_FAIL(L"CMainWnd::Create", L"hWnd == NULL", E_FAIL);
                SetEvent(events->hQuit);
                delete window;
                exitCode = 1;
            } else {
                window->SetIcon(IDI_APP_ICON);
                window->CenterOnOwner();
                *mainWindow = hwnd;
                ShowWindow(hwnd, nCmdShow);
                JournalWrite(L"window", L"shown");
                HANDLE monitor = CreateThread(nullptr, 0, &MonitorThread, context, 0, nullptr);
                JournalWrite(L"app", L"started pid=" + std::to_wstring(GetCurrentProcessId()));
                Veneer::CPaintManagerUI::RunMessageLoop();
                JournalWrite(L"app", L"exiting");
                if (monitor) {
                    monitorRunning = WaitForSingleObject(monitor, 5000) == WAIT_TIMEOUT;
                    CloseHandle(monitor);
                }
                delete window;
            }
        }
    }

    Veneer::GetResourceCatalog().Release();
    if (instanceEvent) CloseHandle(instanceEvent);
    if (!monitorRunning) {
        CRYPTO_cleanup_all_ex_data();
        ERR_free_strings();
        EVP_cleanup();
    }
    SKFUnregisterUIDelegator();
    OleUninitialize();
    CoUninitialize();
    TraceUnregister();
    if (!monitorRunning) {
        *context = AppContext();
        delete cache;
        CloseStartupEvents(*events);
        delete events;
        delete context;
        delete mainWindow;
    }
    return exitCode;
}
