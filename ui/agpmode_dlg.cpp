#include "agpmode_dlg.h"

#include "agpmode_app.h"
#include "agpmode_logic.h"
#include "resource.h"

BEGIN_MESSAGE_MAP(CAgpModeDlg, CDialog)
    ON_WM_SYSCOMMAND(&CAgpModeDlg::OnSysCommand)
    ON_WM_PAINT(&CAgpModeDlg::OnPaint)
    ON_WM_QUERYDRAGICON(&CAgpModeDlg::OnQueryDragIcon)
    ON_BN_CLICKED(IDC_RATE_1X, &CAgpModeDlg::OnRate1x)
    ON_BN_CLICKED(IDC_RATE_2X, &CAgpModeDlg::OnRate2x)
    ON_BN_CLICKED(IDC_PIPE, &CAgpModeDlg::OnPipe)
    ON_BN_CLICKED(IDC_SBA, &CAgpModeDlg::OnSba)
    ON_BN_CLICKED(IDC_SET_MODE, &CAgpModeDlg::OnSetMode)
END_MESSAGE_MAP()

// The requests, the flag and the records are first set by the
// initialisation; zero until then.
CAgpModeDlg::CAgpModeDlg(CWnd* parent)
    : CDialog(IDD_AGPMODE, parent),
      m_icon(AfxGetApp()->LoadIcon(IDI_APP)),
      m_addressingRequest(ADDR_NONE),
      m_rateRequest(RATE_NONE),
      m_agpValid(0),
      m_chipset(),
      m_adapter()
{
}

CAgpModeDlg::~CAgpModeDlg() {}

void CAgpModeDlg::DoDataExchange(CDataExchange*) {}

BOOL CAgpModeDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    CMenu* systemMenu = GetSystemMenu(FALSE);
    if (systemMenu != NULL) {
        char aboutItem[256];
        if (::LoadStringA(AfxGetApp()->m_hInstance, IDS_ABOUT_MENU, aboutItem, sizeof aboutItem) > 0 &&
            aboutItem[0] != '\0') {
            systemMenu->AppendMenu(MF_SEPARATOR);
            systemMenu->AppendMenu(MF_STRING, IDM_ABOUT, aboutItem);
        }
    }

    SetIcon(m_icon, TRUE);
    SetIcon(m_icon, FALSE);

    m_agpValid = 0;
    if (ReadChipsetCapability(m_chipset) != AGP_OK) {
        Message("AGP chipset is not reporting capabilities!\n");
        return FALSE;
    }
    if (ReadAdapterCapability(m_adapter) != AGP_OK) {
        Message("Video adapter is not reporting capabilities!\n");
        return FALSE;
    }
    if (IsAgpDisabledByChipset(m_chipset)) {
        Message("AGP is not valid in the system!\n");
        return FALSE;
    }

    m_rateRequest = RATE_NONE;
    m_addressingRequest = ADDR_NONE;
    m_agpValid = 1;
    ShowStatus(RefreshAgpStatus(m_chipset, m_adapter));
    return TRUE;
}

void CAgpModeDlg::OnOK() { CDialog::OnOK(); }

void CAgpModeDlg::OnSysCommand(UINT id, LPARAM lParam)
{
    if (IsAboutCommand(id)) {
        CAboutBox about;
        about.DoModal();
    } else {
        CDialog::OnSysCommand(id, lParam);
    }
}

void CAgpModeDlg::OnPaint()
{
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int cx = ::GetSystemMetrics(SM_CXICON);
    const int cy = ::GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    const int x = MinimisedIconOffset(rect.right - rect.left, cx);
    const int y = MinimisedIconOffset(rect.bottom - rect.top, cy);
    dc.DrawIcon(x, y, m_icon);
}

HICON CAgpModeDlg::OnQueryDragIcon() { return m_icon; }

void CAgpModeDlg::OnRate1x() { m_rateRequest = RATE_1X; }

void CAgpModeDlg::OnRate2x() { m_rateRequest = RATE_2X; }

void CAgpModeDlg::OnPipe() { m_addressingRequest = ADDR_PIPE; }

void CAgpModeDlg::OnSba() { m_addressingRequest = ADDR_SBA; }

void CAgpModeDlg::OnSetMode()
{
    if (m_agpValid == 0) {
        Message("AGP is not valid in this system!\n");
        return;
    }
    if (!SelectAgpMode(m_rateRequest, m_addressingRequest, m_chipset, m_adapter))
        Message("Cannot select a common data rate!\n");
    WriteAgpCommands(m_chipset, m_adapter);
    ShowStatus(RefreshAgpStatus(m_chipset, m_adapter));
}

void CAgpModeDlg::Message(LPCSTR text) { ::MessageBoxA(m_hWnd, text, AfxGetAppName(), MB_OK); }

void CAgpModeDlg::ShowStatus(const AgpStatusTexts& texts)
{
    SetDlgItemText(IDC_CHIPSET_RATE, texts.chipsetRate);
    SetDlgItemText(IDC_CHIPSET_SBA, texts.chipsetSba);
    SetDlgItemText(IDC_ADAPTER_RATE, texts.adapterRate);
    SetDlgItemText(IDC_ADAPTER_SBA, texts.adapterSba);
}
