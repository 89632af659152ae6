// Window-free rules of the class layer: the application's name, the help
// file's path, dialog help contexts and the help key. No Windows headers,
// so the native tests can check them.
#ifndef LUMBREL_FRAME_FRAME_LOGIC_H
#define LUMBREL_FRAME_FRAME_LOGIC_H

#include <cstddef>
#include <cstdint>

// The command that F1 sends to the main window.
const unsigned kFrameIdHelp = 0xE146;

// Help contexts of dialogs: this base plus the template's number.
const uint32_t kFrameDialogHelpBase = 0x20000;

inline uint32_t DialogHelpContext(unsigned templateId)
{
    return kFrameDialogHelpBase + templateId;
}

// F1 asks for help only when none of Shift, Ctrl and Alt is held.
inline bool IsPlainHelpKey(unsigned virtualKey, bool shift, bool ctrl, bool alt)
{
    const unsigned kVirtualKeyF1 = 0x70;
    return virtualKey == kVirtualKeyF1 && !shift && !ctrl && !alt;
}

namespace frame_detail {

inline bool IsPathSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

// Index just past the last directory separator (0 when there is none).
inline size_t FileNameStart(const char* path)
{
    size_t start = 0;
    for (size_t i = 0; path[i] != '\0'; ++i)
        if (IsPathSeparator(path[i])) start = i + 1;
    return start;
}

// Index of the dot that starts the file name's extension, or the length
// of the path when the file name has none. A leading dot ("dir\.hidden")
// starts no extension.
inline size_t ExtensionStart(const char* path)
{
    const size_t name = FileNameStart(path);
    size_t length = name;
    size_t dot = 0;
    bool found = false;
    for (; path[length] != '\0'; ++length) {
        if (path[length] == '.' && length > name) {
            dot = length;
            found = true;
        }
    }
    return found ? dot : length;
}

inline bool Refuse(char* out)
{
    out[0] = '\0';
    return false;
}

// Copies path[begin, end) and then `suffix` into out; false (and out empty)
// when that does not fit in outSize bytes with the terminator.
inline bool CopyJoined(const char* path, size_t begin, size_t end, const char* suffix, char* out,
                       size_t outSize)
{
    if (outSize == 0) return false;
    // Each character is stored only below the last byte, which is kept for
    // the terminator.
    size_t n = 0;
    for (size_t i = begin; i < end; ++i) {
        if (n == outSize - 1) return Refuse(out);
        out[n++] = path[i];
    }
    for (size_t i = 0; suffix[i] != '\0'; ++i) {
        if (n == outSize - 1) return Refuse(out);
        out[n++] = suffix[i];
    }
    out[n] = '\0';
    return true;
}

}  // namespace frame_detail

// The application's name: the executable's file name without directory
// and extension, "C:\APPS\lumbrel.EXE" -> "lumbrel". False when it does
// not fit into out.
inline bool AppNameFromPath(const char* path, char* out, size_t outSize)
{
    using namespace frame_detail;
    return CopyJoined(path, FileNameStart(path), ExtensionStart(path), "", out, outSize);
}

// The help file: the executable's full path with its extension replaced by
// ".HLP" (added when there is none). False when it does not fit into out:
// a cut path would name another file.
inline bool HelpPathFromExePath(const char* exePath, char* out, size_t outSize)
{
    using namespace frame_detail;
    return CopyJoined(exePath, 0, ExtensionStart(exePath), ".HLP", out, outSize);
}

#endif
