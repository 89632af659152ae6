// agpvm's output: its own report lines ("agpvm: ..."), the scenario's
// printed lines, and the relay of the program's output, all under one lock
// so that lines from the debugger, the scenario thread and the program do
// not run into each other.
#ifndef LUMBREL_AGPVM_VM_OUTPUT_H
#define LUMBREL_AGPVM_VM_OUTPUT_H

#include <windows.h>

#include <cstdio>
#include <string>

// Call once before any output: plain line feeds, the lock.
void InitOutput();

// Sends the report to `path` instead of standard output; false when the
// file cannot be written.
bool SetReportFile(const std::string& path);
FILE* ReportStream();
void CloseReportFile();

// One report line, "agpvm: " and the text, then a line feed.
void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A line of the scenario's own output (print-text, messages, writes) on
// standard output; a line feed is added.
void PrintLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The program, and every process started on its behalf (Wine's desktop
// process among them), writes into a pipe of agpvm's instead of agpvm's
// own standard output. Long-lived helper processes then cannot keep the
// caller's pipe open after agpvm has ended. Drained into agpvm's output.
class OutputRelay {
public:
    bool Open();
    // Gives the program the pipe as its standard handles.
    void Attach(STARTUPINFOA& startup) const;
    // Copies whatever the pipe holds now; never blocks.
    void Drain();

private:
    HANDLE read_ = nullptr, write_ = nullptr, input_ = nullptr;
};

extern OutputRelay g_relay;

#endif
