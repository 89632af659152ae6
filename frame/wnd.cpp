#include "frame.h"

namespace {

// Every window of the layer that currently has a handle.
CWnd* g_firstAttached = NULL;

}  // namespace

BOOL CMenu::AppendMenu(UINT flags, UINT_PTR id, LPCSTR item)
{
    return ::AppendMenuA(m_hMenu, flags, id, item);
}

CWnd::CWnd() : m_hWnd(NULL), m_current(NULL), m_nextAttached(NULL) {}

CWnd::~CWnd()
{
    if (m_hWnd != NULL) {
        Detach();
    } else {
        // A main window whose window was never created (a dialog that
        // could not be made) must not stay referred to either.
        CWinApp* app = AfxGetApp();
        if (app != NULL && app->m_pMainWnd == this) app->m_pMainWnd = NULL;
    }
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd)
{
    if (hwnd == NULL) return NULL;
    for (CWnd* wnd = g_firstAttached; wnd != NULL; wnd = wnd->m_nextAttached)
        if (wnd->m_hWnd == hwnd) return wnd;
    return NULL;
}

void CWnd::Attach(HWND hwnd)
{
    m_hWnd = hwnd;
    m_nextAttached = g_firstAttached;
    g_firstAttached = this;
}

void CWnd::Detach()
{
    for (CWnd** link = &g_firstAttached; *link != NULL; link = &(*link)->m_nextAttached) {
        if (*link == this) {
            *link = m_nextAttached;
            break;
        }
    }
    m_nextAttached = NULL;
    m_hWnd = NULL;

    // Nothing may refer to the main window once it is gone; a running
    // message loop ends with it.
    CWinApp* app = AfxGetApp();
    if (app != NULL && app->m_pMainWnd == this) {
        app->m_pMainWnd = NULL;
        if (app->m_running) ::PostQuitMessage(0);
    }
}

bool CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                    bool* wantDefault)
{
    CurrentMessage current = {false};
    CurrentMessage* outer = m_current;
    m_current = &current;

    LRESULT value = 0;
    bool handled = DispatchToMap(message, wParam, lParam, &value);
    if (!handled && message == WM_COMMAND) {
        // Commands that the window does not handle go on to the application.
        CWinApp* app = AfxGetApp();
        if (app != NULL) handled = app->DispatchToMap(message, wParam, lParam, &value);
    }

    m_current = outer;
    *result = value;
    *wantDefault = current.wantDefault;
    return handled;
}

LRESULT CWnd::Default()
{
    if (m_current != NULL) m_current->wantDefault = true;
    return 0;
}

void CWnd::OnSysCommand(UINT, LPARAM) { Default(); }

void CWnd::OnPaint() { Default(); }

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }

void CWnd::GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }

CMenu* CWnd::GetSystemMenu(BOOL revert)
{
    m_systemMenu.m_hMenu = ::GetSystemMenu(m_hWnd, revert);
    return m_systemMenu.m_hMenu != NULL ? &m_systemMenu : NULL;
}

HICON CWnd::SetIcon(HICON icon, BOOL big)
{
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

void CWnd::SetDlgItemText(int id, LPCSTR text) { ::SetDlgItemTextA(m_hWnd, id, text); }

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd->m_hWnd)
{
    m_hDC = ::BeginPaint(m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }

BOOL CPaintDC::DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }
