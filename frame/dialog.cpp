#include "frame.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_MESSAGE(WM_INITDIALOG, &CDialog::HandleInitDialog)
    ON_COMMAND(IDOK, &CDialog::OnOK)
    ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() {}

INT_PTR CDialog::DoModal()
{
    CWinApp* app = AfxGetApp();
    HINSTANCE instance = app != NULL ? app->m_hInstance : ::GetModuleHandleA(NULL);

    HWND owner = m_pParentWnd != NULL ? m_pParentWnd->m_hWnd : NULL;
    if (owner == NULL && app != NULL && app->m_pMainWnd != NULL && app->m_pMainWnd != this)
        owner = app->m_pMainWnd->m_hWnd;

    // The window system's modal run disables the owner while the dialog is
    // up; its loop passes each message through the F1 filter first.
    const INT_PTR result = ::DialogBoxParamA(instance, MAKEINTRESOURCEA(m_templateId), owner,
                                             &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    if (m_hWnd != NULL) Detach();
    return result;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* wnd;
    if (message == WM_INITDIALOG) {
        // The first message that knows its object: from here on the
        // window is found through its handle.
        wnd = reinterpret_cast<CDialog*>(lParam);
        wnd->Attach(hwnd);
    } else {
        wnd = CWnd::FromHandlePermanent(hwnd);
        if (wnd == NULL) return FALSE;  // messages before WM_INITDIALOG
    }

    LRESULT result = 0;
    bool wantDefault = false;
    const bool handled = wnd->OnWndMsg(message, wParam, lParam, &result, &wantDefault);
    if (message == WM_NCDESTROY) wnd->Detach();
    if (!handled || wantDefault) return FALSE;  // the dialog's default processing

    switch (message) {
    // These messages take the dialog procedure's return value as their result.
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        return static_cast<INT_PTR>(result);
    default:
        ::SetWindowLongA(hwnd, DWL_MSGRESULT, static_cast<LONG>(result));
        return TRUE;
    }
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) { return OnInitDialog(); }

BOOL CDialog::UpdateData(BOOL saveAndValidate)
{
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return dx.Failed() ? FALSE : TRUE;
}

void CDialog::EndDialog(int result) { ::EndDialog(m_hWnd, result); }

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }
