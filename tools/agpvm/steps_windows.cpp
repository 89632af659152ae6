// Scenario steps on the program's windows: its dialog, message boxes,
// clicks and keys, control texts, check marks, focus, system menu, About
// box, window state and the help engine.
#include <cstring>

#include "program_windows.h"
#include "scenario_runner.h"
#include "scenario_text.h"
#include "vm_output.h"

void Runner::WaitDialog(bool showMessages)
{
    const DWORD deadline = StepDeadline();
    for (;;) {
        RequireRunning("the main dialog");
        HWND box = MessageBoxWindow();
        if (box) {
            std::string text;
            TextOf(GetDlgItem(box, kMessageBoxTextId), text);
            if (!showMessages)
                Fail("unexpected message box " + Printable(CaptionOf(box)) + " saying " +
                     Printable(text));
            PrintAndDismiss(box);
            continue;
        }
        HWND dialog = MainDialog();
        if (dialog && IsWindowVisible(dialog) && ShownAndIdle(dialog)) {
            if (run_.dialogShownMs < 0)
                InterlockedExchange(&run_.dialogShownMs,
                                    static_cast<LONG>(GetTickCount() - run_.startTick));
            return;
        }
        if (!Before(deadline)) Fail("the main dialog did not appear; windows: " + Windows());
        Pump(10);
    }
}

void Runner::CheckMessageBox(HWND box, const std::string& caption, const std::string& text)
{
    const std::string actualCaption = CaptionOf(box);
    if (actualCaption != caption)
        Fail("message box caption " + Printable(actualCaption) + ", expected " + Printable(caption));
    std::string actualText;
    if (!TextOf(GetDlgItem(box, kMessageBoxTextId), actualText))
        Fail("the message box does not answer");
    if (actualText != text)
        Fail("message box text " + Printable(actualText) + ", expected " + Printable(text));
    HWND owner = GetWindow(box, GW_OWNER);
    HWND dialog = MainDialog();
    if (!owner || owner != dialog)
        Fail(Format("the message box is owned by %p (%s), not by the main dialog %p", owner,
                    owner ? Printable(CaptionOf(owner)).c_str() : "nothing", dialog));
    std::vector<std::string> buttons;
    bool okFound = false;
    for (HWND c : Children(box)) {
        if (ClassOf(c) != "Button" || !IsWindowVisible(c)) continue;
        std::string label;
        TextOf(c, label);
        buttons.push_back(Format("%d ", GetDlgCtrlID(c)) + Printable(label));
        if (GetDlgCtrlID(c) == IDOK && StripAmpersands(label) == "OK") okFound = true;
    }
    if (buttons.size() != 1 || !okFound) {
        std::string list;
        for (const std::string& b : buttons) list += (list.empty() ? "" : ", ") + b;
        Fail("the message box should have a single OK button, has: " + list);
    }
    HWND icon = GetDlgItem(box, kMessageBoxIconId);
    if (icon && IsWindowVisible(icon)) {
        DWORD_PTR handle = 0;
        SendMessageTimeoutA(icon, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &handle);
        if (handle) Fail("the message box shows an icon");
    }
}

void Runner::DismissMessageBox(HWND box)
{
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    // Gone, not only hidden: until the box is destroyed its owner may not
    // have the activation and the focus back, and a key sent meanwhile
    // would go to the dying box.
    const DWORD deadline = StepDeadline();
    while (IsWindow(box)) {
        if (ProgramEnded()) return;
        if (!Before(deadline)) {
            if (IsWindowVisible(box)) Fail("the message box did not close on OK");
            return;  // hidden and on its way; the next step waits as it must
        }
        Pump(10);
    }
}

void Runner::ExpectMessage(const std::string& caption, const std::string& text)
{
    const DWORD deadline = StepDeadline();
    HWND box;
    while (!(box = MessageBoxWindow())) {
        RequireRunning("a message box");
        if (!Before(deadline))
            Fail("no message box " + Printable(text) + " appeared; windows: " + Windows());
        Pump(10);
    }
    // Exactly one at a time.
    int boxes = 0;
    for (HWND w : TopLevelWindows(run_.pid))
        if (IsMessageBox(w) && IsWindowVisible(w)) ++boxes;
    if (boxes != 1) Fail("more than one message box; windows: " + Windows());
    CheckMessageBox(box, caption, text);
    DismissMessageBox(box);
}

// Actions do not wait for earlier ones: the program handles sent messages
// in order and before posted ones, so the order holds anyway, and an
// earlier action may rightly be waiting in a modal box.
void Runner::Click(const std::string& ref)
{
    RequireRunning("a click");
    HWND dialog = ActiveDialog();
    HWND control = RequireControl(dialog, ref);
    if (!IsWindowVisible(control) || !IsWindowEnabled(control))
        Fail("control " + ref + " cannot be clicked (hidden or disabled)");
    Send(control, BM_CLICK, 0, 0);
}

void Runner::Key(const std::string& name)
{
    UINT vk;
    if (name == "enter") vk = VK_RETURN;
    else if (name == "esc") vk = VK_ESCAPE;
    else if (name == "tab") vk = VK_TAB;
    else if (name == "f1") vk = VK_F1;
    else Fail("unknown key " + name);
    RequireRunning("a key press");
    HWND dialog = ActiveDialog();
    // Keys go where a keyboard would send them: the focus, else the
    // active window, else the dialog that takes input. A focus outside
    // that dialog is still on its way back from a window that has just
    // closed; it gets a moment to arrive.
    HWND target = nullptr;
    const DWORD deadline = GetTickCount() + 1000;
    for (;;) {
        GUITHREADINFO info;
        std::memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        target = nullptr;
        if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info))
            target = info.hwndFocus ? info.hwndFocus : info.hwndActive;
        if (target && (target == dialog || IsChild(dialog, target))) break;
        if (!Before(deadline)) break;
        Pump(10);
    }
    if (!target) target = dialog;
    const UINT scan = MapVirtualKeyA(vk, 0);
    PostMessageA(target, WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000u);
}

void Runner::ExpectText(const std::string& ref, const std::string& text)
{
    Sync();
    HWND control = RequireControl(RequireMainDialog(), ref);
    const DWORD deadline = StepDeadline();
    std::string actual;
    for (;;) {
        RequireRunning("a control's text");
        if (TextOf(control, actual) && actual == text) return;
        if (!Before(deadline))
            Fail("control " + ref + " holds " + Printable(actual) + ", expected " + Printable(text));
        Pump(10);
    }
}

void Runner::ExpectCheck(const std::string& ref, const std::string& state)
{
    const DWORD_PTR wanted = state == "checked" ? BST_CHECKED : BST_UNCHECKED;
    Sync();
    HWND control = RequireControl(RequireMainDialog(), ref);
    const DWORD deadline = StepDeadline();
    DWORD_PTR actual = 0;
    for (;;) {
        RequireRunning("a check state");
        if (SendMessageTimeoutA(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &actual) &&
            actual == wanted)
            return;
        if (!Before(deadline))
            Fail("control " + ref + " is " + (actual == BST_CHECKED ? "checked" : "not checked") +
                 ", expected " + state);
        Pump(10);
    }
}

void Runner::ExpectFocus(const std::string& ref)
{
    Sync();
    HWND dialog = ActiveDialog();
    HWND control = RequireControl(dialog, ref);
    const DWORD deadline = StepDeadline();
    HWND focus = nullptr;
    for (;;) {
        RequireRunning("the focus");
        GUITHREADINFO info;
        std::memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info)) focus = info.hwndFocus;
        if (focus == control) return;
        if (!Before(deadline)) {
            std::string on = "nothing";
            if (focus) on = Format("control %d ", GetDlgCtrlID(focus)) + Printable(CaptionOf(focus));
            Fail("the focus is on " + on + ", expected on " + ref);
        }
        Pump(10);
    }
}

void Runner::ExpectAboutEntry(const std::string& idText, const std::string& text)
{
    if (!run_.vm || !run_.handlerLoaded)
        Fail("reading the system menu needs the VM's handler in the program");
    Sync();
    HWND dialog = RequireMainDialog();
    VmShared& vm = *run_.vm;
    vm.menuHwnd = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(dialog));
    vm.menuCount = -2;
    HANDLE thread = CreateRemoteThread(run_.process, nullptr, 0,
                                       reinterpret_cast<LPTHREAD_START_ROUTINE>(
                                           static_cast<uintptr_t>(vm.queryProc)),
                                       nullptr, 0, nullptr);
    if (!thread) Fail(Format("cannot read the system menu (error %lu)", GetLastError()));
    const DWORD wait = WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    if (wait != WAIT_OBJECT_0) Fail("reading the system menu did not finish");
    if (vm.menuCount < 0) Fail("the main dialog has no system menu");
    const int n = vm.menuCount;
    std::string items;
    for (int i = 0; i < n; ++i)
        items += Format("%s[%lx %s]", i ? " " : "", static_cast<unsigned long>(vm.menu[i].id),
                        vm.menu[i].type & MFT_SEPARATOR ? "separator"
                                                        : Printable(vm.menu[i].text).c_str());
    unsigned long id;
    ParseNumber(idText, id);
    if (n < 2 || !(vm.menu[n - 2].type & MFT_SEPARATOR) || (vm.menu[n - 1].type & MFT_SEPARATOR) ||
        vm.menu[n - 1].id != id || text != vm.menu[n - 1].text)
        Fail("the system menu does not end with a separator and " + Format("[%lx ", id) +
             Printable(text) + "]: " + items);
}

void Runner::SysCommand(unsigned long id)
{
    RequireRunning("a system command");
    Send(RequireMainDialog(), WM_SYSCOMMAND, id, 0);
}

void Runner::ExpectAbout(const std::vector<std::string>& args)
{
    const std::string caption = StringOf(args[0]);
    const DWORD deadline = StepDeadline();
    HWND about = nullptr;
    for (;;) {
        RequireRunning("the About box");
        for (HWND w : TopLevelWindows(run_.pid))
            if (IsDialogClass(w) && IsWindowVisible(w) && CaptionOf(w) == caption) about = w;
        if (about) break;
        if (!Before(deadline))
            Fail("no window " + Printable(caption) + " appeared; windows: " + Windows());
        Pump(10);
    }
    HWND dialog = MainDialog();
    if (GetWindow(about, GW_OWNER) != dialog || !dialog)
        Fail(Printable(caption) + " is not owned by the main dialog");
    if (IsWindowEnabled(dialog)) Fail("the main dialog is not disabled under " + Printable(caption));
    std::vector<std::string> statics;
    bool icon = false, ok = false;
    for (HWND c : Children(about)) {
        const std::string cls = ClassOf(c);
        std::string t;
        TextOf(c, t);
        if (cls == "Static") {
            if ((GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                DWORD_PTR h = 0;
                SendMessageTimeoutA(c, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &h);
                if (h && IsWindowVisible(c)) icon = true;
            } else {
                statics.push_back(t);
            }
        } else if (cls == "Button" && GetDlgCtrlID(c) == IDOK && StripAmpersands(t) == "OK" &&
                   IsWindowVisible(c)) {
            ok = true;
        }
    }
    for (size_t i = 1; i < args.size(); ++i) {
        bool found = false;
        for (const std::string& s : statics)
            if (s == StringOf(args[i])) found = true;
        if (!found) {
            std::string list;
            for (const std::string& s : statics) list += " " + Printable(s);
            Fail(Printable(caption) + " lacks the text " + Printable(StringOf(args[i])) +
                 "; it shows:" + list);
        }
    }
    if (!icon) Fail(Printable(caption) + " shows no icon");
    if (!ok) Fail(Printable(caption) + " has no OK button");
}

void Runner::ExpectNoWindow(const std::string& caption)
{
    Sync();
    const DWORD deadline = StepDeadline();
    for (;;) {
        bool found = false;
        if (!ProgramEnded())
            for (HWND w : TopLevelWindows(run_.pid))
                if (IsWindowVisible(w) && CaptionOf(w) == caption) found = true;
        if (!found) return;
        if (!Before(deadline)) Fail("a window " + Printable(caption) + " is still there");
        Pump(10);
    }
}

void Runner::SetIconic(bool iconic)
{
    Sync();
    HWND dialog = RequireMainDialog();
    Send(dialog, WM_SYSCOMMAND, iconic ? SC_MINIMIZE : SC_RESTORE, 0);
    Sync();
    const DWORD deadline = StepDeadline();
    while ((IsIconic(dialog) != 0) != iconic) {
        RequireRunning("the window state");
        if (!Before(deadline)) Fail(iconic ? "the dialog did not minimise" : "the dialog did not restore");
        Pump(10);
    }
}

// Lets the program finish the earlier steps, printing and dismissing any
// message box it shows meanwhile.
void Runner::DismissMessages()
{
    for (;;) {
        Sync();
        HWND box = MessageBoxWindow();
        if (!box) return;
        PrintAndDismiss(box);
    }
}

// A message box's text as "message: TEXT" (without its closing line
// feeds), then OK.
void Runner::PrintAndDismiss(HWND box)
{
    std::string text;
    TextOf(GetDlgItem(box, kMessageBoxTextId), text);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    PrintLine("message: %s", text.c_str());
    DismissMessageBox(box);
}

// WinHelpA under Wine starts Wine's help viewer; for a missing file it
// shows a box titled "ERROR" ("Cannot find '<path>'. ...", Yes/No), which
// proves that F1 reached the help engine with that path.
void Runner::ExpectHelp(const std::string& file)
{
    const std::string dir = run_.programPath.substr(0, run_.programPath.find_last_of('\\') + 1);
    const std::string wanted = "Cannot find '" + dir + file + "'";
    const DWORD deadline = StepDeadline();
    HWND box = nullptr;
    while (!box) {
        RequireRunning("the help engine");
        for (HWND w : TopLevelWindows(0)) {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid != run_.pid && pid != GetCurrentProcessId() && IsWindowVisible(w) &&
                IsDialogClass(w) && CaptionOf(w) == "ERROR")
                box = w;
        }
        if (box) break;
        if (!Before(deadline)) Fail("the help engine showed nothing; windows: " + Windows());
        Pump(10);
    }
    DWORD viewerPid = 0;
    GetWindowThreadProcessId(box, &viewerPid);
    std::string text;
    HWND textControl = GetDlgItem(box, kMessageBoxTextId);
    if (textControl) TextOf(textControl, text);
    // The viewer goes whatever the result.
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), 0);
    HANDLE viewer = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, viewerPid);
    while (IsWindow(box) && Before(deadline)) Pump(10);
    for (HWND w : TopLevelWindows(viewerPid)) PostMessageA(w, WM_CLOSE, 0, 0);
    if (viewer) {
        if (WaitForSingleObject(viewer, 5000) != WAIT_OBJECT_0) TerminateProcess(viewer, 1);
        CloseHandle(viewer);
    }
    if (text.compare(0, wanted.size(), wanted) != 0)
        Fail("the help engine says " + Printable(text) + ", expected it to begin with " +
             Printable(wanted));
}

void Runner::PrintText(const std::vector<std::string>& args)
{
    Sync();
    HWND control = RequireControl(RequireMainDialog(), args[0]);
    std::string text;
    if (!TextOf(control, text)) Fail("the control does not answer");
    if (args.size() > 1)
        PrintLine("%s: %s", StringOf(args[1]).c_str(), text.empty() ? "(empty)" : text.c_str());
    else if (!text.empty()) PrintLine("%s", text.c_str());
}
