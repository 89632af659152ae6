// The application object and the About box.
#ifndef LUMBREL_UI_AGPMODE_APP_H
#define LUMBREL_UI_AGPMODE_APP_H

#include "frame.h"

class CAgpModeApp : public CWinApp {
public:
    CAgpModeApp();
    ~CAgpModeApp() override;

    // Runs the configuration dialog as the main window and returns FALSE,
    // so that no message loop follows and the process ends.
    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

class CAboutBox : public CDialog {
public:
    CAboutBox();
    ~CAboutBox() override;

protected:
    void DoDataExchange(CDataExchange* dx) override;

    DECLARE_MESSAGE_MAP()
};

#endif
