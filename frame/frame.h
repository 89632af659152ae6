// A thin class layer over the Win32 user interface: an application object
// with a start-up of its own, modal dialogs from templates, message maps,
// default processing, F1 help and the few helpers the program draws with.
// Only ANSI functions that Windows 95 already has are called.
#ifndef LUMBREL_FRAME_FRAME_H
#define LUMBREL_FRAME_FRAME_H

#include <windows.h>

#include "frame_logic.h"

const UINT ID_HELP = kFrameIdHelp;

class CCmdTarget;
class CWnd;
class CDialog;
class CWinApp;

// ---------------------------------------------------------------------------
// Message maps. Each class with a map lists one entry per window message or
// per command/control notification; lookup starts at the most derived class
// and goes on to its bases. The handler's signature is checked when the map
// is compiled and recorded in the entry.

enum FrameSignature {
    FrameSigEnd = 0,
    FrameSigVoid,           // void OnX()
    FrameSigVoidUintLparam, // void OnX(UINT, LPARAM)
    FrameSigIcon,           // HICON OnX(); the icon is the message's result
    FrameSigRaw             // LRESULT OnX(WPARAM, LPARAM)
};

// The handler of an entry, as a member of the base class; which member is
// set follows from the handler's type and is recorded in the entry.
union FrameHandler {
    constexpr FrameHandler() : none(0) {}
    constexpr FrameHandler(void (CCmdTarget::*fn)()) : onVoid(fn) {}
    constexpr FrameHandler(void (CCmdTarget::*fn)(UINT, LPARAM)) : onUintLparam(fn) {}
    constexpr FrameHandler(HICON (CCmdTarget::*fn)()) : onIcon(fn) {}
    constexpr FrameHandler(LRESULT (CCmdTarget::*fn)(WPARAM, LPARAM)) : onRaw(fn) {}

    int none;
    void (CCmdTarget::*onVoid)();
    void (CCmdTarget::*onUintLparam)(UINT, LPARAM);
    HICON (CCmdTarget::*onIcon)();
    LRESULT (CCmdTarget::*onRaw)(WPARAM, LPARAM);
};

struct FrameMapEntry {
    UINT message;  // window message; 0 ends the map
    UINT code;     // WM_COMMAND only: notification code (0 for commands and clicks)
    UINT id;       // WM_COMMAND only: command or control ID
    FrameSignature signature;
    FrameHandler handler;
};

struct FrameMessageMap {
    const FrameMessageMap* base;
    const FrameMapEntry* entries;
};

#define DECLARE_MESSAGE_MAP()                        \
protected:                                           \
    static const FrameMapEntry s_messageEntries[];   \
    static const FrameMessageMap s_messageMap;       \
    const FrameMessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                              \
    const FrameMessageMap* theClass::GetMessageMap() const { return &theClass::s_messageMap; } \
    const FrameMessageMap theClass::s_messageMap = {&baseClass::s_messageMap,               \
                                                    &theClass::s_messageEntries[0]};        \
    const FrameMapEntry theClass::s_messageEntries[] = {

#define END_MESSAGE_MAP()                      \
    {0, 0, 0, FrameSigEnd, FrameHandler()}     \
    };

// The handler converted to the base class's member type of its signature:
// a handler of another signature does not compile.
#define FRAME_HANDLER(type, fn) FrameHandler(static_cast<type>(fn))

// void OnSysCommand(UINT id, LPARAM lParam)
#define ON_WM_SYSCOMMAND(fn) \
    {WM_SYSCOMMAND, 0, 0, FrameSigVoidUintLparam, FRAME_HANDLER(void (CCmdTarget::*)(UINT, LPARAM), fn)},
// void OnPaint()
#define ON_WM_PAINT(fn) \
    {WM_PAINT, 0, 0, FrameSigVoid, FRAME_HANDLER(void (CCmdTarget::*)(), fn)},
// HICON OnQueryDragIcon()
#define ON_WM_QUERYDRAGICON(fn) \
    {WM_QUERYDRAGICON, 0, 0, FrameSigIcon, FRAME_HANDLER(HICON (CCmdTarget::*)(), fn)},
// LRESULT OnX(WPARAM, LPARAM) for any message
#define ON_MESSAGE(message, fn) \
    {message, 0, 0, FrameSigRaw, FRAME_HANDLER(LRESULT (CCmdTarget::*)(WPARAM, LPARAM), fn)},
// void OnX() for a command (menu item, accelerator or a sent WM_COMMAND)
#define ON_COMMAND(id, fn) \
    {WM_COMMAND, 0, static_cast<UINT>(id), FrameSigVoid, FRAME_HANDLER(void (CCmdTarget::*)(), fn)},
// void OnX() for a control's notification
#define ON_CONTROL(code, id, fn)                                                  \
    {WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(id), FrameSigVoid, \
     FRAME_HANDLER(void (CCmdTarget::*)(), fn)},
#define ON_BN_CLICKED(id, fn) ON_CONTROL(BN_CLICKED, id, fn)

// ---------------------------------------------------------------------------

class CCmdTarget {
public:
    CCmdTarget() {}
    virtual ~CCmdTarget() {}

    // Calls the handler that this object's map (or a base's) has for the
    // message. False when none has one.
    bool DispatchToMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

protected:
    static const FrameMapEntry s_messageEntries[];
    static const FrameMessageMap s_messageMap;
    virtual const FrameMessageMap* GetMessageMap() const;

private:
    CCmdTarget(const CCmdTarget&);
    CCmdTarget& operator=(const CCmdTarget&);
};

class CMenu {
public:
    explicit CMenu(HMENU menu = NULL) : m_hMenu(menu) {}
    HMENU GetSafeHmenu() const { return m_hMenu; }
    BOOL AppendMenu(UINT flags, UINT_PTR id = 0, LPCSTR item = NULL);

    HMENU m_hMenu;  // not owned: the layer never destroys a menu
};

// One window that the layer created and dispatches messages to.
class CWnd : public CCmdTarget {
public:
    CWnd();
    ~CWnd() override;

    HWND GetSafeHwnd() const { return m_hWnd; }
    // The object behind a window of the layer; NULL for any other window.
    static CWnd* FromHandlePermanent(HWND hwnd);

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL IsIconic() const;
    void GetClientRect(LPRECT rect) const;
    // The window's system menu, or NULL when it has none. The object stays
    // valid until the next call.
    CMenu* GetSystemMenu(BOOL revert);
    HICON SetIcon(HICON icon, BOOL big);
    void SetDlgItemText(int id, LPCSTR text);

    // Answers the help context of this window, 0 when it has none.
    virtual DWORD GetHelpContext() const { return 0; }

    HWND m_hWnd;

    // Messages of the window, as the layer's window or dialog procedure
    // passes them on. True when handled; *result is then the message's
    // result, unless the handler asked for default processing.
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                  bool* wantDefault);

protected:
    // From inside a handler: leave the message being handled to the
    // window's default processing, with its parameters unchanged.
    LRESULT Default();

    // Handlers that only ask for default processing; derived classes
    // call them for the cases they do not handle themselves.
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();

    void Attach(HWND hwnd);
    void Detach();

private:
    friend class CDialog;
    struct CurrentMessage {
        bool wantDefault;
    };
    CurrentMessage* m_current;
    CWnd* m_nextAttached;
    CMenu m_systemMenu;
};

// Data exchange between a dialog's controls and its members.
class CDataExchange {
public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate)
        : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate), m_failed(false)
    {
    }
    // A validation failed: UpdateData reports failure and OK keeps the dialog open.
    void Fail() { m_failed = true; }
    bool Failed() const { return m_failed; }

    CWnd* m_pDlgWnd;
    BOOL m_bSaveAndValidate;

private:
    bool m_failed;
};

// A modal dialog from a dialog template of the application's module.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = NULL);
    ~CDialog() override;

    // Runs the dialog; IDOK/IDCANCEL or whatever EndDialog was given, -1
    // when the window could not be created. A dialog without a parent is
    // owned by the application's main window, which is disabled meanwhile.
    virtual INT_PTR DoModal();

    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    void EndDialog(int result);

    // A dialog answers 0x20000 plus its template number.
    DWORD GetHelpContext() const override { return DialogHelpContext(m_templateId); }

protected:
    virtual void DoDataExchange(CDataExchange* dx);
    // Default initialisation: controls are filled from the members; TRUE
    // lets the window system set the focus.
    virtual BOOL OnInitDialog();
    // Default OK: take the data from the controls, then end with IDOK.
    virtual void OnOK();
    // Default Cancel: end with IDCANCEL.
    virtual void OnCancel();

    UINT m_templateId;
    CWnd* m_pParentWnd;

private:
    LRESULT HandleInitDialog(WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()
};

// Paint context of one WM_PAINT: BeginPaint on construction, EndPaint on
// destruction.
class CPaintDC {
public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC();
    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON icon);

    HDC m_hDC;
    PAINTSTRUCT m_ps;

private:
    HWND m_hWnd;
    CPaintDC(const CPaintDC&);
    CPaintDC& operator=(const CPaintDC&);
};

// Host of ActiveX controls in dialogs. The layer hosts none: enabling the
// container records the manager, and templates without such controls (all
// of this program's) need nothing more from it.
class COccManager {
public:
    virtual ~COccManager() {}
};

class CWinThread : public CCmdTarget {
public:
    CWinThread() : m_pMainWnd(NULL), m_running(false) {}

    // Called once by the start-up. FALSE: no message loop is run.
    virtual BOOL InitInstance() { return FALSE; }
    // The message loop, run when InitInstance returned TRUE; ends on WM_QUIT.
    virtual int Run();
    virtual int ExitInstance() { return 0; }

    CWnd* m_pMainWnd;

private:
    bool m_running;  // inside Run: destroying the main window ends the loop
    friend class CWnd;
};

class CWinApp : public CWinThread {
public:
    // Registers the one application object. A NULL name means: name the
    // application after its executable file.
    explicit CWinApp(LPCSTR appName = NULL);
    ~CWinApp() override;

    HICON LoadIcon(UINT id) const;
    // Records the control-container manager (a default one when NULL).
    void EnableControlContainer(COccManager* manager = NULL);
    COccManager* GetOccManager() const { return m_occManager; }
    // Three-dimensional dialog controls for a statically linked program:
    // TRUE when the system draws them itself, as Windows 4.0 and later do.
    BOOL Enable3dControlsStatic();

    // Default help: the context of the focus window or of its nearest
    // parent that has one, shown by the help engine; without one, the help
    // file's contents.
    void OnHelp();
    // The help context of the focus window (the active window when none
    // has the focus) or of its nearest parent or owner that answers one; 0
    // when none does.
    DWORD FindHelpContext() const;
    // Calls WinHelpA with the application's help file; on failure shows
    // the layer's message.
    void WinHelp(DWORD_PTR data, UINT command = HELP_CONTEXT);

    HINSTANCE m_hInstance;
    LPCSTR m_pszAppName;
    LPCSTR m_pszHelpFilePath;  // NULL when the path does not fit MAX_PATH

    // Start-up, called by WinMain: names the application, installs the F1
    // filter, runs InitInstance and, when it returns TRUE, the message loop.
    int Start(HINSTANCE instance);

    DECLARE_MESSAGE_MAP()

private:
    char m_appName[MAX_PATH];
    char m_helpPath[MAX_PATH];
    COccManager* m_occManager;
};

CWinApp* AfxGetApp();
LPCSTR AfxGetAppName();

// Shown when the help engine cannot show help.
extern const char kFrameHelpFailedText[];

#endif
