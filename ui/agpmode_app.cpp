#include "agpmode_app.h"

#include "agpmode_dlg.h"
#include "resource.h"

// The one application object.
CAgpModeApp theApp;

BEGIN_MESSAGE_MAP(CAgpModeApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CAgpModeApp::CAgpModeApp() : CWinApp(NULL) {}

CAgpModeApp::~CAgpModeApp() {}

BOOL CAgpModeApp::InitInstance()
{
    EnableControlContainer();
    Enable3dControlsStatic();

    CAgpModeDlg dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    // The main-window reference was cleared when the dialog's window went.
    return FALSE;
}

BEGIN_MESSAGE_MAP(CAboutBox, CDialog)
END_MESSAGE_MAP()

CAboutBox::CAboutBox() : CDialog(IDD_ABOUT, NULL) {}

CAboutBox::~CAboutBox() {}

void CAboutBox::DoDataExchange(CDataExchange*) {}
