// The small operating-system layer the portable core stands on.
//
// Names and semantics follow the Win32 kernel objects the plug-in uses on
// Windows (events, mutexes, critical sections, threads with queued calls,
// overlapped file writes); os_win32.cpp maps them one to one, os_posix.cpp
// emulates them on Linux for the command-line tool and the native tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Opaque kernel object: event, mutex or thread.
typedef struct OsObject* OsHandle;
// Opaque window (HWND on Windows; a message queue natively).
typedef struct OsWindowRec* OsWindow;
// Opaque file handle.
typedef struct OsFileRec* OsFile;

// Wait results, with the values of the Win32 wait functions.
enum : uint32_t {
    OS_WAIT_OBJECT_0 = 0x00000000u,
    OS_WAIT_ABANDONED_0 = 0x00000080u,
    OS_WAIT_IO_COMPLETION = 0x000000C0u,
    OS_WAIT_TIMEOUT = 0x00000102u,
    OS_WAIT_FAILED = 0xFFFFFFFFu,
};
constexpr uint32_t OS_INFINITE = 0xFFFFFFFFu;
constexpr uint32_t OS_STILL_ACTIVE = 259;
constexpr uint32_t OS_MAXIMUM_WAIT_OBJECTS = 64;

// System error codes used by the callers (Win32 values).
enum : uint32_t {
    OS_ERROR_SUCCESS = 0,
    OS_ERROR_FILE_NOT_FOUND = 2,
    OS_ERROR_PATH_NOT_FOUND = 3,
    OS_ERROR_ACCESS_DENIED = 5,
    OS_ERROR_INVALID_HANDLE = 6,
    OS_ERROR_NOT_ENOUGH_MEMORY = 8,
    OS_ERROR_FILE_EXISTS = 80,
    OS_ERROR_INVALID_PARAMETER = 87,
    OS_ERROR_BAD_PATHNAME = 161,
    OS_ERROR_ALREADY_EXISTS = 183,
    OS_ERROR_FILENAME_EXCED_RANGE = 206,
    OS_ERROR_CANCELLED = 1223,
};

// ---- last error and its text ----
uint32_t OsGetLastError();
void OsSetLastError(uint32_t code);
// System text for an error code into `buffer` (cut to fit, always ended);
// false when the system has none. Uses no heap: reports about exhausted
// memory call it.
bool OsFormatSystemMessage(uint32_t code, char* buffer, size_t size);

// ---- events, mutexes, waits ----
OsHandle OsCreateEvent(bool manualReset, bool initialState);
bool OsSetEvent(OsHandle event);
bool OsResetEvent(OsHandle event);
OsHandle OsCreateMutex(bool initialOwner);
bool OsReleaseMutex(OsHandle mutex);
// Returns OS_WAIT_OBJECT_0, OS_WAIT_ABANDONED_0 (a mutex whose owner ended
// without releasing it; the caller now owns it), OS_WAIT_TIMEOUT,
// OS_WAIT_IO_COMPLETION (alertable wait ended by queued calls) or OS_WAIT_FAILED.
uint32_t OsWaitForSingleObject(OsHandle object, uint32_t milliseconds, bool alertable = false);
uint32_t OsWaitForMultipleObjects(uint32_t count, const OsHandle* objects, bool waitAll,
                                  uint32_t milliseconds, bool alertable = false);
bool OsCloseHandle(OsHandle object);

// ---- threads and queued calls ----
typedef uint32_t (*OsThreadProc)(void* argument);
typedef void (*OsQueuedCall)(uintptr_t parameter);
// Starts a thread (suspended creation is not offered). threadId may be null.
// Starts `proc` on a new thread. An exception thrown out of `proc` ends only
// that thread: it is caught at the thread's start, the run's result becomes
// out-of-memory (or the general failure), and the exit code is OS_THREAD_FAILED.
OsHandle OsCreateThread(OsThreadProc proc, void* argument, size_t stackSize, uint32_t* threadId);
constexpr uint32_t OS_THREAD_FAILED = 0xE0000001u;
// Runs a thread body with that guard (used by both OS layers).
uint32_t OsRunThreadBody(OsThreadProc proc, void* argument) noexcept;
bool OsGetExitCodeThread(OsHandle thread, uint32_t* exitCode);
// Forcible end: Windows ends the thread; natively the thread is left to run
// detached and its exit code is set, since a POSIX thread cannot be killed safely.
bool OsTerminateThread(OsHandle thread, uint32_t exitCode);
// A handle to the calling thread that other threads can queue calls to.
OsHandle OsOpenCurrentThread();
// Queues a call to a thread; it runs when that thread waits alertably.
bool OsQueueUserCall(OsQueuedCall call, OsHandle thread, uintptr_t parameter);
// Alertable sleep: returns OS_WAIT_IO_COMPLETION when queued calls ran.
uint32_t OsSleepEx(uint32_t milliseconds, bool alertable);
uint32_t OsGetCurrentThreadId();
uint32_t OsGetCurrentProcessId();
uint32_t OsGetTickCount();

// ---- critical sections ----
struct OsCriticalSection {
    void* impl = nullptr;
};
bool OsInitializeCriticalSection(OsCriticalSection* section, uint32_t spinCount);
void OsEnterCriticalSection(OsCriticalSection* section);
void OsLeaveCriticalSection(OsCriticalSection* section);
void OsDeleteCriticalSection(OsCriticalSection* section);
inline bool OsCriticalSectionValid(const OsCriticalSection* section) { return section->impl != nullptr; }

// ---- interlocked counters ----
// Stop and abort flags: written by one thread, polled by workers without a
// lock. Relaxed atomic access is enough (a late look only means one more step).
inline bool OsFlagIsSet(const volatile uint8_t* flag) { return flag && __atomic_load_n(flag, __ATOMIC_RELAXED) != 0; }
inline void OsStoreFlag(volatile uint8_t* flag, uint8_t value) { __atomic_store_n(flag, value, __ATOMIC_RELAXED); }
inline int32_t OsInterlockedIncrement(volatile int32_t* value) { return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST); }
inline int32_t OsInterlockedDecrement(volatile int32_t* value) { return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST); }
inline int32_t OsInterlockedExchangeAdd(volatile int32_t* value, int32_t add) { return __atomic_fetch_add(value, add, __ATOMIC_SEQ_CST); }
inline int32_t OsInterlockedExchange(volatile int32_t* value, int32_t v) { return __atomic_exchange_n(value, v, __ATOMIC_SEQ_CST); }
inline int32_t OsInterlockedCompareExchange(volatile int32_t* value, int32_t exchange, int32_t comparand) {
    __atomic_compare_exchange_n(value, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

// ---- files ----
#ifdef _WIN32
constexpr char OS_PATH_SEPARATOR = '\\';
#else
constexpr char OS_PATH_SEPARATOR = '/';
#endif
std::string OsJoinPath(const std::string& folder, const std::string& name);

// Creates (truncating) a file for writing, shared for read, write and delete.
OsFile OsCreateFileForWriting(const std::string& path, bool overlapped);
bool OsWriteFile(OsFile file, const void* data, uint32_t size, uint32_t* written);
// Overlapped write of size bytes at offset; completion sets `event`
// (a manual-reset event) and is collected with OsGetOverlappedResult.
struct OsOverlapped {
    alignas(8) unsigned char storage[64] = {};
};
bool OsWriteFileOverlapped(OsFile file, const void* data, uint32_t size, uint64_t offset,
                           OsHandle event, OsOverlapped* overlapped);
bool OsGetOverlappedResult(OsFile file, OsOverlapped* overlapped, uint32_t* written, bool wait);
bool OsFlushFileBuffers(OsFile file);
bool OsCloseFile(OsFile file);

// Names (not paths) in `folder` matching a pattern with '?' and '*', in
// ascending order. False when the folder cannot be listed.
bool OsFindFiles(const std::string& folder, const std::string& pattern, std::vector<std::string>& names);
bool OsFileExists(const std::string& path);
// Moves `from` over `to`, replacing it in one step where the system can.
bool OsReplaceFile(const std::string& from, const std::string& to);
bool OsFolderExists(const std::string& path);

// ---- folders ----
// Per-user application data root (local application data on Windows, the XDG
// data home natively) and the all-users root; created when missing.
// `result` receives the system result (an HRESULT on Windows) on failure.
bool OsGetUserDataRoot(std::string& path, uint32_t* result);
bool OsGetCommonDataRoot(std::string& path, uint32_t* result);
// Creates a folder and its parents. Returns 0, OS_ERROR_ALREADY_EXISTS,
// OS_ERROR_FILE_EXISTS or another system error code.
uint32_t OsCreateDirectoryTree(const std::string& path);

// ---- text ----
// Multibyte text (the thread's code page on Windows, UTF-8 natively) to UTF-16LE.
std::u16string OsMultiByteToUtf16(const char* text, size_t length);
// The same into `out`, which holds `capacity` units; returns the units
// written (never more than `length`: one byte never makes two units). No heap.
size_t OsMultiByteToUtf16(const char* text, size_t length, char16_t* out, size_t capacity);

// ---- windows and message boxes ----
constexpr uint32_t OS_WM_APP = 0x8000;
enum : uint32_t {
    OS_MB_OK = 0x0,
    OS_MB_OKCANCEL = 0x1,
    OS_MB_ICONERROR = 0x10,
    OS_MB_ICONWARNING = 0x30,
    OS_MB_ICONINFORMATION = 0x40,
    OS_MB_SETFOREGROUND = 0x10000,
};
bool OsIsWindow(OsWindow window);
bool OsPostMessage(OsWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam);
OsWindow OsGetActiveWindow();

// Every message box of the system goes through this function. Tests replace
// the shower (a blocked box would hang a headless run).
typedef int (*OsMessageBoxShower)(OsWindow owner, const char* text, const char* caption, uint32_t style);
int OsShowMessageBox(OsWindow owner, const char* text, const char* caption, uint32_t style);
OsMessageBoxShower OsSetMessageBoxShower(OsMessageBoxShower shower);

#ifndef _WIN32
// Native stand-in for a window: a queue of posted messages, read by tests.
struct OsPostedMessage {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};
OsWindow OsCreateMessageWindow();
void OsDestroyMessageWindow(OsWindow window);
bool OsPeekPostedMessage(OsWindow window, OsPostedMessage* message);
#endif

// ---- module ----
// The product version of the module holding this code: from its version
// resource on Windows; compiled in natively. False when it cannot be read.
bool OsGetModuleProductVersion(uint16_t parts[4], std::string* failure);

// ---- memory ----
// The blocks behind tracked buffers. What kind of block one is follows from
// its size, so the caller gives the size it last asked for when it resizes
// or frees it (and must not free it any other way). Null on failure, the old
// block untouched.
//
// Windows: blocks of 1 MiB and more live in address space of their own,
// reserved well beyond their size and committed as they grow, so that a
// growing block is never copied (the heap would copy it, and under some
// runtimes with a byte-by-byte memcpy). Natively they are the C library's:
// glibc moves large blocks by remapping their pages.
void* OsAllocate(size_t size);
void* OsReallocate(void* old, size_t oldSize, size_t newSize);  // keeps min(oldSize, newSize) bytes
void OsFree(void* block, size_t size);
// Bytes this process can still allocate, as far as the system tells: the
// smaller of the memory available (physical, not counting what can be freed
// from the file cache) and what an address-space limit leaves. UINT64_MAX
// when nothing can be read.
uint64_t OsAvailableMemory();
// Natively, asks for huge pages under a picture-sized block (8 MiB and more)
// that was allocated elsewhere; OsAllocate does it for its own. Windows: nothing.
void OsAdviseLargeBlock(void* block, size_t size);

