// rlshortcut: starts what a shortcut (.lnk) names, as the shell does when the
// user clicks it, and plays the user in front of what opens: the simulator's
// dialog driver, watching every process, closes the plug-in's Options dialog
// (or About box) with Cancel and dismisses message boxes.
//
//   rlshortcut LINK.lnk [--timeout-ms N]
//
// Prints the link's target and arguments, then each dialog it closed
// ("closed: TITLE" and its static texts, indented). Exit status: 0 a dialog
// was closed and the started process ended by itself, 1 usage, 2 the link
// cannot be read, 3 the target cannot be started, 4 no dialog appeared in
// time (or the process ended without one), 5 the process was still running
// after its dialog was closed (it is ended).
#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/hostsim/dialog_driver_win32.h"

namespace {

std::string Narrow(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, nullptr, nullptr);
    return result;
}

std::wstring Wide(const char* text) {
    int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring result(size > 0 ? size - 1 : 0, L'\0');
    if (size > 1) MultiByteToWideChar(CP_UTF8, 0, text, -1, &result[0], size);
    return result;
}

struct Link {
    std::wstring target, arguments, folder;
};

bool ReadLink(const std::wstring& path, Link* link) {
    IShellLinkW* shell = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shell))))
        return false;
    IPersistFile* file = nullptr;
    bool ok = SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
              SUCCEEDED(file->Load(path.c_str(), STGM_READ));
    wchar_t buffer[4096] = {};
    if (ok) ok = SUCCEEDED(shell->GetPath(buffer, MAX_PATH, nullptr, 0)) && buffer[0];
    if (ok) link->target = buffer;
    buffer[0] = 0;
    if (ok && SUCCEEDED(shell->GetArguments(buffer, sizeof(buffer) / sizeof(buffer[0])))) link->arguments = buffer;
    buffer[0] = 0;
    if (ok && SUCCEEDED(shell->GetWorkingDirectory(buffer, MAX_PATH))) link->folder = buffer;
    if (file) file->Release();
    shell->Release();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: rlshortcut LINK.lnk [--timeout-ms N]\n");
        return 1;
    }
    DWORD timeout = 60000;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--timeout-ms") == 0 && i + 1 < argc) {
            timeout = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            std::fprintf(stderr, "rlshortcut: unknown argument '%s'\n", argv[i]);
            return 1;
        }
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Link link;
    if (!ReadLink(Wide(argv[1]), &link)) {
        std::fprintf(stderr, "rlshortcut: cannot read the shortcut '%s'\n", argv[1]);
        return 2;
    }
    std::printf("target: %s\narguments: %s\n", Narrow(link.target.c_str()).c_str(),
                Narrow(link.arguments.c_str()).c_str());
    std::fflush(stdout);

    DialogDriverOptions options;
    options.action = DIALOG_PRESS_CANCEL;
    options.otherProcesses = true;
    StartDialogDriver(options);

    std::wstring command = L"\"" + link.target + L"\" " + link.arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(link.target.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                        link.folder.empty() ? nullptr : link.folder.c_str(), &startup, &process)) {
        std::fprintf(stderr, "rlshortcut: cannot start the target (error %lu)\n", GetLastError());
        StopDialogDriver();
        return 3;
    }

    // Wait for a dialog to be closed, then for the process to end on its own.
    const ULONGLONG start = GetTickCount64();
    while (ClosedDialogs().empty() && GetTickCount64() - start < timeout &&
           WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
    }
    int status = 0;
    if (ClosedDialogs().empty()) {
        std::fprintf(stderr, "rlshortcut: no dialog appeared within %lu ms\n", timeout);
        status = 4;
    } else {
        ULONGLONG left = timeout > GetTickCount64() - start ? timeout - (GetTickCount64() - start) : 0;
        if (left < 10000) left = 10000;
        if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(left)) == WAIT_TIMEOUT) {
            std::fprintf(stderr, "rlshortcut: the process did not end after its dialog was closed\n");
            status = 5;
        }
    }
    StopDialogDriver();
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
    }
    for (const ClosedDialog& closed : ClosedDialogs()) {
        std::printf("closed: %s\n", closed.title.c_str());
        for (const std::string& text : closed.texts) std::printf("  %s\n", text.c_str());
    }
    for (const std::string& box : DismissedMessageBoxes()) std::printf("message box: %s\n", box.c_str());
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CoUninitialize();
    return status;
}
