// agpvm's handler DLL. agpvm loads it into the program it runs; on load it
// maps the run's shared machine and installs a vectored exception handler
// that emulates each port instruction in place, which is far cheaper than
// a round trip to the debugger per instruction.
#include <windows.h>

#include <cstring>

#include "port_emulation.h"

namespace {

VmShared* g_vm;

// Copies up to 16 instruction bytes at `eip` without reading past the end
// of committed memory.
size_t FetchInstruction(uint32_t eip, uint8_t* out)
{
    size_t count = 16;
    const uint32_t pageLeft = 4096 - (eip & 4095);
    if (pageLeft < count) {
        MEMORY_BASIC_INFORMATION info;
        const void* next = reinterpret_cast<const void*>(eip + pageLeft);
        if (VirtualQuery(next, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT ||
            (info.Protect & (PAGE_NOACCESS | PAGE_GUARD)))
            count = pageLeft;
    }
    std::memset(out, 0, 16);
    std::memcpy(out, reinterpret_cast<const void*>(eip), count);
    return count;
}

LONG CALLBACK PortHandler(EXCEPTION_POINTERS* info)
{
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    CONTEXT* ctx = info->ContextRecord;
    if (code == EXCEPTION_PRIV_INSTRUCTION) {
        uint8_t bytes[16];
        const size_t count = FetchInstruction(ctx->Eip, bytes);
        IoInstruction io;
        if (DecodeIoInstruction(bytes, count, io)) {
            IoRegisters regs = {ctx->Eax, ctx->Edx, ctx->Ecx, ctx->Eip};
            const DWORD tick = GetTickCount();
            if (!g_vm->firstAccessTick) g_vm->firstAccessTick = tick;
            EmulateIo(*g_vm, io, bytes, regs);
            __sync_fetch_and_add(&g_vm->fastAccesses, 1);
            g_vm->lastAccessTick = GetTickCount();
            ctx->Eax = regs.eax;
            ctx->Ecx = regs.ecx;
            ctx->Eip = regs.eip;
            return EXCEPTION_CONTINUE_EXECUTION;
        }
    }
    // Anything else goes on to the program's own handlers; agpvm reports it.
    const uint32_t n = __sync_fetch_and_add(&g_vm->exceptionCount, 1);
    if (n < kVmMaxExceptions) {
        g_vm->exceptions[n].code = code;
        g_vm->exceptions[n].eip = ctx->Eip;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// An exception that no handler of the program took: recorded for agpvm,
// and the process ends with the exception code at once, instead of
// waiting in a crash dialog.
LONG WINAPI CrashFilter(EXCEPTION_POINTERS* info)
{
    g_vm->crashCode = info->ExceptionRecord->ExceptionCode;
    g_vm->crashEip = info->ContextRecord->Eip;
    __sync_synchronize();
    g_vm->crashed = 1;
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

// Run by agpvm in a thread of its own: reads the system menu of the window
// named in menuHwnd into the shared memory. Menus belong to the process
// that made them, so this cannot be done from agpvm.
extern "C" __declspec(dllexport) DWORD WINAPI AgpvmReadSystemMenu(LPVOID)
{
    HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(g_vm->menuHwnd));
    HMENU menu = GetSystemMenu(hwnd, FALSE);
    if (!menu) {
        g_vm->menuCount = -1;
        return 0;
    }
    int count = GetMenuItemCount(menu);
    if (count < 0) count = 0;
    if (count > static_cast<int>(kVmMaxMenuItems)) count = kVmMaxMenuItems;
    for (int i = 0; i < count; ++i) {
        VmMenuItem& item = g_vm->menu[i];
        MENUITEMINFOA mii;
        std::memset(&mii, 0, sizeof mii);
        mii.cbSize = sizeof mii;
        mii.fMask = MIIM_ID | MIIM_TYPE;
        mii.dwTypeData = item.text;
        mii.cch = sizeof item.text;
        item.text[0] = 0;
        if (GetMenuItemInfoA(menu, i, TRUE, &mii)) {
            item.type = mii.fType;
            item.id = mii.wID;
        } else {
            item.type = 0xFFFFFFFFu;
            item.id = 0;
        }
        if (item.type & MFT_SEPARATOR) item.text[0] = 0;
        item.text[sizeof item.text - 1] = 0;
    }
    g_vm->menuCount = count;
    return 1;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    DisableThreadLibraryCalls(instance);
    char name[64];
    VmMappingName(GetCurrentProcessId(), name, sizeof name);
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
    if (!mapping) return FALSE;
    g_vm = static_cast<VmShared*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!g_vm || g_vm->magic != kVmSharedMagic || g_vm->version != kVmSharedVersion ||
        g_vm->sizeBytes != sizeof(VmShared))
        return FALSE;

    // Looked up at run time: the program may run where the function is missing.
    typedef PVOID(WINAPI * AddHandlerFn)(ULONG, PVECTORED_EXCEPTION_HANDLER);
    AddHandlerFn add = reinterpret_cast<AddHandlerFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "AddVectoredExceptionHandler")));
    if (!add || !add(1, PortHandler)) return FALSE;
    SetUnhandledExceptionFilter(CrashFilter);
    g_vm->queryProc = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&AgpvmReadSystemMenu));
    __sync_synchronize();
    g_vm->handlerReady = 1;
    return TRUE;
}
