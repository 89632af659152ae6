#include "frame.h"

const char kFrameHelpFailedText[] = "Help is not available: the help file could not be opened.";

namespace {

CWinApp* g_app = NULL;
HHOOK g_helpKeyFilter = NULL;
COccManager g_defaultOccManager;

bool KeyHeld(int virtualKey) { return ::GetKeyState(virtualKey) < 0; }

// Sees every message of the dialog boxes' modal loops (the window system
// passes them to MSGF_DIALOGBOX filters before the dialog's own keyboard
// handling). F1 without Shift, Ctrl or Alt becomes ID_HELP for the main
// window. Without a focus window the key arrives as WM_SYSKEYDOWN.
LRESULT CALLBACK HelpKeyFilter(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == MSGF_DIALOGBOX) {
        const MSG* msg = reinterpret_cast<const MSG*>(lParam);
        if ((msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) &&
            IsPlainHelpKey(static_cast<unsigned>(msg->wParam), KeyHeld(VK_SHIFT),
                           KeyHeld(VK_CONTROL), KeyHeld(VK_MENU))) {
            CWinApp* app = AfxGetApp();
            if (app != NULL && app->m_pMainWnd != NULL && app->m_pMainWnd->m_hWnd != NULL) {
                ::SendMessageA(app->m_pMainWnd->m_hWnd, WM_COMMAND, ID_HELP, 0);
                return TRUE;
            }
        }
    }
    return ::CallNextHookEx(g_helpKeyFilter, code, wParam, lParam);
}

}  // namespace

CWinApp* AfxGetApp() { return g_app; }

LPCSTR AfxGetAppName() { return g_app != NULL ? g_app->m_pszAppName : NULL; }

int CWinThread::Run()
{
    m_running = true;
    MSG msg;
    while (::GetMessageA(&msg, NULL, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    m_running = false;
    return ExitInstance();
}

BEGIN_MESSAGE_MAP(CWinApp, CWinThread)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCSTR appName)
    : m_hInstance(NULL), m_pszAppName(appName), m_pszHelpFilePath(NULL), m_occManager(NULL)
{
    m_appName[0] = '\0';
    m_helpPath[0] = '\0';
    if (g_app == NULL) g_app = this;
}

CWinApp::~CWinApp()
{
    if (g_app == this) g_app = NULL;
}

int CWinApp::Start(HINSTANCE instance)
{
    m_hInstance = instance;

    char exePath[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(instance, exePath, sizeof exePath);
    const bool pathComplete = length > 0 && length < sizeof exePath;
    if (!pathComplete) exePath[0] = '\0';

    if (m_pszAppName == NULL) {
        AppNameFromPath(exePath, m_appName, sizeof m_appName);
        m_pszAppName = m_appName;
    }
    if (pathComplete && HelpPathFromExePath(exePath, m_helpPath, sizeof m_helpPath))
        m_pszHelpFilePath = m_helpPath;

    g_helpKeyFilter =
        ::SetWindowsHookExA(WH_MSGFILTER, &HelpKeyFilter, NULL, ::GetCurrentThreadId());

    const int exitCode = InitInstance() ? Run() : ExitInstance();

    if (g_helpKeyFilter != NULL) ::UnhookWindowsHookEx(g_helpKeyFilter);
    g_helpKeyFilter = NULL;
    return exitCode;
}

HICON CWinApp::LoadIcon(UINT id) const { return ::LoadIconA(m_hInstance, MAKEINTRESOURCEA(id)); }

void CWinApp::EnableControlContainer(COccManager* manager)
{
    m_occManager = manager != NULL ? manager : &g_defaultOccManager;
}

BOOL CWinApp::Enable3dControlsStatic()
{
    // Windows 4.0 and later draw dialog controls in 3-D for programs marked
    // for version 4.0, as this one is; there is nothing to load.
    const DWORD version = ::GetVersion();
    return LOBYTE(LOWORD(version)) >= 4 ? TRUE : FALSE;
}

DWORD CWinApp::FindHelpContext() const
{
    HWND start = ::GetFocus();
    if (start == NULL) start = ::GetActiveWindow();

    DWORD context = 0;
    for (HWND hwnd = start; hwnd != NULL && context == 0; hwnd = ::GetParent(hwnd)) {
        const CWnd* wnd = CWnd::FromHandlePermanent(hwnd);
        if (wnd != NULL) context = wnd->GetHelpContext();
    }
    return context;
}

void CWinApp::OnHelp()
{
    // F1 inside the layer's own failure message must not stack another one.
    static bool s_busy = false;
    if (s_busy) return;
    s_busy = true;

    const DWORD context = FindHelpContext();
    if (context != 0)
        WinHelp(context, HELP_CONTEXT);
    else
        WinHelp(0, HELP_CONTENTS);
    s_busy = false;
}

void CWinApp::WinHelp(DWORD_PTR data, UINT command)
{
    HWND main = m_pMainWnd != NULL ? m_pMainWnd->m_hWnd : NULL;
    const BOOL shown =
        m_pszHelpFilePath != NULL && ::WinHelpA(main, m_pszHelpFilePath, command, data);
    if (!shown) {
        HWND owner = main != NULL ? ::GetLastActivePopup(main) : NULL;
        ::MessageBoxA(owner, kFrameHelpFailedText, m_pszAppName, MB_OK | MB_ICONEXCLAMATION);
    }
}
