// Checks the class layer as the program uses it, in a program of its own
// run under Wine: start-up and naming, message maps (derived entries before
// base ones, notification codes, commands going on to the application),
// default processing, results of handled messages, the default OK and
// Cancel handling, the owner of a dialog without a parent, the F1 filter
// with the help context of the focus window, and the clearing of the
// main-window reference. The dialogs drive themselves with posted messages.
#include <cstdint>
#include <string>

#include "check.h"
#include "frame.h"

namespace {

Checks checks;

const UINT kStep = WM_APP + 1;
const UINT kAnswer = WM_APP + 2;
const int kDerivedButton = 300;
const int kBaseButton = 301;
const int kEdit = 400;
const UINT kAppCommand = 0xE123;

// What the handlers saw.
struct Seen {
    int derivedClicks = 0;
    int baseClicks = 0;
    int baseOverridden = 0;
    int appCommands = 0;
    int setTexts = 0;
    int helpRequests = 0;
    DWORD helpContext = 0;
    int saveExchanges = 0;
    int okAttempts = 0;
    HWND mainWindow = NULL;
    HWND nestedOwner = NULL;
    BOOL ownerEnabledDuringNested = TRUE;
    INT_PTR nestedResult = 0;
};
Seen seen;

class BaseDlg : public CDialog {
public:
    explicit BaseDlg(UINT id) : CDialog(id) {}

protected:
    void OnBaseButton() { ++seen.baseClicks; }
    void OnOverridden() { ++seen.baseOverridden; }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(BaseDlg, CDialog)
    ON_BN_CLICKED(kBaseButton, &BaseDlg::OnBaseButton)
    ON_BN_CLICKED(kDerivedButton, &BaseDlg::OnOverridden)
END_MESSAGE_MAP()

class NestedDlg : public CDialog {
public:
    NestedDlg() : CDialog(201) {}

protected:
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        seen.nestedOwner = ::GetWindow(m_hWnd, GW_OWNER);
        seen.ownerEnabledDuringNested = ::IsWindowEnabled(seen.nestedOwner);
        HWND edit = ::GetDlgItem(m_hWnd, kEdit);
        ::SetFocus(edit);
        // Runs through the dialog's modal loop: F1 first, then Esc's command.
        ::PostMessageA(edit, WM_KEYDOWN, VK_F1, 1);
        ::PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return FALSE;
    }
};

class TestDlg : public BaseDlg {
public:
    TestDlg() : BaseDlg(200), m_failExchange(true) {}

protected:
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        seen.mainWindow = m_hWnd;
        ::PostMessageA(m_hWnd, kStep, 0, 0);
        return TRUE;
    }

    void DoDataExchange(CDataExchange* dx) override
    {
        if (!dx->m_bSaveAndValidate) return;
        ++seen.saveExchanges;
        // The first OK fails its validation, the second passes.
        if (m_failExchange) dx->Fail();
        m_failExchange = false;
    }

    void OnOK() override
    {
        ++seen.okAttempts;
        CDialog::OnOK();
    }

    void OnDerivedButton() { ++seen.derivedClicks; }

    LRESULT OnSetText(WPARAM, LPARAM)
    {
        ++seen.setTexts;
        return Default();  // the window's default processing stores the caption
    }

    LRESULT OnAnswer(WPARAM wParam, LPARAM) { return static_cast<LRESULT>(wParam) * 2; }

    HICON OnQueryDragIcon() { return reinterpret_cast<HICON>(static_cast<uintptr_t>(0x1234)); }

    LRESULT OnStep(WPARAM, LPARAM)
    {
        HWND derived = ::GetDlgItem(m_hWnd, kDerivedButton);
        SendMessage(WM_COMMAND, MAKEWPARAM(kDerivedButton, BN_CLICKED), reinterpret_cast<LPARAM>(derived));
        SendMessage(WM_COMMAND, MAKEWPARAM(kDerivedButton, BN_SETFOCUS), reinterpret_cast<LPARAM>(derived));
        SendMessage(WM_COMMAND, MAKEWPARAM(kBaseButton, BN_CLICKED), 0);
        SendMessage(WM_COMMAND, kAppCommand, 0);

        ::SetWindowTextA(m_hWnd, "renamed");
        char title[32] = "";
        ::GetWindowTextA(m_hWnd, title, sizeof title);
        checks.Equal<std::string>("renamed", title, "Default(): default processing ran");
        checks.Equal<LRESULT>(42, SendMessage(kAnswer, 21, 0), "a handler's result is the message's result");
        checks.Equal<LRESULT>(0x1234, SendMessage(WM_QUERYDRAGICON, 0, 0), "WM_QUERYDRAGICON returns the icon");
        checks.Check(CWnd::FromHandlePermanent(m_hWnd) == this, "the window's object is found by handle");
        checks.Check(CWnd::FromHandlePermanent(derived) == NULL, "a control is not a window of the layer");

        NestedDlg nested;
        seen.nestedResult = nested.DoModal();
        checks.Check(::IsWindowEnabled(m_hWnd) != FALSE, "owner enabled again after the nested dialog");

        // Help from the main dialog, with the focus in its edit control.
        HWND edit = ::GetDlgItem(m_hWnd, kEdit);
        ::SetFocus(edit);
        ::PostMessageA(edit, WM_KEYDOWN, VK_F1, 1);
        ::PostMessageA(m_hWnd, kStep + 10, 0, 0);
        return 0;
    }

    LRESULT OnFinish(WPARAM, LPARAM)
    {
        checks.Equal<DWORD>(0x20000 + 200, seen.helpContext, "F1 in the main dialog: its help context");
        checks.Equal(2, seen.helpRequests, "F1 twice: two help requests");
        // OK twice: the first is refused by the data exchange.
        ::PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        ::PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return 0;
    }

private:
    bool m_failExchange;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDlg, BaseDlg)
    ON_BN_CLICKED(kDerivedButton, &TestDlg::OnDerivedButton)
    ON_MESSAGE(WM_SETTEXT, &TestDlg::OnSetText)
    ON_MESSAGE(kAnswer, &TestDlg::OnAnswer)
    ON_MESSAGE(kStep, &TestDlg::OnStep)
    ON_MESSAGE(kStep + 10, &TestDlg::OnFinish)
    ON_WM_QUERYDRAGICON(&TestDlg::OnQueryDragIcon)
END_MESSAGE_MAP()

class CheckApp : public CWinApp {
public:
    BOOL InitInstance() override
    {
        checks.Check(AfxGetApp() == this, "the global object is the application");
        checks.Equal<std::string>("frame_check", m_pszAppName, "named after the executable");
        const std::string help = m_pszHelpFilePath ? m_pszHelpFilePath : "";
        char exe[MAX_PATH] = "";
        ::GetModuleFileNameA(NULL, exe, sizeof exe);
        std::string expected = exe;
        expected = expected.substr(0, expected.size() - 4) + ".HLP";
        checks.Equal(expected, help, "help file beside the executable");

        EnableControlContainer();
        checks.Check(GetOccManager() != NULL, "control container enabled");
        checks.Check(Enable3dControlsStatic() != FALSE, "3-D controls drawn by the system");

        CDialog missing(999);
        checks.Equal<INT_PTR>(-1, missing.DoModal(), "a missing template: -1");

        TestDlg dialog;
        m_pMainWnd = &dialog;
        const INT_PTR result = dialog.DoModal();
        checks.Equal<INT_PTR>(IDOK, result, "ended by the default OK handling");
        checks.Check(m_pMainWnd == NULL, "main-window reference cleared with its window");
        checks.Check(dialog.m_hWnd == NULL, "dialog object without a window after the run");

        checks.Equal(1, seen.derivedClicks, "derived entry handles its control's click");
        checks.Equal(0, seen.baseOverridden, "base entry for the same click not reached");
        checks.Equal(1, seen.baseClicks, "base entry reached for the base's control");
        checks.Equal(1, seen.appCommands, "unhandled command reaches the application");
        checks.Equal(1, seen.setTexts, "WM_SETTEXT handled once");
        checks.Check(seen.mainWindow != NULL && seen.nestedOwner == seen.mainWindow,
                     "a dialog without a parent is owned by the main window");
        checks.Equal(FALSE, seen.ownerEnabledDuringNested, "owner disabled while the nested dialog runs");
        checks.Equal<INT_PTR>(IDCANCEL, seen.nestedResult, "Esc's command ends with IDCANCEL");
        checks.Equal(2, seen.okAttempts, "OK pressed twice");
        checks.Equal(2, seen.saveExchanges, "each OK takes the data first");
        return FALSE;
    }

    int ExitInstance() override { return checks.Finish(); }

    void OnAppCommand() { ++seen.appCommands; }

    void OnHelpRequest()
    {
        ++seen.helpRequests;
        seen.helpContext = FindHelpContext();
        if (seen.helpRequests == 1)
            checks.Equal<DWORD>(0x20000 + 201, seen.helpContext, "F1 in the nested dialog: its help context");
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CheckApp, CWinApp)
    ON_COMMAND(kAppCommand, &CheckApp::OnAppCommand)
    ON_COMMAND(ID_HELP, &CheckApp::OnHelpRequest)
END_MESSAGE_MAP()

CheckApp theApp;

}  // namespace
