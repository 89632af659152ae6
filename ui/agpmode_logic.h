// Window-free rules of the configuration dialog, kept apart so that the
// native tests can check them.
#ifndef LUMBREL_UI_AGPMODE_LOGIC_H
#define LUMBREL_UI_AGPMODE_LOGIC_H

#include "resource.h"

// Where the icon goes inside a minimised window's client area, along one
// axis: (extent - icon + 1) / 2 in signed arithmetic, truncated toward zero.
inline int MinimisedIconOffset(int clientExtent, int iconExtent)
{
    return (clientExtent - iconExtent + 1) / 2;
}

// The window system keeps the low four bits of a system command for its
// own use, so every command from 0x0010 to 0x001F is the About item.
inline bool IsAboutCommand(unsigned commandId)
{
    return (commandId & 0xFFF0u) == IDM_ABOUT;
}

#endif
