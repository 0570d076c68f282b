// Win32 implementation of the operating-system layer: thin wrappers over the
// kernel, shell and user calls of the same names.
#ifdef _WIN32

#include "support/os.h"

#include <windows.h>
#include <process.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

static_assert(sizeof(OVERLAPPED) <= sizeof(OsOverlapped::storage), "overlapped storage");

namespace {
inline HANDLE H(OsHandle h) { return reinterpret_cast<HANDLE>(h); }
inline OsHandle O(HANDLE h) { return reinterpret_cast<OsHandle>(h); }
inline HANDLE F(OsFile f) { return reinterpret_cast<HANDLE>(f); }
inline HWND W(OsWindow w) { return reinterpret_cast<HWND>(w); }
}  // namespace

uint32_t OsGetLastError() { return GetLastError(); }
void OsSetLastError(uint32_t code) { SetLastError(code); }

bool OsFormatSystemMessage(uint32_t code, char* buffer, size_t size) {
    if (!buffer || size == 0) return false;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                             static_cast<DWORD>(size > 0xFFFF ? 0xFFFF : size), nullptr);
    if (n == 0) {
        buffer[0] = 0;
        return false;
    }
    return true;
}

OsHandle OsCreateEvent(bool manualReset, bool initialState) {
    return O(CreateEventA(nullptr, manualReset, initialState, nullptr));
}
bool OsSetEvent(OsHandle event) { return SetEvent(H(event)) != 0; }
bool OsResetEvent(OsHandle event) { return ResetEvent(H(event)) != 0; }
OsHandle OsCreateMutex(bool initialOwner) { return O(CreateMutexA(nullptr, initialOwner, nullptr)); }
bool OsReleaseMutex(OsHandle mutex) { return ReleaseMutex(H(mutex)) != 0; }

uint32_t OsWaitForSingleObject(OsHandle object, uint32_t milliseconds, bool alertable) {
    return WaitForSingleObjectEx(H(object), milliseconds, alertable);
}

uint32_t OsWaitForMultipleObjects(uint32_t count, const OsHandle* objects, bool waitAll, uint32_t milliseconds,
                                  bool alertable) {
    if (count == 0 || count > OS_MAXIMUM_WAIT_OBJECTS || !objects) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return OS_WAIT_FAILED;
    }
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    for (uint32_t i = 0; i < count; i++) handles[i] = H(objects[i]);
    return WaitForMultipleObjectsEx(count, handles, waitAll, milliseconds, alertable);
}

bool OsCloseHandle(OsHandle object) { return CloseHandle(H(object)) != 0; }

namespace {

// What a new thread runs: the caller's procedure behind the guard.
struct ThreadLaunch {
    OsThreadProc proc;
    void* argument;
};

unsigned __stdcall LaunchThread(void* raw) {
    ThreadLaunch launch = *static_cast<ThreadLaunch*>(raw);
    std::free(raw);
    return OsRunThreadBody(launch.proc, launch.argument);
}

}  // namespace

OsHandle OsCreateThread(OsThreadProc proc, void* argument, size_t stackSize, uint32_t* threadId) {
    unsigned id = 0;
    auto* launch = static_cast<ThreadLaunch*>(std::malloc(sizeof(ThreadLaunch)));
    if (!launch) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    *launch = ThreadLaunch{proc, argument};
    uintptr_t thread = _beginthreadex(nullptr, static_cast<unsigned>(stackSize), LaunchThread, launch, 0, &id);
    if (thread == 0) {
        std::free(launch);
        return nullptr;
    }
    if (threadId) *threadId = id;
    return reinterpret_cast<OsHandle>(thread);
}

bool OsGetExitCodeThread(OsHandle thread, uint32_t* exitCode) {
    DWORD code = 0;
    if (!GetExitCodeThread(H(thread), &code)) return false;
    *exitCode = code;
    return true;
}

bool OsTerminateThread(OsHandle thread, uint32_t exitCode) { return TerminateThread(H(thread), exitCode) != 0; }

OsHandle OsOpenCurrentThread() {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return nullptr;
    return O(copy);
}

bool OsQueueUserCall(OsQueuedCall call, OsHandle thread, uintptr_t parameter) {
    return QueueUserAPC(reinterpret_cast<PAPCFUNC>(call), H(thread), parameter) != 0;
}

uint32_t OsSleepEx(uint32_t milliseconds, bool alertable) { return SleepEx(milliseconds, alertable); }
uint32_t OsGetCurrentThreadId() { return GetCurrentThreadId(); }
uint32_t OsGetCurrentProcessId() { return GetCurrentProcessId(); }
uint32_t OsGetTickCount() { return GetTickCount(); }

bool OsInitializeCriticalSection(OsCriticalSection* section, uint32_t spinCount) {
    if (!section) return false;
    auto* cs = static_cast<CRITICAL_SECTION*>(HeapAlloc(GetProcessHeap(), 0, sizeof(CRITICAL_SECTION)));
    if (!cs) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    if (!InitializeCriticalSectionAndSpinCount(cs, spinCount)) {
        HeapFree(GetProcessHeap(), 0, cs);
        return false;
    }
    section->impl = cs;
    return true;
}
void OsEnterCriticalSection(OsCriticalSection* section) { EnterCriticalSection(static_cast<CRITICAL_SECTION*>(section->impl)); }
void OsLeaveCriticalSection(OsCriticalSection* section) { LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(section->impl)); }
void OsDeleteCriticalSection(OsCriticalSection* section) {
    if (!section->impl) return;
    DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(section->impl));
    HeapFree(GetProcessHeap(), 0, section->impl);
    section->impl = nullptr;
}

// ---- files ----

std::string OsJoinPath(const std::string& folder, const std::string& name) { return folder + "\\" + name; }

OsFile OsCreateFileForWriting(const std::string& path, bool overlapped) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | (overlapped ? FILE_FLAG_OVERLAPPED : 0),
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return reinterpret_cast<OsFile>(file);
}

bool OsWriteFile(OsFile file, const void* data, uint32_t size, uint32_t* written) {
    DWORD done = 0;
    BOOL ok = WriteFile(F(file), data, size, &done, nullptr);
    if (written) *written = done;
    return ok != 0;
}

bool OsWriteFileOverlapped(OsFile file, const void* data, uint32_t size, uint64_t offset, OsHandle event,
                           OsOverlapped* overlapped) {
    auto* ov = reinterpret_cast<OVERLAPPED*>(overlapped->storage);
    std::memset(ov, 0, sizeof(*ov));
    ov->Offset = static_cast<DWORD>(offset);
    ov->OffsetHigh = static_cast<DWORD>(offset >> 32);
    ov->hEvent = H(event);
    if (WriteFile(F(file), data, size, nullptr, ov)) return true;
    return GetLastError() == ERROR_IO_PENDING;
}

bool OsGetOverlappedResult(OsFile file, OsOverlapped* overlapped, uint32_t* written, bool wait) {
    DWORD done = 0;
    BOOL ok = GetOverlappedResult(F(file), reinterpret_cast<OVERLAPPED*>(overlapped->storage), &done, wait);
    if (written) *written = done;
    return ok != 0;
}

bool OsFlushFileBuffers(OsFile file) { return FlushFileBuffers(F(file)) != 0; }
bool OsCloseFile(OsFile file) { return CloseHandle(F(file)) != 0; }

bool OsFindFiles(const std::string& folder, const std::string& pattern, std::vector<std::string>& names) {
    names.clear();
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(OsJoinPath(folder, pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        return e == ERROR_FILE_NOT_FOUND || e == ERROR_NO_MORE_FILES;
    }
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    // NTFS lists in ascending order; other file systems need not.
    std::sort(names.begin(), names.end());
    return true;
}

bool OsFileExists(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool OsReplaceFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool OsFolderExists(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// ---- folders ----

namespace {
bool ShellFolder(int csidl, std::string& path, uint32_t* result) {
    char buffer[MAX_PATH] = {};
    HRESULT hr = SHGetFolderPathA(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, buffer);
    if (FAILED(hr)) {
        if (result) *result = static_cast<uint32_t>(hr);
        path.clear();
        return false;
    }
    path = buffer;
    return true;
}
}  // namespace

bool OsGetUserDataRoot(std::string& path, uint32_t* result) { return ShellFolder(CSIDL_LOCAL_APPDATA, path, result); }
bool OsGetCommonDataRoot(std::string& path, uint32_t* result) { return ShellFolder(CSIDL_COMMON_APPDATA, path, result); }

uint32_t OsCreateDirectoryTree(const std::string& path) {
    return static_cast<uint32_t>(SHCreateDirectoryExA(nullptr, path.c_str(), nullptr));
}

// ---- text ----

size_t OsMultiByteToUtf16(const char* text, size_t length, char16_t* out, size_t capacity) {
    if (length == 0 || capacity == 0) return 0;
    const int n = MultiByteToWideChar(CP_THREAD_ACP, 0, text, static_cast<int>(length),
                                      reinterpret_cast<wchar_t*>(out), static_cast<int>(capacity));
    return n > 0 ? static_cast<size_t>(n) : 0;
}

std::u16string OsMultiByteToUtf16(const char* text, size_t length) {
    std::u16string out(length, u'\0');
    out.resize(OsMultiByteToUtf16(text, length, &out[0], length));
    return out;
}

// ---- windows and message boxes ----

bool OsIsWindow(OsWindow window) { return window && IsWindow(W(window)); }
bool OsPostMessage(OsWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return PostMessageA(W(window), message, wParam, lParam) != 0;
}
OsWindow OsGetActiveWindow() { return reinterpret_cast<OsWindow>(GetActiveWindow()); }

namespace {
int DefaultMessageBox(OsWindow owner, const char* text, const char* caption, uint32_t style) {
    return MessageBoxA(W(owner), text, caption, style);
}
OsMessageBoxShower gMessageBoxShower = DefaultMessageBox;
}  // namespace

int OsShowMessageBox(OsWindow owner, const char* text, const char* caption, uint32_t style) {
    return gMessageBoxShower(owner, text, caption, style);
}

OsMessageBoxShower OsSetMessageBoxShower(OsMessageBoxShower shower) {
    OsMessageBoxShower previous = gMessageBoxShower;
    gMessageBoxShower = shower ? shower : DefaultMessageBox;
    return previous;
}

// ---- module ----

bool OsGetModuleProductVersion(uint16_t parts[4], std::string* failure) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&OsGetModuleProductVersion), &module)) {
        if (failure) *failure = "GetVersionResource() failed.";
        return false;
    }
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16) /* RT_VERSION */);
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const auto* bytes = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
    DWORD size = resource ? SizeofResource(module, resource) : 0;
    if (!bytes || size < sizeof(VS_FIXEDFILEINFO)) {
        if (failure) *failure = "GetVersionResource() failed.";
        return false;
    }
    // The fixed part follows the "VS_VERSION_INFO" key, 32-bit aligned; find its signature.
    for (DWORD offset = 0; offset + sizeof(VS_FIXEDFILEINFO) <= size; offset += 4) {
        VS_FIXEDFILEINFO info;
        std::memcpy(&info, bytes + offset, sizeof(info));
        if (info.dwSignature == 0xFEEF04BD) {
            parts[0] = HIWORD(info.dwProductVersionMS);
            parts[1] = LOWORD(info.dwProductVersionMS);
            parts[2] = HIWORD(info.dwProductVersionLS);
            parts[3] = LOWORD(info.dwProductVersionLS);
            return true;
        }
    }
    if (failure) *failure = "GetFixedFileInfo() failed.";
    return false;
}

#endif  // _WIN32

namespace {

// A large block: a header, then the block, at the start of a reserved range.
constexpr size_t kLargeBlock = size_t(1) << 20;
constexpr size_t kLargeHeader = 64;  // keeps the block 64-byte aligned
struct LargeHeader {
    size_t reserved;   // bytes of address space from the header on
    size_t committed;  // bytes committed from the header on
};

inline bool IsLarge(size_t size) { return size >= kLargeBlock; }
inline LargeHeader* HeaderOf(void* block) {
    return reinterpret_cast<LargeHeader*>(static_cast<uint8_t*>(block) - kLargeHeader);
}

// Commits the range up to `bytes` (from the header on); false when the
// system has no more to give.
bool CommitLarge(LargeHeader* header, size_t bytes) {
    if (bytes <= header->committed) return true;
    if (!VirtualAlloc(header, bytes, MEM_COMMIT, PAGE_READWRITE)) return false;
    header->committed = bytes;
    return true;
}

// Room for eight times the size (at least 64 MiB) is reserved: address
// space is plentiful on x64, and only what is committed takes memory.
void* AllocateLarge(size_t size) {
    if (size > (SIZE_MAX >> 4)) return nullptr;
    size_t reserve = size * 8 < (size_t(64) << 20) ? (size_t(64) << 20) : size * 8;
    void* base = VirtualAlloc(nullptr, reserve, MEM_RESERVE, PAGE_NOACCESS);
    if (!base) base = VirtualAlloc(nullptr, reserve = kLargeHeader + size, MEM_RESERVE, PAGE_NOACCESS);
    if (!base) return nullptr;
    if (!VirtualAlloc(base, kLargeHeader + size, MEM_COMMIT, PAGE_READWRITE)) {
        VirtualFree(base, 0, MEM_RELEASE);
        return nullptr;
    }
    auto* header = static_cast<LargeHeader*>(base);
    header->reserved = reserve;
    header->committed = kLargeHeader + size;
    return static_cast<uint8_t*>(base) + kLargeHeader;
}

void FreeLarge(void* block) { VirtualFree(HeaderOf(block), 0, MEM_RELEASE); }

// Moves `bytes` with a string copy, which runs at memory speed whatever the
// runtime's memcpy does.
void CopyBytes(void* to, const void* from, size_t bytes) {
    __asm__ volatile("rep movsb" : "+D"(to), "+S"(from), "+c"(bytes) : : "memory");
}

}  // namespace

uint64_t OsAvailableMemory() {
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return UINT64_MAX;
    // Allocations are limited by the commit charge left and the address space.
    return status.ullAvailPageFile < status.ullAvailVirtual ? status.ullAvailPageFile : status.ullAvailVirtual;
}

void OsAdviseLargeBlock(void*, size_t) {}

void* OsAllocate(size_t size) { return IsLarge(size) ? AllocateLarge(size) : std::malloc(size ? size : 1); }

void OsFree(void* block, size_t size) {
    if (!block) return;
    if (IsLarge(size))
        FreeLarge(block);
    else
        std::free(block);
}

void* OsReallocate(void* old, size_t oldSize, size_t newSize) {
    if (!old) return OsAllocate(newSize);
    if (!IsLarge(oldSize) && !IsLarge(newSize)) return std::realloc(old, newSize ? newSize : 1);
    if (IsLarge(oldSize) && IsLarge(newSize)) {
        // Grows in place while the reservation lasts: nothing is copied.
        LargeHeader* header = HeaderOf(old);
        if (kLargeHeader + newSize <= header->reserved) return CommitLarge(header, kLargeHeader + newSize) ? old : nullptr;
    }
    void* moved = OsAllocate(newSize);
    if (!moved) return nullptr;
    CopyBytes(moved, old, oldSize < newSize ? oldSize : newSize);
    OsFree(old, oldSize);
    return moved;
}

