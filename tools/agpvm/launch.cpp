// Starting the program under agpvm: command line, virtual desktop, process,
// job and shared machine.
#include "launch.h"

#include <cstring>

#include "options.h"
#include "vm_output.h"

namespace {

std::string FullPath(const std::string& path)
{
    char buffer[MAX_PATH * 2];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    return n > 0 && n < sizeof buffer ? std::string(buffer) : path;
}

// One argument as the program's C runtime will split it again.
std::string QuoteArgument(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
        } else if (c == '"') {
            quoted.append(backslashes + 1, '\\');
            backslashes = 0;
        } else {
            backslashes = 0;
        }
        quoted += c;
    }
    quoted.append(backslashes, '\\');
    return quoted + "\"";
}

// A Wine virtual desktop of its own: windows get title bars and system
// menus without a window manager, closing a window does not wait for one,
// and parallel runs do not share focus. Wine makes a desktop virtual when
// the registry gives its size.
bool CreateVirtualDesktop(const std::string& size, VmRun& run, Launch& launch)
{
    launch.desktopName = "agpvm-" + std::to_string(GetCurrentProcessId());
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Explorer\\Desktops", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &launch.desktops, nullptr) == ERROR_SUCCESS)
        RegSetValueExA(launch.desktops, launch.desktopName.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(size.c_str()), size.size() + 1);
    run.desktop =
        CreateDesktopA(launch.desktopName.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    return run.desktop != nullptr;
}

// A job, so that the program and whatever it starts end with agpvm.
HANDLE JobFor(HANDLE process)
{
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
        std::memset(&limits, 0, sizeof limits);
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        AssignProcessToJobObject(job, process);
    }
    return job;
}

}  // namespace

bool ReadTextFile(const std::string& path, std::string& text)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char buffer[4096];
    size_t n;
    text.clear();
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool ResolveProgram(const std::string& path, std::string& fullPath)
{
    fullPath = FullPath(ToWindowsPath(path));
    if (GetFileAttributesA(fullPath.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    std::fprintf(stderr, "agpvm: program %s not found\n", path.c_str());
    return false;
}

int LaunchProgram(const LaunchRequest& request, VmRun& run, Launch& launch)
{
    std::string commandLine = QuoteArgument(run.programPath);
    for (size_t i = 1; i < request.program.size(); ++i)
        commandLine += " " + QuoteArgument(request.program[i]);
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(0);

    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (!request.desktopSize.empty()) {
        if (!CreateVirtualDesktop(request.desktopSize, run, launch)) {
            Say("FAIL: cannot create a desktop (error %lu)", GetLastError());
            return kExitStartFailed;
        }
        startup.lpDesktop = &launch.desktopName[0];
    }
    if (g_relay.Open()) g_relay.Attach(startup);

    PROCESS_INFORMATION pi;
    const DWORD flags = request.debug ? DEBUG_ONLY_THIS_PROCESS : 0;
    run.startTick = GetTickCount();
    run.deadline = run.startTick + request.timeoutSeconds * 1000;
    if (!CreateProcessA(run.programPath.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, flags,
                        nullptr, nullptr, &startup, &pi)) {
        Say("FAIL: cannot start %s (error %lu)", run.programPath.c_str(), GetLastError());
        return kExitStartFailed;
    }
    run.process = pi.hProcess;
    run.pid = pi.dwProcessId;
    run.mainThreadId = pi.dwThreadId;
    run.mainThread = pi.hThread;
    launch.job = JobFor(pi.hProcess);

    if (request.debug) {
        // The handler finds the machine under a name made of the process ID.
        char name[64];
        VmMappingName(run.pid, name, sizeof name);
        launch.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            sizeof(VmShared), name);
        run.vm = launch.mapping ? static_cast<VmShared*>(
                                      MapViewOfFile(launch.mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0))
                                : nullptr;
        if (!run.vm) {
            Say("FAIL: cannot create the shared machine (error %lu)", GetLastError());
            TerminateProcess(pi.hProcess, 1);
            return kExitStartFailed;
        }
        VmShared& vm = *run.vm;
        vm.magic = kVmSharedMagic;
        vm.version = kVmSharedVersion;
        vm.sizeBytes = sizeof(VmShared);
        vm.machine = *request.machine;
    }
    return 0;
}

void EndLaunch(Launch& launch)
{
    if (launch.desktops) {
        RegDeleteValueA(launch.desktops, launch.desktopName.c_str());
        RegCloseKey(launch.desktops);
        launch.desktops = nullptr;
    }
}
