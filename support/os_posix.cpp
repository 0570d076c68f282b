// POSIX implementation of the operating-system layer.
//
// Kernel objects are emulated with one process-wide lock and condition
// variable: every signal wakes every waiter, which re-tests its objects. That
// keeps multi-object waits (any or all, with mutex ownership and auto-reset
// events taken atomically) simple and correct; the plug-in waits on a handful
// of objects at a time, so the broadcast costs nothing that matters.
#ifndef _WIN32

#include "support/os.h"
#include "support/run_result.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>

#ifndef RAYLUME_VERSION_MAJOR
#define RAYLUME_VERSION_MAJOR 2
#define RAYLUME_VERSION_MINOR 0
#define RAYLUME_VERSION_REVISION 0
#define RAYLUME_VERSION_BUILD 0
#endif

namespace {

enum ObjectType { OBJECT_EVENT, OBJECT_MUTEX, OBJECT_THREAD };

struct QueuedCall {
    OsQueuedCall call;
    uintptr_t parameter;
};

}  // namespace

struct OsObject {
    explicit OsObject(ObjectType t) : type(t) {}
    ObjectType type;
    int references = 1;
    // event
    bool manualReset = false;
    bool signalled = false;
    // mutex
    OsObject* owner = nullptr;  // owning thread object
    uint32_t recursion = 0;
    // thread
    bool ended = false;
    uint32_t exitCode = OS_STILL_ACTIVE;
    uint32_t threadId = 0;
    std::deque<QueuedCall> queued;
    OsThreadProc proc = nullptr;
    void* argument = nullptr;
};

namespace {

// The lock and the signal live as long as the process: a thread still ending
// while the process exits may yet take the lock and broadcast, so they are
// never destroyed by static destructors.
std::mutex& KernelLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}
std::condition_variable& KernelSignal() {
    static std::condition_variable* signal = new std::condition_variable;
    return *signal;
}

thread_local uint32_t tLastError = 0;
thread_local OsObject* tCurrentThread = nullptr;

// A new object, or null when memory ran out (its queue allocates too): like
// the system's, a handle that cannot be made is null, never an exception.
OsObject* NewObject(ObjectType type) noexcept {
    try {
        return new OsObject(type);
    } catch (...) {
        tLastError = OS_ERROR_NOT_ENOUGH_MEMORY;
        NoteMemoryShortage();
        return nullptr;
    }
}


uint32_t ErrnoToSystemError(int e) {
    switch (e) {
        case 0: return OS_ERROR_SUCCESS;
        case ENOENT: return OS_ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return OS_ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS: return OS_ERROR_ACCESS_DENIED;
        case EBADF: return OS_ERROR_INVALID_HANDLE;
        case ENOMEM: return OS_ERROR_NOT_ENOUGH_MEMORY;
        case EEXIST: return OS_ERROR_ALREADY_EXISTS;
        case EINVAL: return OS_ERROR_INVALID_PARAMETER;
        case ENAMETOOLONG: return OS_ERROR_FILENAME_EXCED_RANGE;
        default: return 0x20000000u | static_cast<uint32_t>(e);  // customer bit: a raw errno
    }
}

void Release(OsObject* object) {
    // Caller holds the kernel lock.
    if (--object->references == 0) delete object;
}

// Thread object of the calling thread, made on first use for threads this
// layer did not start (the main thread, a test's thread).
OsObject* CurrentThreadObject() {
    if (!tCurrentThread) {
        auto* object = new OsObject(OBJECT_THREAD);
        object->threadId = OsGetCurrentThreadId();
        std::lock_guard<std::mutex> guard(KernelLock());
        tCurrentThread = object;  // kept for the thread's life
    }
    return tCurrentThread;
}

bool IsReady(OsObject* object, OsObject* self) {
    switch (object->type) {
        case OBJECT_EVENT: return object->signalled;
        case OBJECT_MUTEX: return object->owner == nullptr || object->owner == self || object->owner->ended;
        case OBJECT_THREAD: return object->ended;
    }
    return false;
}

// Takes a ready object; true when a mutex was abandoned.
bool Acquire(OsObject* object, OsObject* self) {
    if (object->type == OBJECT_EVENT) {
        if (!object->manualReset) object->signalled = false;
    } else if (object->type == OBJECT_MUTEX) {
        bool abandoned = object->owner && object->owner != self && object->owner->ended;
        if (abandoned || object->owner == nullptr) {
            if (object->owner) Release(object->owner);
            object->owner = self;
            self->references++;
            object->recursion = 1;
        } else {
            object->recursion++;
        }
        return abandoned;
    }
    return false;
}

bool RunQueuedCalls(OsObject* self, std::unique_lock<std::mutex>& lock) {
    if (self->queued.empty()) return false;
    while (!self->queued.empty()) {
        QueuedCall call = self->queued.front();
        self->queued.pop_front();
        lock.unlock();
        call.call(call.parameter);
        lock.lock();
    }
    return true;
}

void* ThreadStart(void* raw) {
    auto* object = static_cast<OsObject*>(raw);
    tCurrentThread = object;
    {
        std::lock_guard<std::mutex> guard(KernelLock());
        object->threadId = OsGetCurrentThreadId();
    }
    uint32_t code = OsRunThreadBody(object->proc, object->argument);
    {
        std::lock_guard<std::mutex> guard(KernelLock());
        if (!object->ended) {
            object->exitCode = code;
            object->ended = true;
        }
        tCurrentThread = nullptr;
        Release(object);  // the thread's own reference
    }
    KernelSignal().notify_all();
    return nullptr;
}

}  // namespace

uint32_t OsGetLastError() { return tLastError; }
void OsSetLastError(uint32_t code) { tLastError = code; }

bool OsFormatSystemMessage(uint32_t code, char* buffer, size_t size) {
    if (!buffer || size == 0) return false;
    static const struct { uint32_t code; const char* text; } kTexts[] = {
        {OS_ERROR_SUCCESS, "The operation completed successfully."},
        {OS_ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
        {OS_ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
        {OS_ERROR_ACCESS_DENIED, "Access is denied."},
        {OS_ERROR_INVALID_HANDLE, "The handle is invalid."},
        {OS_ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
        {OS_ERROR_FILE_EXISTS, "The file exists."},
        {OS_ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
        {OS_ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
        {OS_ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long."},
    };
    for (const auto& entry : kTexts) {
        if (entry.code == code) {
            std::snprintf(buffer, size, "%s", entry.text);
            return true;
        }
    }
    if (code & 0x20000000u) {
        // The GNU strerror_r returns its text rather than filling the buffer.
        const char* text = strerror_r(static_cast<int>(code & 0xFFFFu), buffer, size);
        if (text != buffer) std::snprintf(buffer, size, "%s", text ? text : "");
        return true;
    }
    return false;
}

OsHandle OsCreateEvent(bool manualReset, bool initialState) {
    auto* object = NewObject(OBJECT_EVENT);
    if (!object) return nullptr;
    object->manualReset = manualReset;
    object->signalled = initialState;
    return object;
}

bool OsSetEvent(OsHandle event) {
    if (!event || event->type != OBJECT_EVENT) {
        tLastError = OS_ERROR_INVALID_HANDLE;
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(KernelLock());
        event->signalled = true;
    }
    KernelSignal().notify_all();
    return true;
}

bool OsResetEvent(OsHandle event) {
    if (!event || event->type != OBJECT_EVENT) {
        tLastError = OS_ERROR_INVALID_HANDLE;
        return false;
    }
    std::lock_guard<std::mutex> guard(KernelLock());
    event->signalled = false;
    return true;
}

OsHandle OsCreateMutex(bool initialOwner) {
    auto* object = NewObject(OBJECT_MUTEX);
    if (!object) return nullptr;
    if (initialOwner) {
        OsObject* self = CurrentThreadObject();
        std::lock_guard<std::mutex> guard(KernelLock());
        object->owner = self;
        self->references++;
        object->recursion = 1;
    }
    return object;
}

bool OsReleaseMutex(OsHandle mutex) {
    OsObject* self = CurrentThreadObject();
    {
        std::lock_guard<std::mutex> guard(KernelLock());
        if (!mutex || mutex->type != OBJECT_MUTEX || mutex->owner != self) {
            tLastError = 288;  // ERROR_NOT_OWNER
            return false;
        }
        if (--mutex->recursion == 0) {
            mutex->owner = nullptr;
            Release(self);
        }
    }
    KernelSignal().notify_all();
    return true;
}

uint32_t OsWaitForMultipleObjects(uint32_t count, const OsHandle* objects, bool waitAll, uint32_t milliseconds,
                                  bool alertable) {
    if (count == 0 || count > OS_MAXIMUM_WAIT_OBJECTS || !objects) {
        tLastError = OS_ERROR_INVALID_PARAMETER;
        return OS_WAIT_FAILED;
    }
    for (uint32_t i = 0; i < count; i++) {
        if (!objects[i]) {
            tLastError = OS_ERROR_INVALID_HANDLE;
            return OS_WAIT_FAILED;
        }
    }
    OsObject* self = CurrentThreadObject();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock<std::mutex> lock(KernelLock());
    for (;;) {
        if (alertable && RunQueuedCalls(self, lock)) return OS_WAIT_IO_COMPLETION;
        if (waitAll) {
            bool all = true;
            for (uint32_t i = 0; i < count && all; i++) all = IsReady(objects[i], self);
            if (all) {
                bool abandoned = false;
                for (uint32_t i = 0; i < count; i++) abandoned |= Acquire(objects[i], self);
                return abandoned ? OS_WAIT_ABANDONED_0 : OS_WAIT_OBJECT_0;
            }
        } else {
            for (uint32_t i = 0; i < count; i++) {
                if (IsReady(objects[i], self)) {
                    bool abandoned = Acquire(objects[i], self);
                    return (abandoned ? OS_WAIT_ABANDONED_0 : OS_WAIT_OBJECT_0) + i;
                }
            }
        }
        if (milliseconds == 0) return OS_WAIT_TIMEOUT;
        if (milliseconds == OS_INFINITE) {
            KernelSignal().wait(lock);
        } else if (KernelSignal().wait_until(lock, deadline) == std::cv_status::timeout &&
                   std::chrono::steady_clock::now() >= deadline) {
            // one last look before giving up
            milliseconds = 0;
        }
    }
}

uint32_t OsWaitForSingleObject(OsHandle object, uint32_t milliseconds, bool alertable) {
    return OsWaitForMultipleObjects(1, &object, false, milliseconds, alertable);
}

bool OsCloseHandle(OsHandle object) {
    if (!object) {
        tLastError = OS_ERROR_INVALID_HANDLE;
        return false;
    }
    std::lock_guard<std::mutex> guard(KernelLock());
    Release(object);
    return true;
}

OsHandle OsCreateThread(OsThreadProc proc, void* argument, size_t stackSize, uint32_t* threadId) {
    // Like the system's, a thread that cannot be made is a null handle, not
    // an exception: callers may already have other threads running.
    auto* object = NewObject(OBJECT_THREAD);
    if (!object) {
        errno = ENOMEM;
        return nullptr;
    }
    object->references = 2;  // the handle and the running thread
    object->proc = proc;
    object->argument = argument;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    if (stackSize) pthread_attr_setstacksize(&attributes, std::max<size_t>(stackSize, PTHREAD_STACK_MIN));
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int failure = pthread_create(&thread, &attributes, ThreadStart, object);
    pthread_attr_destroy(&attributes);
    if (failure) {
        delete object;
        errno = failure;
        tLastError = ErrnoToSystemError(failure);
        return nullptr;
    }
    if (threadId) {
        // The id is known once the thread runs; wait for it briefly.
        std::unique_lock<std::mutex> lock(KernelLock());
        while (object->threadId == 0 && !object->ended) {
            lock.unlock();
            sched_yield();
            lock.lock();
        }
        *threadId = object->threadId;
    }
    return object;
}

bool OsGetExitCodeThread(OsHandle thread, uint32_t* exitCode) {
    if (!thread || thread->type != OBJECT_THREAD || !exitCode) {
        tLastError = OS_ERROR_INVALID_HANDLE;
        return false;
    }
    std::lock_guard<std::mutex> guard(KernelLock());
    *exitCode = thread->ended ? thread->exitCode : OS_STILL_ACTIVE;
    return true;
}

bool OsTerminateThread(OsHandle thread, uint32_t exitCode) {
    if (!thread || thread->type != OBJECT_THREAD) {
        tLastError = OS_ERROR_INVALID_HANDLE;
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(KernelLock());
        if (!thread->ended) {
            thread->exitCode = exitCode;
            thread->ended = true;
        }
    }
    KernelSignal().notify_all();
    return true;
}

OsHandle OsOpenCurrentThread() {
    OsObject* self = CurrentThreadObject();
    std::lock_guard<std::mutex> guard(KernelLock());
    self->references++;
    return self;
}

bool OsQueueUserCall(OsQueuedCall call, OsHandle thread, uintptr_t parameter) {
    if (!call || !thread || thread->type != OBJECT_THREAD) {
        tLastError = OS_ERROR_INVALID_HANDLE;
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(KernelLock());
        if (thread->ended) {
            tLastError = OS_ERROR_INVALID_HANDLE;
            return false;
        }
        try {
            thread->queued.push_back({call, parameter});
        } catch (...) {
            tLastError = OS_ERROR_NOT_ENOUGH_MEMORY;
            NoteMemoryShortage();
            return false;
        }
    }
    KernelSignal().notify_all();
    return true;
}

uint32_t OsSleepEx(uint32_t milliseconds, bool alertable) {
    OsObject* self = CurrentThreadObject();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock<std::mutex> lock(KernelLock());
    for (;;) {
        if (alertable && RunQueuedCalls(self, lock)) return OS_WAIT_IO_COMPLETION;
        if (std::chrono::steady_clock::now() >= deadline) return 0;
        if (alertable) {
            KernelSignal().wait_until(lock, deadline);
        } else {
            lock.unlock();
            struct timespec ts{static_cast<time_t>(milliseconds / 1000),
                               static_cast<long>(milliseconds % 1000) * 1000000L};
            nanosleep(&ts, nullptr);
            return 0;
        }
    }
}

uint32_t OsGetCurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }
uint32_t OsGetCurrentProcessId() { return static_cast<uint32_t>(getpid()); }

uint32_t OsGetTickCount() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

bool OsInitializeCriticalSection(OsCriticalSection* section, uint32_t) {
    if (!section) return false;
    section->impl = new (std::nothrow) std::recursive_mutex;
    if (!section->impl) tLastError = OS_ERROR_NOT_ENOUGH_MEMORY;
    return section->impl != nullptr;
}
void OsEnterCriticalSection(OsCriticalSection* section) { static_cast<std::recursive_mutex*>(section->impl)->lock(); }
void OsLeaveCriticalSection(OsCriticalSection* section) { static_cast<std::recursive_mutex*>(section->impl)->unlock(); }
void OsDeleteCriticalSection(OsCriticalSection* section) {
    delete static_cast<std::recursive_mutex*>(section->impl);
    section->impl = nullptr;
}

// ---- files ----

struct OsFileRec {
    int fd;
};

namespace {
struct OverlappedState {
    bool pending;
    bool ok;
    uint32_t written;
    uint32_t error;
};
static_assert(sizeof(OverlappedState) <= sizeof(OsOverlapped::storage), "overlapped storage");
}  // namespace

std::string OsJoinPath(const std::string& folder, const std::string& name) {
    return folder + OS_PATH_SEPARATOR + name;
}

OsFile OsCreateFileForWriting(const std::string& path, bool) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        tLastError = ErrnoToSystemError(errno);
        return nullptr;
    }
    return new OsFileRec{fd};
}

bool OsWriteFile(OsFile file, const void* data, uint32_t size, uint32_t* written) {
    if (!file) {
        tLastError = OS_ERROR_INVALID_HANDLE;
        return false;
    }
    const char* bytes = static_cast<const char*>(data);
    uint32_t done = 0;
    while (done < size) {
        ssize_t n = write(file->fd, bytes + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            tLastError = ErrnoToSystemError(errno);
            if (written) *written = done;
            return false;
        }
        done += static_cast<uint32_t>(n);
    }
    if (written) *written = done;
    return true;
}

// Natively the write happens at once and its completion is signalled at once;
// the caller still collects it as it would an overlapped write.
bool OsWriteFileOverlapped(OsFile file, const void* data, uint32_t size, uint64_t offset, OsHandle event,
                           OsOverlapped* overlapped) {
    if (!file || !overlapped) {
        tLastError = OS_ERROR_INVALID_HANDLE;
        return false;
    }
    auto* state = reinterpret_cast<OverlappedState*>(overlapped->storage);
    *state = OverlappedState{true, true, 0, 0};
    const char* bytes = static_cast<const char*>(data);
    while (state->written < size) {
        ssize_t n = pwrite(file->fd, bytes + state->written, size - state->written,
                           static_cast<off_t>(offset + state->written));
        if (n < 0) {
            if (errno == EINTR) continue;
            state->ok = false;
            state->error = ErrnoToSystemError(errno);
            break;
        }
        state->written += static_cast<uint32_t>(n);
    }
    if (event) OsSetEvent(event);
    return true;
}

bool OsGetOverlappedResult(OsFile, OsOverlapped* overlapped, uint32_t* written, bool) {
    auto* state = reinterpret_cast<OverlappedState*>(overlapped->storage);
    if (written) *written = state->written;
    state->pending = false;
    if (!state->ok) tLastError = state->error;
    return state->ok;
}

bool OsFlushFileBuffers(OsFile file) {
    if (!file) {
        tLastError = OS_ERROR_INVALID_HANDLE;
        return false;
    }
    if (fsync(file->fd) != 0 && errno != EINVAL) {
        tLastError = ErrnoToSystemError(errno);
        return false;
    }
    return true;
}

bool OsCloseFile(OsFile file) {
    if (!file) {
        tLastError = OS_ERROR_INVALID_HANDLE;
        return false;
    }
    bool ok = close(file->fd) == 0;
    delete file;
    return ok;
}

bool OsFindFiles(const std::string& folder, const std::string& pattern, std::vector<std::string>& names) {
    names.clear();
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        tLastError = ErrnoToSystemError(errno);
        return false;
    }
    while (struct dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        if (fnmatch(pattern.c_str(), entry->d_name, 0) == 0) names.emplace_back(entry->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return true;
}

bool OsFileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool OsReplaceFile(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        tLastError = ErrnoToSystemError(errno);
        return false;
    }
    return true;
}

bool OsFolderExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ---- folders ----

namespace {
bool EnsureFolder(const std::string& path, uint32_t* result) {
    uint32_t r = OsCreateDirectoryTree(path);
    if (r == 0 || r == OS_ERROR_ALREADY_EXISTS) return true;
    if (result) *result = r;
    return false;
}
}  // namespace

bool OsGetUserDataRoot(std::string& path, uint32_t* result) {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') {
        path = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !home[0]) {
            if (result) *result = OS_ERROR_PATH_NOT_FOUND;
            tLastError = OS_ERROR_PATH_NOT_FOUND;
            path.clear();
            return false;
        }
        path = std::string(home) + "/.local/share";
    }
    if (!EnsureFolder(path, result)) {
        path.clear();
        return false;
    }
    return true;
}

// The all-users data root: RAYLUME_COMMON_DATA_HOME when set, else /var/lib
// when this user may write there, else the per-user root.
bool OsGetCommonDataRoot(std::string& path, uint32_t* result) {
    const char* common = std::getenv("RAYLUME_COMMON_DATA_HOME");
    if (common && common[0] == '/') {
        path = common;
        if (!EnsureFolder(path, result)) {
            path.clear();
            return false;
        }
        return true;
    }
    if (access("/var/lib", W_OK) == 0) {
        path = "/var/lib";
        return true;
    }
    return OsGetUserDataRoot(path, result);
}

uint32_t OsCreateDirectoryTree(const std::string& path) {
    if (path.empty()) return OS_ERROR_BAD_PATHNAME;
    if (path.size() >= 1000) return OS_ERROR_FILENAME_EXCED_RANGE;
    struct stat st;
    if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? OS_ERROR_ALREADY_EXISTS : OS_ERROR_FILE_EXISTS;
    for (size_t i = 1; i <= path.size(); i++) {
        if (i == path.size() || path[i] == '/') {
            std::string part = path.substr(0, i);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
                uint32_t e = ErrnoToSystemError(errno);
                tLastError = e;
                return e;
            }
        }
    }
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return OS_ERROR_PATH_NOT_FOUND;
    return 0;
}

// ---- text ----

size_t OsMultiByteToUtf16(const char* text, size_t length, char16_t* out, size_t capacity) {
    size_t n = 0;
    auto put = [&](char16_t unit) {
        if (n < capacity) out[n++] = unit;
    };
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < length) {
        uint32_t c = s[i];
        int extra = 0;
        if (c < 0x80) {
            extra = 0;
        } else if ((c & 0xE0) == 0xC0) {
            c &= 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            c &= 0x0F;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            c &= 0x07;
            extra = 3;
        } else {
            put(0xFFFD);
            i++;
            continue;
        }
        bool valid = true;
        for (int k = 1; k <= extra; k++) {
            if (i + k >= length || (s[i + k] & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            c = (c << 6) | (s[i + k] & 0x3F);
        }
        if (!valid) {
            put(0xFFFD);
            i++;
            continue;
        }
        i += extra + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            put(static_cast<char16_t>(0xD800 + (c >> 10)));
            put(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            put(static_cast<char16_t>(c));
        }
    }
    return n;
}

std::u16string OsMultiByteToUtf16(const char* text, size_t length) {
    std::u16string out(length, u'\0');
    out.resize(OsMultiByteToUtf16(text, length, &out[0], length));
    return out;
}

// ---- windows and message boxes ----

struct OsWindowRec {
    std::deque<OsPostedMessage> messages;
};

namespace {
std::mutex& WindowLock() {
    static std::mutex lock;
    return lock;
}
std::set<OsWindow>& Windows() {
    static std::set<OsWindow> windows;
    return windows;
}

int DefaultMessageBox(OsWindow, const char* text, const char* caption, uint32_t) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    return 1;  // IDOK
}
OsMessageBoxShower gMessageBoxShower = DefaultMessageBox;
}  // namespace

OsWindow OsCreateMessageWindow() {
    auto* window = new OsWindowRec;
    std::lock_guard<std::mutex> guard(WindowLock());
    Windows().insert(window);
    return window;
}

void OsDestroyMessageWindow(OsWindow window) {
    std::lock_guard<std::mutex> guard(WindowLock());
    if (Windows().erase(window)) delete window;
}

bool OsIsWindow(OsWindow window) {
    std::lock_guard<std::mutex> guard(WindowLock());
    return window && Windows().count(window) != 0;
}

bool OsPostMessage(OsWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    std::lock_guard<std::mutex> guard(WindowLock());
    if (!window || !Windows().count(window)) {
        tLastError = 1400;  // ERROR_INVALID_WINDOW_HANDLE
        return false;
    }
    window->messages.push_back({message, wParam, lParam});
    return true;
}

bool OsPeekPostedMessage(OsWindow window, OsPostedMessage* message) {
    std::lock_guard<std::mutex> guard(WindowLock());
    if (!window || !Windows().count(window) || window->messages.empty()) return false;
    *message = window->messages.front();
    window->messages.pop_front();
    return true;
}

OsWindow OsGetActiveWindow() { return nullptr; }

int OsShowMessageBox(OsWindow owner, const char* text, const char* caption, uint32_t style) {
    return gMessageBoxShower(owner, text, caption, style);
}

OsMessageBoxShower OsSetMessageBoxShower(OsMessageBoxShower shower) {
    OsMessageBoxShower previous = gMessageBoxShower;
    gMessageBoxShower = shower ? shower : DefaultMessageBox;
    return previous;
}

bool OsGetModuleProductVersion(uint16_t parts[4], std::string*) {
    parts[0] = RAYLUME_VERSION_MAJOR;
    parts[1] = RAYLUME_VERSION_MINOR;
    parts[2] = RAYLUME_VERSION_REVISION;
    parts[3] = RAYLUME_VERSION_BUILD;
    return true;
}

#endif  // !_WIN32

// glibc moves large blocks by remapping their pages: no copy at all.
namespace {

// A picture-sized block is touched page by page once it is filled: asking
// for huge pages makes that a few hundred faults instead of tens of
// thousands (a tenth of a run's time in a virtual machine). Only the
// whole pages inside the block are advised; the kernel may ignore it.
void AdviseHugePagesUnder(void* block, size_t size) {
    constexpr size_t LARGE_BLOCK = 8u << 20;
    if (!block || size < LARGE_BLOCK) return;
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t start = (reinterpret_cast<uintptr_t>(block) + page - 1) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size) & ~(page - 1);
    if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

}  // namespace

uint64_t OsAvailableMemory() {
    uint64_t available = UINT64_MAX;
    if (FILE* meminfo = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        unsigned long long kib = 0;
        while (std::fgets(line, sizeof line, meminfo))
            if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) available = static_cast<uint64_t>(kib) << 10;
        std::fclose(meminfo);
    }
    struct rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        // What the address space holds now counts against the limit.
        uint64_t used = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            unsigned long long pages = 0;
            if (std::fscanf(statm, "%llu", &pages) == 1) used = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
            std::fclose(statm);
        }
        const uint64_t cap = static_cast<uint64_t>(limit.rlim_cur);
        const uint64_t left = cap > used ? cap - used : 0;
        if (left < available) available = left;
    }
    return available;
}

void OsAdviseLargeBlock(void* block, size_t size) { AdviseHugePagesUnder(block, size); }

void* OsAllocate(size_t size) {
    void* block = std::malloc(size ? size : 1);
    AdviseHugePagesUnder(block, size);
    return block;
}
void* OsReallocate(void* old, size_t, size_t newSize) {
    void* block = std::realloc(old, newSize ? newSize : 1);
    AdviseHugePagesUnder(block, newSize);
    return block;
}
void OsFree(void* block, size_t) { std::free(block); }

