// Finding and reading the windows of another process.
#include "program_windows.h"

std::string ClassOf(HWND hwnd)
{
    char name[128] = "";
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

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

namespace {

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

}  // namespace

std::vector<HWND> TopLevelWindows(DWORD pid)
{
    std::vector<HWND> windows;
    EnumState state = {pid, &windows};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&state));
    return windows;
}

namespace {

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param)
{
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

}  // namespace

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
