// The scenario runner: runs a parsed scenario's steps against the program
// of one run. Its waiting and window-finding machinery is in
// scenario_runner.cpp, the steps on the program's windows in
// steps_windows.cpp, the steps on the machine and the run in
// steps_machine.cpp.
#ifndef LUMBREL_AGPVM_SCENARIO_RUNNER_H
#define LUMBREL_AGPVM_SCENARIO_RUNNER_H

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pci_machine.h"
#include "scenario.h"
#include "vm_agp.h"
#include "vm_run.h"

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
    void RunStep(const ScenarioStep& step);

    // Waiting, bounded by the step bound and the run's deadline.
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
    bool ShownAndIdle(HWND dialog);

    // The program's windows.
    std::string Windows();
    HWND MainDialog();
    HWND RequireMainDialog();
    HWND MessageBoxWindow();
    bool ModalBoxUp();
    HWND ActiveDialog();
    HWND FindControl(HWND dialog, const std::string& ref);
    HWND RequireControl(HWND dialog, const std::string& ref);
    void Send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static void CALLBACK SentDone(HWND, UINT, ULONG_PTR data, LRESULT)
    {
        --*reinterpret_cast<LONG*>(data);
    }

    // Steps on the program's windows.
    void WaitDialog(bool showMessages);
    void ExpectMessage(const std::string& caption, const std::string& text);
    void CheckMessageBox(HWND box, const std::string& caption, const std::string& text);
    void DismissMessageBox(HWND box);
    void DismissMessages();
    void PrintAndDismiss(HWND box);
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
    void ExpectHelp(const std::string& file);
    void PrintText(const std::vector<std::string>& args);

    // Steps on the machine and the run.
    void ExpectWrites(const std::vector<std::string>& args);
    void ExpectNoWrites();
    void PrintWrites();
    void PrintLink(const std::string& when);
    void ExpectReads(const std::string& count);
    void Mark(const std::string& name);
    void ExpectExit(const std::vector<std::string>& args);
    void Signal(const std::string& path);
    void WaitFile(const std::string& path);

    const Scenario& scenario_;
    VmRun& run_;
    LONG pending_ = 0;          // sent messages not yet handled by the program
    uint32_t writeCursor_ = 0;  // configuration writes taken by a step so far
    uint32_t readCursor_ = 0;   // configuration reads counted up to the last mark
    std::unique_ptr<PciMachine> replay_;  // the machine as loaded, with writes replayed
    uint32_t replayed_ = 0;              // writes applied to replay_
    std::unique_ptr<LinkJudgement> lastLink_;  // the last verdict printed
    bool exitSeen_ = false;
    DWORD exitCode_ = 0;
};

#endif
