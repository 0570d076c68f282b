// Entry of the Windows host tests: rl_win_host_tests PLUGIN.8bf RLHOST.EXE.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/win/host_test_paths.h"
#include "tools/hostsim/dialog_driver_win32.h"

namespace {
std::string gPlugin, gHost, gScratch;
}

const std::string& PluginModulePath() { return gPlugin; }
const std::string& ConsoleHostPath() { return gHost; }
const std::string& HostTestScratchFolder() { return gScratch; }

std::string WindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string windows = "Z:" + path;
    for (char& c : windows)
        if (c == '/') c = '\\';
    return windows;
}

ProcessOutput RunConsoleHost(const std::string& arguments, bool withPlugin) {
    ProcessOutput output;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return output;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    std::string command = "\"" + WindowsPath(gHost) + "\"";
    if (withPlugin) command += " \"" + WindowsPath(gPlugin) + "\"";
    command += " " + arguments;
    // Wine now and then fails to start a child with ERROR_INTERNAL_ERROR while
    // the server is busy with another process's exit; a second try a moment
    // later starts it. Any other failure is reported at once.
    PROCESS_INFORMATION process = {};
    BOOL started = FALSE;
    DWORD launchError = 0;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        if (attempt > 0) Sleep(500);
        started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
        if (!started) {
            launchError = GetLastError();
            std::fprintf(stderr, "CreateProcess failed (%lu), attempt %d\n", static_cast<unsigned long>(launchError),
                         attempt + 1);
            if (launchError != ERROR_INTERNAL_ERROR) break;
        }
    }
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        output.text = "CreateProcess failed: " + std::to_string(launchError);
        return output;
    }
    // Read until the child has exited and the pipe is drained. The end of the
    // pipe cannot be waited for: a process Wine starts on the child's behalf
    // (the desktop) may inherit the write end and keep it open.
    const DWORD deadline = GetTickCount() + 60000;
    bool exited = false;
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr)) break;
        if (available > 0) {
            char buffer[4096];
            DWORD read = 0;
            if (!ReadFile(readEnd, buffer, available < sizeof buffer ? available : sizeof buffer, &read, nullptr))
                break;
            output.text.append(buffer, read);
            continue;
        }
        if (exited) break;
        exited = WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0;
        if (!exited && GetTickCount() > deadline) {
            TerminateProcess(process.hProcess, 99);
            output.text += "\n(killed after a minute)\n";
            exited = true;
        }
    }
    CloseHandle(readEnd);
    WaitForSingleObject(process.hProcess, 5000);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    output.exitCode = static_cast<int>(code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    // Console output may carry CR LF.
    std::string text;
    for (char c : output.text)
        if (c != '\r') text += c;
    output.text = text;
    return output;
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: rl_win_host_tests PATH-TO-RaylumePro2.8bf PATH-TO-rlhost.exe\n");
        return 2;
    }
    gPlugin = argv[1];
    gHost = argv[2];
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    gScratch = std::string(temp) + "raylume-host-tests-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(gScratch.c_str(), nullptr);
    // The user presses OK in every dialog the filter shows, and closes every message box.
    StartDialogDriver(DialogDriverOptions());
    const int result = RUN_ALL_TESTS();
    StopDialogDriver();
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((gScratch + "\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            DeleteFileA((gScratch + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    RemoveDirectoryA(gScratch.c_str());
    return result;
}
