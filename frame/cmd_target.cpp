#include "frame.h"

const FrameMapEntry CCmdTarget::s_messageEntries[] = {{0, 0, 0, FrameSigEnd, FrameHandler()}};
const FrameMessageMap CCmdTarget::s_messageMap = {NULL, &CCmdTarget::s_messageEntries[0]};

const FrameMessageMap* CCmdTarget::GetMessageMap() const { return &s_messageMap; }

namespace {

bool Matches(const FrameMapEntry& entry, UINT message, WPARAM wParam)
{
    if (entry.message != message) return false;
    if (message != WM_COMMAND) return true;
    return entry.code == HIWORD(wParam) && entry.id == LOWORD(wParam);
}

}  // namespace

bool CCmdTarget::DispatchToMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    for (const FrameMessageMap* map = GetMessageMap(); map != NULL; map = map->base) {
        for (const FrameMapEntry* entry = map->entries; entry->signature != FrameSigEnd; ++entry) {
            if (!Matches(*entry, message, wParam)) continue;
            LRESULT value = 0;
            switch (entry->signature) {
            case FrameSigVoid:
                (this->*entry->handler.onVoid)();
                break;
            case FrameSigVoidUintLparam:
                (this->*entry->handler.onUintLparam)(static_cast<UINT>(wParam), lParam);
                break;
            case FrameSigIcon:
                value = reinterpret_cast<LRESULT>((this->*entry->handler.onIcon)());
                break;
            case FrameSigRaw:
                value = (this->*entry->handler.onRaw)(wParam, lParam);
                break;
            case FrameSigEnd:
                break;
            }
            if (result) *result = value;
            return true;
        }
    }
    return false;
}
