// The scenario driver. A scenario is a text file, one step a line; `#`
// starts a comment; arguments are words or "quoted strings" with the
// escapes \n \t \\ \" \xHH. A CONTROL is a control ID (decimal or 0x..)
// or the control's text in quotes ("Set Mode").
//
//   wait-dialog                     the program's main dialog is shown (a message
//                                   box on the way fails the step)
//   show-dialog                     the same, printing and dismissing message boxes
//   expect-message CAPTION TEXT     a message box of the program: caption, text to
//                                   the byte, owned by the main dialog, a single OK
//                                   button, no icon; then dismissed with OK
//   click CONTROL                   clicks a button of the program's active dialog
//   key enter|esc|tab|f1            a key press for the window with the focus
//   expect-text CONTROL TEXT        a control's text in the main dialog
//   expect-check CONTROL checked|unchecked
//   expect-focus CONTROL            the keyboard focus is on that control
//   expect-about-entry ID TEXT      the system menu ends with a separator and item ID TEXT
//   syscommand ID                   WM_SYSCOMMAND with ID to the main dialog
//   close                           the close box (SC_CLOSE)
//   minimize | restore              minimise or restore the main dialog, checked
//   expect-about CAPTION TEXT...    a box owned by the disabled main dialog with that
//                                   caption, these static texts, an icon and OK
//   expect-no-window CAPTION        no window of the program with that caption (any
//                                   such window must go away within the bound)
//   expect-writes LOC REG VALUE ... exactly these configuration writes since the last
//                                   write check, in this order (LOC is BB:DD.F)
//   expect-no-writes                no configuration write since the last check
//   expect-reads N                  N configuration reads since the last mark or
//                                   expect-reads (or the start)
//   expect-help FILE                F1 reached the help engine: Wine's viewer reports
//                                   FILE missing next to the program; answered, ended
//   expect-exit [CODE]              the program ends (with CODE)
//   mark NAME                       counts accesses up to here as phase NAME
//   print-text CONTROL [LABEL]      prints the control's text (nothing when it is
//                                   empty and no label is given)
//   dismiss-messages                let the program finish, printing and dismissing
//                                   the message boxes it shows meanwhile
//   print-writes                    prints the configuration writes since the last
//                                   write check and takes them as expected
//   signal FILE / wait-file FILE    create a file / wait until a file exists
//
// Checks first wait until the program has handled the earlier steps (or
// waits in a modal box). Every wait is bounded by the step bound (15 s,
// --step-timeout) and the run's deadline.
// Configuration writes that no expect-writes step consumed fail the run.
#include "scenario.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const DWORD kSendTimeoutMs = 2000;
const int kMessageBoxTextId = 0xFFFF;
const int kMessageBoxIconId = 0x0440;

struct StepSpec {
    const char* name;
    unsigned minArgs, maxArgs;
};

const StepSpec kSteps[] = {
    {"wait-dialog", 0, 0},      {"show-dialog", 0, 0},       {"expect-message", 2, 2},
    {"click", 1, 1},            {"key", 1, 1},               {"expect-text", 2, 2},
    {"expect-check", 2, 2},     {"expect-focus", 1, 1},      {"expect-about-entry", 2, 2},
    {"syscommand", 1, 1},       {"close", 0, 0},             {"minimize", 0, 0},
    {"restore", 0, 0},          {"expect-about", 2, 16},     {"expect-no-window", 1, 1},
    {"expect-writes", 3, 96},   {"expect-no-writes", 0, 0},  {"expect-help", 1, 1},
    {"expect-exit", 0, 1},      {"expect-reads", 1, 1},      {"mark", 1, 1},              {"print-text", 1, 2},
    {"signal", 1, 1},           {"wait-file", 1, 1},        {"dismiss-messages", 0, 0},
    {"print-writes", 0, 0},
};

bool ParseNumber(const std::string& text, unsigned long& value, int base = 0)
{
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtoul(text.c_str(), &end, base);
    return *end == 0;
}

bool ParseLocation(const std::string& text, unsigned& bus, unsigned& dev, unsigned& fn)
{
    unsigned long b, d, f;
    if (text.size() != 7 || text[2] != ':' || text[5] != '.') return false;
    if (!ParseNumber(text.substr(0, 2), b, 16) || !ParseNumber(text.substr(3, 2), d, 16) ||
        !ParseNumber(text.substr(6, 1), f, 16) || d > 31 || f > 7)
        return false;
    bus = b;
    dev = d;
    fn = f;
    return true;
}

// Splits a line into words and quoted strings.
bool Tokenize(const std::string& line, std::vector<std::string>& tokens, std::string& error)
{
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            std::string token;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char d = line[i++];
                if (d == '"') {
                    closed = true;
                    break;
                }
                if (d == '\\') {
                    if (i >= line.size()) break;
                    const char e = line[i++];
                    switch (e) {
                    case 'n': d = '\n'; break;
                    case 't': d = '\t'; break;
                    case 'r': d = '\r'; break;
                    case '\\': d = '\\'; break;
                    case '"': d = '"'; break;
                    case 'x': {
                        unsigned long v;
                        if (i + 2 > line.size() || !ParseNumber(line.substr(i, 2), v, 16)) {
                            error = "bad \\x escape";
                            return false;
                        }
                        d = static_cast<char>(v);
                        i += 2;
                        break;
                    }
                    default:
                        error = std::string("unknown escape \\") + e;
                        return false;
                    }
                }
                token += d;
            }
            if (!closed) {
                error = "unterminated string";
                return false;
            }
            tokens.push_back("\"" + token);  // a leading quote marks a string
        } else {
            size_t j = i;
            while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
            tokens.push_back(line.substr(i, j - i));
            i = j;
        }
    }
    return true;
}

bool IsString(const std::string& arg) { return !arg.empty() && arg[0] == '"'; }
std::string StringOf(const std::string& arg) { return IsString(arg) ? arg.substr(1) : arg; }

std::string Printable(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c == '"') out += "\\\"";
        else if (c == '\\') out += "\\\\";
        else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else out += static_cast<char>(c);
    }
    return out + "\"";
}

std::string Format(const char* format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

// ---- windows of other processes ------------------------------------------

std::string ClassOf(HWND hwnd)
{
    char name[128] = "";
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

// The text of a window of another process, asked with WM_GETTEXT (what
// GetWindowText does not do across processes). False when it did not answer.
bool TextOf(HWND hwnd, std::string& text)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &length))
        return false;
    std::vector<char> buffer(length + 2, 0);
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied))
        return false;
    text.assign(buffer.data(), copied);
    return true;
}

std::string CaptionOf(HWND hwnd)
{
    std::string text;
    if (!TextOf(hwnd, text)) {
        char buffer[256] = "";
        GetWindowTextA(hwnd, buffer, sizeof buffer);
        text = buffer;
    }
    return text;
}

struct EnumState {
    DWORD pid;
    std::vector<HWND>* out;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM param)
{
    EnumState* state = reinterpret_cast<EnumState*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (state->pid == 0 || pid == state->pid) state->out->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD pid)
{
    std::vector<HWND> windows;
    EnumState state = {pid, &windows};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&state));
    return windows;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param)
{
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> children;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&children));
    std::vector<HWND> direct;
    for (HWND c : children)
        if (GetParent(c) == parent) direct.push_back(c);
    return direct;
}

bool IsDialogClass(HWND hwnd) { return ClassOf(hwnd) == "#32770"; }

// A message box as the window system makes it: a dialog with the text in
// static 0xFFFF and the icon in static 0x0440 (there with or without an icon).
bool IsMessageBox(HWND hwnd)
{
    if (!IsDialogClass(hwnd)) return false;
    HWND text = GetDlgItem(hwnd, kMessageBoxTextId);
    HWND icon = GetDlgItem(hwnd, kMessageBoxIconId);
    return text && icon && ClassOf(text) == "Static" && ClassOf(icon) == "Static";
}

std::string StripAmpersands(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return out;
}

// ---- the runner ----------------------------------------------------------

class Runner {
public:
    Runner(const Scenario& scenario, VmRun& run) : scenario_(scenario), run_(run) {}
    ScenarioResult Run();

private:
    // Step failure: records the message and unwinds to Run().
    struct Failure {
        std::string message;
    };
    [[noreturn]] void Fail(const std::string& message) { throw Failure{message}; }

    bool ProgramEnded() { return WaitForSingleObject(run_.process, 0) == WAIT_OBJECT_0; }
    DWORD StepDeadline() const
    {
        const DWORD left = RemainingMs(run_);
        return GetTickCount() + (left < run_.stepBoundMs ? left : run_.stepBoundMs);
    }
    bool Before(DWORD deadline) const { return static_cast<LONG>(deadline - GetTickCount()) > 0; }
    void Pump(DWORD ms);
    void Sync();
    void RequireRunning(const char* waitingFor);
    std::string Windows();

    HWND MainDialog();
    HWND RequireMainDialog();
    HWND MessageBoxWindow();
    bool ModalBoxUp();
    HWND ActiveDialog();
    HWND FindControl(HWND dialog, const std::string& ref);
    HWND RequireControl(HWND dialog, const std::string& ref);
    void Send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    bool ShownAndIdle(HWND dialog);
    void WaitDialog(bool showMessages);
    void ExpectMessage(const std::string& caption, const std::string& text);
    void CheckMessageBox(HWND box, const std::string& caption, const std::string& text);
    void DismissMessageBox(HWND box);
    void Click(const std::string& ref);
    void Key(const std::string& name);
    void ExpectText(const std::string& ref, const std::string& text);
    void ExpectCheck(const std::string& ref, const std::string& state);
    void ExpectFocus(const std::string& ref);
    void ExpectAboutEntry(const std::string& id, const std::string& text);
    void SysCommand(unsigned long id);
    void ExpectAbout(const std::vector<std::string>& args);
    void ExpectNoWindow(const std::string& caption);
    void SetIconic(bool iconic);
    void ExpectWrites(const std::vector<std::string>& args);
    void ExpectNoWrites();
    void ExpectReads(const std::string& count);
    void DismissMessages();
    void PrintWrites();
    void ExpectHelp(const std::string& file);
    void ExpectExit(const std::vector<std::string>& args);
    void Mark(const std::string& name);
    void PrintText(const std::vector<std::string>& args);
    void WaitFile(const std::string& path);

    static void CALLBACK SentDone(HWND, UINT, ULONG_PTR data, LRESULT)
    {
        --*reinterpret_cast<LONG*>(data);
    }

    const Scenario& scenario_;
    VmRun& run_;
    LONG pending_ = 0;       // sent messages not yet handled by the program
    uint32_t writeCursor_ = 0;
    uint32_t readCursor_ = 0;   // configuration reads counted up to the last mark
    bool exitSeen_ = false;
    DWORD exitCode_ = 0;
};

void Runner::Pump(DWORD ms)
{
    MsgWaitForMultipleObjects(1, &run_.process, FALSE, ms, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

// Waits until the program has handled every message the scenario sent it,
// or sits in a modal box waiting for the user: either way it does nothing
// more until the next step.
void Runner::Sync()
{
    const DWORD deadline = StepDeadline();
    for (;;) {
        Pump(0);
        if (pending_ == 0 || ProgramEnded() || ModalBoxUp()) return;
        if (!Before(deadline))
            Fail("the program did not finish handling the previous step; windows: " + Windows());
        Pump(20);
    }
}

void Runner::RequireRunning(const char* waitingFor)
{
    if (!ProgramEnded()) return;
    DWORD code = 0;
    GetExitCodeProcess(run_.process, &code);
    Fail(Format("the program ended (exit code 0x%08lx) while waiting for %s", code, waitingFor));
}

std::string Runner::Windows()
{
    std::string list;
    for (HWND w : TopLevelWindows(run_.pid)) {
        if (!IsWindowVisible(w)) continue;
        if (!list.empty()) list += ", ";
        std::string entry = ClassOf(w) + " " + Printable(CaptionOf(w));
        if (IsMessageBox(w)) {
            std::string text;
            TextOf(GetDlgItem(w, kMessageBoxTextId), text);
            entry += " saying " + Printable(text);
        }
        if (!IsWindowEnabled(w)) entry += " (disabled)";
        list += entry;
    }
    return list.empty() ? "none visible" : list;
}

void Runner::Send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    ++pending_;
    if (!SendMessageCallbackA(hwnd, msg, wParam, lParam, SentDone,
                              reinterpret_cast<ULONG_PTR>(&pending_))) {
        --pending_;
        PostMessageA(hwnd, msg, wParam, lParam);
    }
}

// The main dialog: the program's dialog that no other window owns.
HWND Runner::MainDialog()
{
    for (HWND w : TopLevelWindows(run_.pid))
        if (IsDialogClass(w) && !GetWindow(w, GW_OWNER) && !IsMessageBox(w)) return w;
    return nullptr;
}

HWND Runner::RequireMainDialog()
{
    HWND dialog = MainDialog();
    if (!dialog || !IsWindowVisible(dialog)) Fail("the main dialog is not shown; windows: " + Windows());
    return dialog;
}

// A message box or another owned dialog takes input and its owner waits.
bool Runner::ModalBoxUp()
{
    for (HWND w : TopLevelWindows(run_.pid))
        if (IsDialogClass(w) && GetWindow(w, GW_OWNER) && IsWindowVisible(w) && IsWindowEnabled(w))
            return true;
    return false;
}

HWND Runner::MessageBoxWindow()
{
    for (HWND w : TopLevelWindows(run_.pid))
        if (IsMessageBox(w) && IsWindowVisible(w)) return w;
    return nullptr;
}

// The dialog that takes input now: the visible, enabled one (modal boxes
// disable their owners).
HWND Runner::ActiveDialog()
{
    HWND found = nullptr;
    for (HWND w : TopLevelWindows(run_.pid))
        if (IsDialogClass(w) && IsWindowVisible(w) && IsWindowEnabled(w)) {
            if (found) Fail("more than one dialog takes input; windows: " + Windows());
            found = w;
        }
    if (!found) Fail("no dialog of the program takes input; windows: " + Windows());
    return found;
}

HWND Runner::FindControl(HWND dialog, const std::string& ref)
{
    if (!IsString(ref)) {
        unsigned long id;
        ParseNumber(ref, id);
        return GetDlgItem(dialog, static_cast<int>(id));
    }
    const std::string text = StringOf(ref);
    for (HWND c : Children(dialog)) {
        std::string t;
        if (TextOf(c, t) && (t == text || StripAmpersands(t) == text)) return c;
    }
    return nullptr;
}

HWND Runner::RequireControl(HWND dialog, const std::string& ref)
{
    HWND control = FindControl(dialog, ref);
    if (!control)
        Fail("no control " + (IsString(ref) ? Printable(StringOf(ref)) : ref) + " in " +
             Printable(CaptionOf(dialog)));
    return control;
}

// Showing a dialog ends with its activation, and the window system's modal
// loop shows the dialog once more (SW_SHOWNORMAL) the first time the
// program's queue runs empty; a step sent before that could be undone by
// it (a minimised dialog would be restored). So: active, everything
// painted (pending paints keep the queue from running empty), then two
// round trips through the program's queue, the second after that first
// empty moment.
bool Runner::ShownAndIdle(HWND dialog)
{
    GUITHREADINFO info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) ||
        info.hwndActive != dialog)
        return false;
    if (GetUpdateRect(dialog, nullptr, FALSE)) return false;
    for (HWND c : Children(dialog))
        if (GetUpdateRect(c, nullptr, FALSE)) return false;
    for (int i = 0; i < 2; ++i) {
        DWORD_PTR result;
        if (!SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result))
            return false;
    }
    return true;
}

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
            std::string shown = text;
            while (!shown.empty() && shown.back() == '\n') shown.pop_back();
            std::printf("message: %s\n", shown.c_str());
            std::fflush(stdout);
            DismissMessageBox(box);
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
    const DWORD deadline = StepDeadline();
    while (IsWindow(box) && IsWindowVisible(box)) {
        if (ProgramEnded()) return;
        if (!Before(deadline)) Fail("the message box did not close on OK");
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
    GUITHREADINFO info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    HWND target = nullptr;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info)) {
        target = info.hwndFocus ? info.hwndFocus : info.hwndActive;
    }
    // Keys go where a keyboard would send them: the focus, else the
    // active window, else the dialog that takes input.
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

void Runner::ExpectWrites(const std::vector<std::string>& args)
{
    if (!run_.vm) Fail("configuration writes are seen only in the VM");
    Sync();
    const VmShared& vm = *run_.vm;
    const uint32_t expected = static_cast<uint32_t>(args.size() / 3);
    const DWORD deadline = StepDeadline();
    while (vm.configWrites < writeCursor_ + expected) {
        if (ProgramEnded() || !Before(deadline)) break;
        Pump(10);
    }
    std::string seen;
    const uint32_t end = vm.configWrites;
    for (uint32_t i = writeCursor_; i < end && i < kVmMaxConfigWrites; ++i) {
        const VmConfigWrite& w = vm.writes[i];
        seen += Format(" [%s %02lx %08lx]", ConfigLocation(w.address).c_str(),
                       w.address & 0xFCul, static_cast<unsigned long>(w.newValue));
    }
    if (end != writeCursor_ + expected)
        Fail(Format("%lu configuration write(s) expected, %lu seen:", static_cast<unsigned long>(expected),
                    static_cast<unsigned long>(end - writeCursor_)) + seen);
    for (uint32_t k = 0; k < expected; ++k) {
        unsigned bus, dev, fn;
        unsigned long reg, value;
        ParseLocation(args[3 * k], bus, dev, fn);
        ParseNumber(args[3 * k + 1], reg, 16);
        ParseNumber(args[3 * k + 2], value, 16);
        const VmConfigWrite& w = vm.writes[writeCursor_ + k];
        const uint32_t address = 0x80000000u | (bus << 16) | (dev << 11) | (fn << 8) | (reg & 0xFC);
        if (w.address != address || w.newValue != value)
            Fail(Format("configuration write %lu should be %s %02lx %08lx; seen:",
                        static_cast<unsigned long>(k + 1), args[3 * k].c_str(), reg, value) + seen);
    }
    writeCursor_ = end;
}

void Runner::ExpectReads(const std::string& count)
{
    if (!run_.vm) Fail("configuration reads are counted only in the VM");
    Sync();
    unsigned long expected;
    ParseNumber(count, expected);
    const uint32_t reads = run_.vm->configReads - readCursor_;
    readCursor_ = run_.vm->configReads;
    if (reads != expected)
        Fail(Format("%lu configuration reads, expected %lu", static_cast<unsigned long>(reads), expected));
}

// Lets the program finish the earlier steps, printing and dismissing any
// message box it shows meanwhile.
void Runner::DismissMessages()
{
    for (;;) {
        Sync();
        HWND box = MessageBoxWindow();
        if (!box) return;
        std::string text;
        TextOf(GetDlgItem(box, kMessageBoxTextId), text);
        while (!text.empty() && text.back() == '\n') text.pop_back();
        std::printf("message: %s\n", text.c_str());
        std::fflush(stdout);
        DismissMessageBox(box);
    }
}

void Runner::PrintWrites()
{
    if (!run_.vm) Fail("configuration writes are seen only in the VM");
    Sync();
    const VmShared& vm = *run_.vm;
    const uint32_t end = vm.configWrites;
    for (uint32_t i = writeCursor_; i < end && i < kVmMaxConfigWrites; ++i) {
        const VmConfigWrite& w = vm.writes[i];
        std::printf("write %s %02lx %08lx\n", ConfigLocation(w.address).c_str(),
                    w.address & 0xFCul, static_cast<unsigned long>(w.newValue));
    }
    std::fflush(stdout);
    writeCursor_ = end;
}

void Runner::ExpectNoWrites()
{
    if (!run_.vm) Fail("configuration writes are seen only in the VM");
    Sync();
    if (run_.vm->configWrites != writeCursor_)
        Fail(Format("%lu unexpected configuration write(s)",
                    static_cast<unsigned long>(run_.vm->configWrites - writeCursor_)));
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

void Runner::ExpectExit(const std::vector<std::string>& args)
{
    const DWORD left = RemainingMs(run_);
    const DWORD wait =
        WaitForSingleObject(run_.process, left < run_.stepBoundMs ? left : run_.stepBoundMs);
    if (wait != WAIT_OBJECT_0) Fail("the program did not end; windows: " + Windows());
    GetExitCodeProcess(run_.process, &exitCode_);
    exitSeen_ = true;
    if (!args.empty()) {
        unsigned long code;
        ParseNumber(args[0], code);
        if (code != exitCode_)
            Fail(Format("exit code 0x%08lx, expected 0x%08lx", exitCode_, code));
    }
}

void Runner::Mark(const std::string& name)
{
    if (!run_.vm) Fail("phases are counted only in the VM");
    Sync();
    const VmShared& vm = *run_.vm;
    run_.marks.push_back({name, vm.accessCount, vm.configReads, vm.configWrites, vm.addressWrites,
                          GetTickCount() - run_.startTick});
    readCursor_ = vm.configReads;
}

void Runner::PrintText(const std::vector<std::string>& args)
{
    Sync();
    HWND control = RequireControl(RequireMainDialog(), args[0]);
    std::string text;
    if (!TextOf(control, text)) Fail("the control does not answer");
    if (args.size() > 1) std::printf("%s: %s\n", StringOf(args[1]).c_str(), text.c_str());
    else if (!text.empty()) std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

void Runner::WaitFile(const std::string& path)
{
    const DWORD deadline = StepDeadline();
    while (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        RequireRunning("a file");
        if (!Before(deadline)) Fail("no file " + path + " appeared");
        Pump(20);
    }
}

ScenarioResult Runner::Run()
{
    ScenarioResult result;
    const ScenarioStep* current = nullptr;
    try {
        for (const ScenarioStep& step : scenario_.steps) {
            current = &step;
            if (run_.verbose) {
                std::printf("agpvm: %6lu ms  line %u: %s\n",
                            static_cast<unsigned long>(GetTickCount() - run_.startTick), step.line,
                            step.command.c_str());
                std::fflush(stdout);
            }
            const std::string& c = step.command;
            const std::vector<std::string>& a = step.args;
            if (c == "wait-dialog") WaitDialog(false);
            else if (c == "show-dialog") WaitDialog(true);
            else if (c == "expect-message") ExpectMessage(StringOf(a[0]), StringOf(a[1]));
            else if (c == "click") Click(a[0]);
            else if (c == "key") Key(a[0]);
            else if (c == "expect-text") ExpectText(a[0], StringOf(a[1]));
            else if (c == "expect-check") ExpectCheck(a[0], a[1]);
            else if (c == "expect-focus") ExpectFocus(a[0]);
            else if (c == "expect-about-entry") ExpectAboutEntry(a[0], StringOf(a[1]));
            else if (c == "syscommand") {
                unsigned long id;
                ParseNumber(a[0], id);
                SysCommand(id);
            } else if (c == "close") SysCommand(SC_CLOSE);
            else if (c == "minimize") SetIconic(true);
            else if (c == "restore") SetIconic(false);
            else if (c == "expect-about") ExpectAbout(a);
            else if (c == "expect-no-window") ExpectNoWindow(StringOf(a[0]));
            else if (c == "expect-writes") ExpectWrites(a);
            else if (c == "expect-no-writes") ExpectNoWrites();
            else if (c == "expect-reads") ExpectReads(a[0]);
            else if (c == "dismiss-messages") DismissMessages();
            else if (c == "print-writes") PrintWrites();
            else if (c == "expect-help") ExpectHelp(StringOf(a[0]));
            else if (c == "expect-exit") ExpectExit(a);
            else if (c == "mark") Mark(StringOf(a[0]));
            else if (c == "print-text") PrintText(a);
            else if (c == "signal") {
                FILE* f = std::fopen(ToWindowsPath(StringOf(a[0])).c_str(), "w");
                if (!f) Fail("cannot create " + StringOf(a[0]));
                std::fclose(f);
            } else if (c == "wait-file") WaitFile(ToWindowsPath(StringOf(a[0])));
        }
        current = nullptr;
        if (run_.vm && run_.vm->configWrites != writeCursor_) {
            Sync();
            Fail(Format("%lu configuration write(s) that no step expected",
                        static_cast<unsigned long>(run_.vm->configWrites - writeCursor_)));
        }
        result.passed = true;
    } catch (const Failure& failure) {
        result.message = current ? Format("%s:%u: %s: ", scenario_.source.c_str(), current->line,
                                          current->command.c_str()) + failure.message
                                 : failure.message;
    }
    result.programExited = exitSeen_;
    result.exitCode = exitCode_;
    return result;
}

}  // namespace

bool ParseScenario(const std::string& text, const std::string& source, Scenario& scenario,
                   std::string& error)
{
    scenario.source = source;
    scenario.steps.clear();
    unsigned lineNumber = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        std::vector<std::string> tokens;
        std::string what;
        auto fail = [&](const std::string& message) {
            error = source + ":" + std::to_string(lineNumber) + ": " + message;
            return false;
        };
        if (!Tokenize(line, tokens, what)) return fail(what);
        if (tokens.empty()) continue;
        const StepSpec* spec = nullptr;
        for (const StepSpec& s : kSteps)
            if (tokens[0] == s.name) spec = &s;
        if (!spec) return fail("unknown step " + tokens[0]);
        ScenarioStep step;
        step.line = lineNumber;
        step.command = tokens[0];
        step.args.assign(tokens.begin() + 1, tokens.end());
        const size_t n = step.args.size();
        if (n < spec->minArgs || n > spec->maxArgs)
            return fail(step.command + ": wrong number of arguments");
        const std::string& c = step.command;
        unsigned long number;
        auto isControl = [&](const std::string& a) { return IsString(a) || ParseNumber(a, number); };
        if ((c == "click" || c == "expect-text" || c == "expect-check" || c == "expect-focus" ||
             c == "print-text") &&
            !isControl(step.args[0]))
            return fail(c + ": a control is an ID or a \"text\"");
        if (c == "expect-check" && step.args[1] != "checked" && step.args[1] != "unchecked")
            return fail("expect-check: checked or unchecked");
        if (c == "key" && step.args[0] != "enter" && step.args[0] != "esc" &&
            step.args[0] != "tab" && step.args[0] != "f1")
            return fail("key: enter, esc, tab or f1");
        if ((c == "syscommand" || c == "expect-about-entry") &&
            (IsString(step.args[0]) || !ParseNumber(step.args[0], number) || number > 0xFFFF))
            return fail(c + ": a command ID");
        if ((c == "expect-message" || c == "expect-text") && !IsString(step.args.back()))
            return fail(c + ": the text goes in quotes");
        if (c == "expect-reads" && (IsString(step.args[0]) || !ParseNumber(step.args[0], number)))
            return fail("expect-reads: a number of reads");
        if (c == "expect-exit" && n == 1 && !ParseNumber(step.args[0], number))
            return fail("expect-exit: an exit code");
        if (c == "expect-writes") {
            if (n % 3 != 0) return fail("expect-writes: LOCATION REGISTER VALUE, repeated");
            for (size_t i = 0; i < n; i += 3) {
                unsigned b, d, f;
                unsigned long reg, value;
                if (!ParseLocation(step.args[i], b, d, f))
                    return fail("expect-writes: location BB:DD.F, got " + step.args[i]);
                if (!ParseNumber(step.args[i + 1], reg, 16) || reg > 0xFF || (reg & 3))
                    return fail("expect-writes: register as two hex digits, dword aligned");
                if (step.args[i + 2].size() != 8 || !ParseNumber(step.args[i + 2], value, 16))
                    return fail("expect-writes: value as eight hex digits");
            }
        }
        scenario.steps.push_back(step);
    }
    if (scenario.steps.empty()) {
        error = source + ": no steps";
        return false;
    }
    return true;
}

ScenarioResult RunScenario(const Scenario& scenario, VmRun& run)
{
    Runner runner(scenario, run);
    return runner.Run();
}
