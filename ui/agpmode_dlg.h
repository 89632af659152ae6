// The configuration dialog, the program's main window: it owns the two AGP
// capability records and the user's pending requests.
#ifndef LUMBREL_UI_AGPMODE_DLG_H
#define LUMBREL_UI_AGPMODE_DLG_H

#include <cstdint>

#include "agp.h"
#include "frame.h"

class CAgpModeDlg : public CDialog {
public:
    explicit CAgpModeDlg(CWnd* parent = NULL);
    ~CAgpModeDlg() override;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    void OnOK() override;

    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    HICON OnQueryDragIcon();
    void OnRate1x();
    void OnRate2x();
    void OnPipe();
    void OnSba();
    void OnSetMode();

    HICON m_icon;
    AddressingRequest m_addressingRequest;
    RateRequest m_rateRequest;
    uint16_t m_agpValid;
    AgpCapability m_chipset;
    AgpCapability m_adapter;

private:
    void Message(LPCSTR text);
    void ShowStatus(const AgpStatusTexts& texts);

    DECLARE_MESSAGE_MAP()
};

#endif
