// Finding and reading the windows of another process (the program's): top-
// level windows, children, classes, texts, message boxes.
#ifndef LUMBREL_AGPVM_PROGRAM_WINDOWS_H
#define LUMBREL_AGPVM_PROGRAM_WINDOWS_H

#include <windows.h>

#include <string>
#include <vector>

// Bound on each message sent to the program's windows.
const DWORD kSendTimeoutMs = 2000;
// A message box's text and icon statics, as the window system makes them.
const int kMessageBoxTextId = 0xFFFF;
const int kMessageBoxIconId = 0x0440;

std::string ClassOf(HWND hwnd);

// The text of a window of another process, asked with WM_GETTEXT (what
// GetWindowText does not do across processes). False when it did not answer.
bool TextOf(HWND hwnd, std::string& text);

// The window's caption, also when it does not answer.
std::string CaptionOf(HWND hwnd);

// Top-level windows of process `pid` (of every process when 0).
std::vector<HWND> TopLevelWindows(DWORD pid);

// Direct children of `parent`.
std::vector<HWND> Children(HWND parent);

bool IsDialogClass(HWND hwnd);

// A message box as the window system makes it: a dialog with the text in
// static 0xFFFF and the icon in static 0x0440 (there with or without an icon).
bool IsMessageBox(HWND hwnd);

// A button or menu text without its access-key ampersands.
std::string StripAmpersands(const std::string& text);

#endif
