#include "appid.h"

#include <windows.h>
#include <propsys.h>

#include "apppaths_win.h"
#include "baseutil_win.h"

// A thread of its own watches the JVM's windows while the launcher waits
// for it: an event hook for the process, served by the thread's message
// wait, until the launcher says the JVM has ended. Until the hook has
// told of a window, the thread also looks at the process's windows four
// times a second: a system that sends no such events (Wine does not) is
// served all the same, and one that does costs no polling once it has.
// user32, shell32 and ole32 are loaded from the system folder when the
// key is set; the product's imports stay as they are.
typedef HWINEVENTHOOK(WINAPI* SetWinEventHookProc)(DWORD, DWORD, HMODULE, WINEVENTPROC, DWORD, DWORD, DWORD);
typedef BOOL(WINAPI* UnhookWinEventProc)(HWINEVENTHOOK);
typedef DWORD(WINAPI* MsgWaitProc)(DWORD, const HANDLE*, BOOL, DWORD, DWORD);
typedef BOOL(WINAPI* PeekMessageProc)(LPMSG, HWND, UINT, UINT, UINT);
typedef LRESULT(WINAPI* DispatchMessageProc)(const MSG*);
typedef BOOL(WINAPI* EnumWindowsProc)(WNDENUMPROC, LPARAM);
typedef DWORD(WINAPI* GetWindowThreadProcessIdProc)(HWND, LPDWORD);
typedef BOOL(WINAPI* IsWindowVisibleProc)(HWND);
typedef BOOL(WINAPI* IsWindowProc)(HWND);
typedef HWND(WINAPI* GetAncestorProc)(HWND, UINT);
typedef HRESULT(WINAPI* SHGetPropertyStoreForWindowProc)(HWND, REFIID, void**);
typedef HRESULT(WINAPI* CoInitializeExProc)(LPVOID, DWORD);
typedef void(WINAPI* CoUninitializeProc)();

static const IID propertyStoreId = {0x886D8EEB, 0x8CF2, 0x4446, {0x8D, 0x02, 0xCD, 0xBA, 0x1D, 0xBD, 0xCF, 0x99}};
static const GUID appUserModel = {0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}};

static HANDLE watcher = NULL, stopWatching = NULL;
static bool watching = false;  // a watcher runs for the child of this wait
static DWORD watchedPid = 0;
static std::vector<WindowProperty> properties;
static std::vector<HWND> tagged;  // windows that hold the properties now
static bool eventsCame = false;   // the hook serves: no more looking
static bool comReady = false;     // COM is up on the watcher's thread

static std::string hexOf(unsigned long long value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    do hex.insert(hex.begin(), digits[value & 0xF]); while ((value >>= 4) != 0);
    return "0x" + hex;
}

// Sets the properties on a window (or removes them, with empty), in order;
// a line says what became of it.
static void setWindowProperties(HWND window, bool remove) {
    // COM and shell32 only once there is a window: a JVM that shows none
    // costs neither (loading them takes Wine tens of milliseconds).
    if (!comReady) {
        CoInitializeExProc coInit = reinterpret_cast<CoInitializeExProc>(systemProc("ole32.dll", "CoInitializeEx"));
        comReady = coInit != NULL && SUCCEEDED(coInit(NULL, COINIT_APARTMENTTHREADED));
    }
    static SHGetPropertyStoreForWindowProc storeFor = reinterpret_cast<SHGetPropertyStoreForWindowProc>(
        systemProc("shell32.dll", "SHGetPropertyStoreForWindow"));
    IPropertyStore* store = NULL;
    HRESULT result = storeFor != NULL ? storeFor(window, propertyStoreId, reinterpret_cast<void**>(&store)) : E_NOTIMPL;
    for (size_t i = 0; SUCCEEDED(result) && i < properties.size(); ++i) {
        // Removed in the reverse order: the ID first.
        const WindowProperty& p = properties[remove ? properties.size() - 1 - i : i];
        PROPERTYKEY key = {appUserModel, p.id};
        PROPVARIANT value;
        PropVariantInit(&value);
        if (!remove) {
            value.vt = VT_LPWSTR;
            value.pwszVal = const_cast<wchar_t*>(p.value.c_str());  // the store copies it
        }
        result = store->SetValue(key, value);
    }
    if (store != NULL) store->Release();
    std::string what = remove ? "appIdWindowCleared=" : "appIdWindowTagged=";
    writeLine(stdout, what + hexOf(reinterpret_cast<ULONG_PTR>(window)) +
                          (SUCCEEDED(result) ? std::string() : ": failed with " + hexOf(static_cast<unsigned long>(result))));
}

// A visible top-level window of the JVM.
static bool jvmTopWindow(HWND window) {
    static GetWindowThreadProcessIdProc processOf = user32<GetWindowThreadProcessIdProc>("GetWindowThreadProcessId");
    static GetAncestorProc ancestor = user32<GetAncestorProc>("GetAncestor");
    DWORD pid = 0;
    if (processOf == NULL || ancestor == NULL) return false;
    processOf(window, &pid);
    return pid == watchedPid && ancestor(window, GA_ROOT) == window;
}

static void tag(HWND window) {
    for (size_t i = 0; i < tagged.size(); ++i)
        if (tagged[i] == window) return;
    setWindowProperties(window, false);
    tagged.push_back(window);
}

// Removed when hidden, as a window's properties must be before it is
// closed: a window of another process tells nothing sooner. One that is
// gone already holds nothing any more.
static void untag(HWND window) {
    static IsWindowProc exists = user32<IsWindowProc>("IsWindow");
    for (size_t i = 0; i < tagged.size(); ++i) {
        if (tagged[i] != window) continue;
        tagged.erase(tagged.begin() + i);
        if (exists != NULL && exists(window)) setWindowProperties(window, true);
        return;
    }
}

static void CALLBACK windowEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD, DWORD) {
    if (object != OBJID_WINDOW || child != CHILDID_SELF || window == NULL || !jvmTopWindow(window)) return;
    eventsCame = true;
    if (event == EVENT_OBJECT_SHOW) tag(window);
    else untag(window);
}

static BOOL CALLBACK collectShown(HWND window, LPARAM found) {
    static IsWindowVisibleProc visible = user32<IsWindowVisibleProc>("IsWindowVisible");
    if (visible != NULL && visible(window) && jvmTopWindow(window))
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

// The windows shown now get the properties, those no longer shown lose them.
static void lookAtWindows(EnumWindowsProc enumWindows) {
    std::vector<HWND> shown;
    if (enumWindows == NULL || !enumWindows(collectShown, reinterpret_cast<LPARAM>(&shown))) return;
    std::vector<HWND> before = tagged;
    for (size_t i = 0; i < before.size(); ++i) {
        bool still = false;
        for (size_t k = 0; k < shown.size(); ++k) still = still || shown[k] == before[i];
        if (!still) untag(before[i]);
    }
    for (size_t i = 0; i < shown.size(); ++i) tag(shown[i]);
}

static DWORD WINAPI watchWindows(LPVOID) {
    // No JVM shows a window this soon, and a child that ends sooner (a
    // quick updater) should not wait for user32 to load; a window shown
    // meanwhile is found by the first look.
    if (WaitForSingleObject(stopWatching, 200) == WAIT_OBJECT_0) return 0;
    comReady = false;
    SetWinEventHookProc setHook = user32<SetWinEventHookProc>("SetWinEventHook");
    UnhookWinEventProc unhook = user32<UnhookWinEventProc>("UnhookWinEvent");
    MsgWaitProc wait = user32<MsgWaitProc>("MsgWaitForMultipleObjects");
    PeekMessageProc peek = user32<PeekMessageProc>("PeekMessageW");
    DispatchMessageProc dispatch = user32<DispatchMessageProc>("DispatchMessageW");
    EnumWindowsProc enumWindows = user32<EnumWindowsProc>("EnumWindows");
    HWINEVENTHOOK hook = setHook != NULL ? setHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_HIDE, NULL, windowEvent, watchedPid,
                                                   0, WINEVENT_OUTOFCONTEXT)
                                         : NULL;
    if (hook == NULL || unhook == NULL || wait == NULL || peek == NULL || dispatch == NULL) {
        writeLine(stdout, "appIdWindows=not watched: the system has no window events for it");
    } else {
        lookAtWindows(enumWindows);
        for (;;) {
            DWORD woke = wait(1, &stopWatching, FALSE, eventsCame ? INFINITE : 250, QS_ALLINPUT);
            if (woke == WAIT_TIMEOUT) {
                lookAtWindows(enumWindows);
            } else if (woke == WAIT_OBJECT_0 + 1) {
                MSG message;
                while (peek(&message, NULL, 0, 0, PM_REMOVE)) dispatch(&message);
            } else {
                break;
            }
        }
    }
    if (hook != NULL && unhook != NULL) unhook(hook);
    if (comReady) reinterpret_cast<CoUninitializeProc>(systemProc("ole32.dll", "CoUninitialize"))();
    return 0;
}

void watchAppWindows(unsigned long pid) {
    if (properties.empty()) {
        WideText path = moduleFileNameW();
        if (path.empty()) return;
        properties = appIdWindowProperties(path, childAppId());
    }
    // One caught in a call to a hung window still holds the state.
    if (watcher != NULL && WaitForSingleObject(watcher, 0) != WAIT_OBJECT_0) {
        writeLine(stdout, "appIdWindows=not watched: the last watcher has not ended");
        return;
    }
    if (watcher != NULL) {
        CloseHandle(watcher);
        CloseHandle(stopWatching);
    }
    watchedPid = pid;
    tagged.clear();
    eventsCame = false;
    stopWatching = CreateEventA(NULL, TRUE, FALSE, NULL);
    watcher = stopWatching != NULL ? CreateThread(NULL, 0, watchWindows, NULL, 0, NULL) : NULL;
    watching = watcher != NULL;
}

void unwatchAppWindows() {
    if (!watching) return;
    watching = false;
    SetEvent(stopWatching);
    // Its last lines come before the launcher's next; a thread caught in a
    // call to a hung window must not keep the launcher from its end, and
    // is left to end when it can (or with the process).
    if (WaitForSingleObject(watcher, 2000) != WAIT_OBJECT_0) return;
    CloseHandle(watcher);
    CloseHandle(stopWatching);
    watcher = stopWatching = NULL;
}
