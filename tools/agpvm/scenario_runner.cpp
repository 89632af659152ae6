// The scenario runner's machinery: the step loop, waiting for the program
// (bounded), and finding its dialogs, message boxes and controls.
#include "scenario_runner.h"

#include <cstring>

#include "program_windows.h"
#include "scenario_text.h"
#include "vm_output.h"

ScenarioResult Runner::Run()
{
    ScenarioResult result;
    const ScenarioStep* current = nullptr;
    try {
        for (const ScenarioStep& step : scenario_.steps) {
            current = &step;
            if (run_.verbose)
                PrintLine("agpvm: %6lu ms  line %u: %s",
                          static_cast<unsigned long>(GetTickCount() - run_.startTick), step.line,
                          step.command.c_str());
            RunStep(step);
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

// The arguments were checked when the scenario was parsed.
void Runner::RunStep(const ScenarioStep& step)
{
    const std::string& c = step.command;
    const std::vector<std::string>& a = step.args;
    unsigned long number = 0;
    if (c == "wait-dialog") WaitDialog(false);
    else if (c == "show-dialog") WaitDialog(true);
    else if (c == "expect-message") ExpectMessage(StringOf(a[0]), StringOf(a[1]));
    else if (c == "click") Click(a[0]);
    else if (c == "key") Key(a[0]);
    else if (c == "expect-text") ExpectText(a[0], StringOf(a[1]));
    else if (c == "expect-check") ExpectCheck(a[0], a[1]);
    else if (c == "expect-focus") ExpectFocus(a[0]);
    else if (c == "expect-about-entry") ExpectAboutEntry(a[0], StringOf(a[1]));
    else if (c == "syscommand" && ParseNumber(a[0], number)) SysCommand(number);
    else if (c == "close") SysCommand(SC_CLOSE);
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
    else if (c == "print") PrintLine("%s", StringOf(a[0]).c_str());
    else if (c == "print-link") PrintLink(StringOf(a[0]));
    else if (c == "signal") Signal(ToWindowsPath(StringOf(a[0])));
    else if (c == "wait-file") WaitFile(ToWindowsPath(StringOf(a[0])));
    else Fail("step " + c + " cannot be run");
}

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


ScenarioResult RunScenario(const Scenario& scenario, VmRun& run)
{
    Runner runner(scenario, run);
    return runner.Run();
}

DWORD WINAPI ScenarioThread(LPVOID param)
{
    ScenarioJob* job = static_cast<ScenarioJob*>(param);
    // The driver works on the program's desktop, where its windows are.
    if (job->run->desktop && !SetThreadDesktop(job->run->desktop)) {
        job->result.message = "cannot switch to the program's desktop";
        return 0;
    }
    job->result = RunScenario(*job->scenario, *job->run);
    return 0;
}
