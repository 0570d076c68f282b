// The debug log: report formatting, the entry queue, the three writing modes,
// the logging thread, rotation of old logs and User Message boxes.
#include "support/debug_log.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>


namespace {

const char kLogBaseName[] = "RaylumePro2";
const char kLogExtension[] = "log";
constexpr uint32_t kLogThreadExitTimeout = 10000;
constexpr uint32_t kTerminatedExitCode = 0xC000013A;
constexpr size_t kMaxKeptGenerations = 10;

struct LoggingThreadArguments {
    OsHandle terminationEvent;
    OsHandle ioStartEvent;
    OsFile file;
};

struct LoggingState {
    bool queueOpen = false;
    uint32_t mode = LOGGING_NONE;
    OsFile file = nullptr;
    OsHandle thread = nullptr;
    LoggingThreadArguments* threadArguments = nullptr;
    OsWindow messageOwner = nullptr;
    OsWindow hostWindow = nullptr;
    uint32_t uiThread = 0;
    bool installation = false;
    std::string programName;
    OsCriticalSection queueSection;
    LogEntry* head = nullptr;
    LogEntry* tail = nullptr;
    size_t count = 0;
    uint16_t versionParts[4] = {0, 0, 0, 0};
};

LoggingState gLog;
DebugReportObserver gReportObserver = nullptr;

// ---- entries ----

LogEntry* NewLogEntry(uint32_t category, const std::u16string& text) {
    size_t bytes = text.size() * sizeof(char16_t);
    auto* entry = static_cast<LogEntry*>(std::malloc(sizeof(LogEntry) + bytes + 20));
    if (!entry) return nullptr;
    entry->byteLength = bytes;
    entry->category = category;
    entry->next = nullptr;
    if (bytes) std::memcpy(entry->text, text.data(), bytes);
    entry->text[text.size()] = 0;
    return entry;
}

// An entry for narrow text, converted straight into the entry: the entry's
// own block is the only memory a log line takes. A line break is added when
// `newline` is set and the text has none.
LogEntry* NewLogEntryFromText(uint32_t category, const char* text, size_t length, bool newline) {
    auto* entry = static_cast<LogEntry*>(std::malloc(sizeof(LogEntry) + (length + 1) * sizeof(char16_t) + 20));
    if (!entry) return nullptr;
    size_t units = OsMultiByteToUtf16(text, length, entry->text, length);
    if (newline && (units == 0 || entry->text[units - 1] != u'\n')) entry->text[units++] = u'\n';
    entry->text[units] = 0;
    entry->byteLength = units * sizeof(char16_t);
    entry->category = category;
    entry->next = nullptr;
    return entry;
}

LogEntry* NewLogEntryFromText(uint32_t category, const std::string& text) {
    return NewLogEntryFromText(category, text.data(), text.size(), false);
}

void FreeLogEntry(LogEntry* entry) { std::free(entry); }

// Queue operations; the caller holds LogQueueSection.
void AppendEntry(LogEntry* entry) {
    entry->next = nullptr;
    if (gLog.tail)
        gLog.tail->next = entry;
    else
        gLog.head = entry;
    gLog.tail = entry;
    gLog.count++;
}

void PrependEntry(LogEntry* entry) {
    entry->next = gLog.head;
    gLog.head = entry;
    if (!gLog.tail) gLog.tail = entry;
    gLog.count++;
}

LogEntry* TakeHeadEntry() {
    LogEntry* entry = gLog.head;
    if (!entry) return nullptr;
    gLog.head = entry->next;
    if (!gLog.head) gLog.tail = nullptr;
    gLog.count--;
    entry->next = nullptr;
    return entry;
}

void WriteOutQueue() {
    while (LogEntry* entry = TakeHeadEntry()) {
        if (gLog.file) {
            uint32_t written = 0;
            OsWriteFile(gLog.file, entry->text, static_cast<uint32_t>(entry->byteLength), &written);
        }
        FreeLogEntry(entry);
    }
    if (gLog.file) OsFlushFileBuffers(gLog.file);
}

void DropQueue() {
    while (LogEntry* entry = TakeHeadEntry()) FreeLogEntry(entry);
}

// ---- text helpers ----

std::string VFormat(const char* format, va_list args) {
    char stackBuffer[2048];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(stackBuffer, sizeof(stackBuffer), format ? format : "", copy);
    va_end(copy);
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < sizeof(stackBuffer)) return std::string(stackBuffer, static_cast<size_t>(n));
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(n));
    return text;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = VFormat(format, args);
    va_end(args);
    return text;
}

void CutAtLineBreak(char* text) {
    if (text[0]) text[1 + std::strcspn(text + 1, "\r\n")] = 0;
}

bool LocalTime(struct tm* out) {
    time_t now = time(nullptr);
#ifdef _WIN32
    return localtime_s(out, &now) == 0;
#else
    return localtime_r(&now, out) != nullptr;
#endif
}

std::string FormatTime(const char* pattern) {
    struct tm local;
    if (!LocalTime(&local)) return std::string();
    char buffer[256];
    size_t n = std::strftime(buffer, sizeof(buffer), pattern, &local);
    return std::string(buffer, n);
}

// ---- User Message boxes ----

struct PostedMessageHeader {
    uint64_t kindAndIcon;  // kind in the low 32 bits, icon bits in the high 32
    void* self;
};

// User Messages raised on a worker thread while no dialog can take them
// (a run without its dialog): kept, once each, until the user-interface
// thread shows them. Fixed storage: the low-memory warning is among them.
struct DeferredMessage {
    char caption[96];
    char text[320];
    uint32_t style;
};
constexpr int kDeferredMessages = 4;
DeferredMessage gDeferred[kDeferredMessages];
int gDeferredCount = 0;
std::atomic_flag gDeferredLock = ATOMIC_FLAG_INIT;

void LockDeferred() {
    while (gDeferredLock.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
}
void UnlockDeferred() { gDeferredLock.clear(std::memory_order_release); }

void DeferUserMessage(const char* caption, const char* text, uint32_t style) {
    LockDeferred();
    bool known = false;
    for (int i = 0; i < gDeferredCount && !known; i++)
        known = std::strncmp(gDeferred[i].text, text, sizeof gDeferred[i].text - 1) == 0 &&
                std::strncmp(gDeferred[i].caption, caption, sizeof gDeferred[i].caption - 1) == 0;
    if (!known && gDeferredCount < kDeferredMessages) {
        DeferredMessage& m = gDeferred[gDeferredCount++];
        std::snprintf(m.caption, sizeof m.caption, "%s", caption);
        std::snprintf(m.text, sizeof m.text, "%s", text);
        m.style = style;
    }
    UnlockDeferred();
}

void ShowOrPostUserMessage(const char* caption, const char* text, uint32_t style) {
    OsWindow owner = gLog.messageOwner;
    if (OsGetCurrentThreadId() == gLog.uiThread && OsIsWindow(owner)) {
        OsShowMessageBox(owner, text, caption, style | OS_MB_SETFOREGROUND);
        return;
    }
    if (!owner || owner == gLog.hostWindow) {
        // No dialog to post to: the user-interface thread shows it later.
        if (OsGetCurrentThreadId() != gLog.uiThread) DeferUserMessage(caption, text, style);
        return;
    }
    size_t captionLength = std::strlen(caption) + 1;
    size_t textLength = std::strlen(text) + 1;
    auto* block = static_cast<uint8_t*>(std::malloc(sizeof(PostedMessageHeader) + captionLength + textLength));
    if (!block) return;
    auto* header = reinterpret_cast<PostedMessageHeader*>(block);
    header->kindAndIcon = static_cast<uint64_t>(USER_MESSAGE) | (static_cast<uint64_t>(style & 0xF0u) << 32);
    header->self = block;
    std::memcpy(block + sizeof(PostedMessageHeader), caption, captionLength);
    std::memcpy(block + sizeof(PostedMessageHeader) + captionLength, text, textLength);
    if (!OsPostMessage(owner, WM_POSTED_USER_MESSAGE, reinterpret_cast<uintptr_t>(block), 0)) std::free(block);
}

// One report: format its line, queue it, and for User Messages show the box.
// Built in fixed buffers: the only memory it takes is the queue entry's
// block (and a posted box's), and without it the line is dropped, so a
// report made because memory ran out cannot fail or throw itself.
void EmitReport(uint32_t kind, uint32_t line, uint32_t code, uint32_t style, const char* caption, const char* format,
                va_list args, bool openGLEvent) noexcept {
    if (kind > TRACE_MESSAGE || (kind == OPENGL_ERROR && !openGLEvent)) return;
    int savedErrno = errno;
    uint32_t savedError = OsGetLastError();
    char text[2048];
    if (std::vsnprintf(text, sizeof text, format ? format : "", args) < 0) text[0] = 0;
    ShortText errorText = {""};
    if (kind == SYSTEM_ERROR)
        errorText = SystemErrorText(code);
    else if (kind == CRT_LIBRARY_ERROR)
        errorText = RunTimeErrorText(static_cast<int>(code));
    else if (kind == OPENGL_ERROR)
        errorText = OpenGLErrorText(code);
    char timeText[16] = "";
    struct tm local;
    if (LocalTime(&local)) std::strftime(timeText, sizeof timeText, "%H:%M:%S", &local);
    char lineText[2600];
    if (FormatDebugEventLine(kind, line, caption, text, errorText.text, timeText, OsGetCurrentThreadId(), lineText,
                             sizeof lineText)) {
        try {
            if (gReportObserver) gReportObserver(kind, lineText);
        } catch (...) {
            // an observer (a test's) that could not keep the line
        }
        if (LogEntry* entry = NewLogEntryFromText(kind == EVENT_MONITOR ? 0 : 2, lineText, std::strlen(lineText), true))
            LogEntryEvent(entry);
    }
    if (kind == USER_MESSAGE) ShowOrPostUserMessage(caption ? caption : "", text, style);
    errno = savedErrno;
    OsSetLastError(savedError);
}

// ---- the logging thread ----

uint32_t LoggingThread(void* raw) {
    auto* arguments = static_cast<LoggingThreadArguments*>(raw);
    OsHandle ioEvent = OsCreateEvent(true, false);
    if (!ioEvent) return 1;
    OsHandle events[3] = {arguments->terminationEvent, ioEvent, arguments->ioStartEvent};
    uint64_t offset = 0;
    bool shutdown = false;
    LogEntry* inFlight = nullptr;
    OsOverlapped overlapped;
    for (;;) {
        uint32_t result = OsWaitForMultipleObjects(3, events, false, OS_INFINITE, true);
        if (result == OS_WAIT_OBJECT_0) {
            OsResetEvent(arguments->terminationEvent);
            shutdown = true;
            // A drained queue with nothing in flight leaves at once.
            OsSetEvent(arguments->ioStartEvent);
        } else if (result == OS_WAIT_OBJECT_0 + 1) {
            uint32_t written = 0;
            if (OsGetOverlappedResult(arguments->file, &overlapped, &written, true)) offset += written;
            FreeLogEntry(inFlight);
            inFlight = nullptr;
            OsSetEvent(arguments->ioStartEvent);
            OsResetEvent(ioEvent);
        } else if (result == OS_WAIT_OBJECT_0 + 2) {
            if (inFlight) continue;
            LogEntry* entry = nullptr;
            if (OsCriticalSectionValid(&gLog.queueSection)) {
                OsEnterCriticalSection(&gLog.queueSection);
                entry = TakeHeadEntry();
                OsLeaveCriticalSection(&gLog.queueSection);
            }
            if (entry) {
                inFlight = entry;
                OsResetEvent(ioEvent);
                if (!OsWriteFileOverlapped(arguments->file, entry->text, static_cast<uint32_t>(entry->byteLength),
                                           offset, ioEvent, &overlapped)) {
                    // The write never started: drop the entry and go on with the next.
                    FreeLogEntry(inFlight);
                    inFlight = nullptr;
                    OsSetEvent(arguments->ioStartEvent);
                }
            } else {
                OsFlushFileBuffers(arguments->file);
                if (shutdown) break;
            }
        } else if (result == OS_WAIT_IO_COMPLETION) {
            continue;
        } else {
            break;
        }
    }
    if (inFlight) {
        uint32_t written = 0;
        OsGetOverlappedResult(arguments->file, &overlapped, &written, true);
        FreeLogEntry(inFlight);
    }
    OsCloseHandle(ioEvent);
    return 0;
}

bool StartLoggingThread() {
    OsHandle ioStart = OsCreateEvent(false, false);
    if (!ioStart) {
        DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Could not create I/O Start event.");
        return false;
    }
    OsHandle termination = OsCreateEvent(true, false);
    if (!termination) {
        DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Could not create logging termination event.");
        OsCloseHandle(ioStart);
        return false;
    }
    auto* arguments = static_cast<LoggingThreadArguments*>(std::calloc(1, sizeof(LoggingThreadArguments)));
    if (!arguments) {
        DebugEvent(__LINE__, SYSTEM_ERROR, OS_ERROR_NOT_ENOUGH_MEMORY)
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Could not create a Logging Thread argument block.");
        OsCloseHandle(ioStart);
        OsCloseHandle(termination);
        return false;
    }
    arguments->terminationEvent = termination;
    arguments->ioStartEvent = ioStart;
    arguments->file = gLog.file;
    OsHandle thread = OsCreateThread(LoggingThread, arguments, 0, nullptr);
    if (!thread) {
        ReportUnexpected(__LINE__, "Could not spawn the logging thread.");
        std::free(arguments);
        OsCloseHandle(ioStart);
        OsCloseHandle(termination);
        return false;
    }
    gLog.thread = thread;
    gLog.threadArguments = arguments;
    // Whatever was queued before the file existed (the banner first) goes out now.
    OsSetEvent(ioStart);
    return true;
}

void StopLoggingThread() {
    if (!gLog.thread) return;
    LoggingThreadArguments* arguments = gLog.threadArguments;
    uint32_t exitCode = 0;
    if (!OsGetExitCodeThread(gLog.thread, &exitCode)) {
        DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Failed to get logging thread exit status.");
    } else if (exitCode == OS_STILL_ACTIVE) {
        OsSetEvent(arguments->terminationEvent);
        OsSetEvent(arguments->ioStartEvent);
        for (;;) {
            uint32_t result = OsWaitForSingleObject(gLog.thread, kLogThreadExitTimeout);
            if (result == OS_WAIT_TIMEOUT) {
                OsTerminateThread(gLog.thread, kTerminatedExitCode);
                ReportUnexpected(__LINE__, "Timeout occurred while waiting for Logging thread to terminate");
                continue;
            }
            if (result == OS_WAIT_OBJECT_0) {
                if (OsGetExitCodeThread(gLog.thread, &exitCode) && exitCode == kTerminatedExitCode)
                    ReportUnexpected(__LINE__, "Timeout occurred while waiting for Logging thread to terminate");
            } else if (result == OS_WAIT_ABANDONED_0) {
                DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
                    .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                            "Unexpected wait event WAIT_ABANDONED returned while waiting for logging thread "
                            "termination.");
            } else {
                DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
                    .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                            "Error while waiting for logging thread termination.");
            }
            break;
        }
    } else {
        ReportUnexpected(__LINE__, "Logging thread terminated prematurely with exit status %0X", exitCode);
    }
    OsCloseHandle(arguments->terminationEvent);
    OsCloseHandle(arguments->ioStartEvent);
    std::free(arguments);
    gLog.threadArguments = nullptr;
    OsCloseHandle(gLog.thread);
    gLog.thread = nullptr;
}

std::string BuildBanner() {
    uint16_t parts[4];
    std::string failure;
    if (OsGetModuleProductVersion(parts, &failure)) {
        std::memcpy(gLog.versionParts, parts, sizeof(parts));
    } else {
        ReportUnexpected(__LINE__, "%s", failure.c_str());
    }
    const uint16_t* v = gLog.versionParts;
    std::string build = Format("%s (%s)", "Release", __DATE__);
    return Format(gLog.installation ? "%s version %u.%u.%u.%u %s %s Installation Log opened %s.\n\n"
                                    : "%s version %u.%u.%u.%u %s %s Log opened %s.\n\n",
                  gLog.programName.c_str(), v[0], v[1], v[2], v[3], "64 bit", build.c_str(),
                  FormatLogDateTime().c_str());
}

// Reads the generation of a log name: the decimal number after the first
// underscore, kept when at least one digit was read, it is below 9 and a full
// stop follows the digits.
bool ReadGeneration(const std::string& name, unsigned* generation) {
    size_t underscore = name.find('_');
    if (underscore == std::string::npos) return false;
    const char* start = name.c_str() + underscore + 1;
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(start, &end, 10);
    if (end == start || errno != 0) return false;
    bool anyDigit = false;
    for (const char* p = start; p < end; p++) anyDigit |= (*p >= '0' && *p <= '9');
    if (!anyDigit || value >= 9 || *end != '.') return false;
    *generation = static_cast<unsigned>(value);
    return true;
}

}  // namespace

// ---- DebugEvent ----

void DebugEvent::ReportV(const char* format, va_list args) {
    EmitReport(kind, line, code, boxStyle, caption, format, args, false);
}

void DebugEvent::Report(const char* format, ...) {
    va_list args;
    va_start(args, format);
    ReportV(format, args);
    va_end(args);
}

void DebugEvent::Report(uint32_t style, const char* captionText, const char* format, ...) {
    boxStyle = style;
    caption = captionText;
    va_list args;
    va_start(args, format);
    ReportV(format, args);
    va_end(args);
}

void OpenGLDebugEvent::Report(const char* format, ...) {
    if (code == 0) return;
    va_list args;
    va_start(args, format);
    EmitReport(kind, line, code, boxStyle, caption, format, args, true);
    va_end(args);
}

void OpenGLDebugEvent::Report(uint32_t style, const char* captionText, const char* format, ...) {
    if (code == 0) return;
    boxStyle = style;
    caption = captionText;
    va_list args;
    va_start(args, format);
    EmitReport(kind, line, code, boxStyle, caption, format, args, true);
    va_end(args);
}

void OpenGLDebugEvent::CheckAndReport(uint32_t* outCode, uint32_t style, const char* captionText, const char* format,
                                      ...) {
    if (outCode) *outCode = code;
    if (code == 0) return;
    boxStyle = style;
    caption = captionText;
    va_list args;
    va_start(args, format);
    EmitReport(kind, line, code, boxStyle, caption, format, args, true);
    va_end(args);
}

void ReportUnexpected(uint32_t line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    EmitReport(DEBUG_MESSAGE, line, 0, OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, format, args, false);
    va_end(args);
}

// ---- line formatting ----

ShortText OpenGLErrorText(uint32_t code) {
    ShortText t;
    const char* known = nullptr;
    switch (code) {
        case 0: known = "Success"; break;
        case 0x500: known = "An invalid enumeration was specified"; break;
        case 0x501: known = "An invalid value was specified"; break;
        case 0x502: known = "An invalid operation was attempted"; break;
        case 0x503: known = "A stack overflow has occurred"; break;
        case 0x504: known = "A stack underflow has occurred"; break;
        case 0x505: known = "OpenGL memory is exhausted"; break;
        default: break;
    }
    if (known)
        std::snprintf(t.text, sizeof t.text, "%s", known);
    else
        std::snprintf(t.text, sizeof t.text, "Unrecognized OpenGL Error %X", code);
    return t;
}

ShortText SystemErrorText(uint32_t code) {
    ShortText t;
    if (!OsFormatSystemMessage(code, t.text, sizeof t.text) || !t.text[0])
        std::snprintf(t.text, sizeof t.text, "%s", "Unidentified System Error");
    CutAtLineBreak(t.text);
    return t;
}

ShortText RunTimeErrorText(int code) {
    ShortText t;
    t.text[0] = 0;
#ifdef _WIN32
    if (strerror_s(t.text, sizeof t.text, code) != 0) t.text[0] = 0;
#else
    // The GNU strerror_r returns its text rather than filling the buffer.
    const char* text = strerror_r(code, t.text, sizeof t.text);
    if (text != t.text) std::snprintf(t.text, sizeof t.text, "%s", text ? text : "");
#endif
    if (!t.text[0]) std::snprintf(t.text, sizeof t.text, "Unidentified C Run-Time Library Error %d", code);
    CutAtLineBreak(t.text);
    return t;
}

bool FormatDebugEventLine(uint32_t kind, uint32_t line, const char* caption, const char* text, const char* errorText,
                          const char* timeText, uint32_t threadId, char* out, size_t size) {
    const char* c = caption ? caption : "";
    const char* t = text ? text : "";
    const char* e = errorText ? errorText : "";
    int n = -1;
    switch (kind) {
        case DEBUG_MESSAGE:
            n = std::snprintf(out, size, "%s Thread 0x%04X: Line %u: Debug Message: '%s' - '%s'", timeText, threadId,
                              line, c, t);
            break;
        case USER_MESSAGE:
            n = std::snprintf(out, size, "%s Thread 0x%04X: Line %u: User Message: '%s' - '%s'", timeText, threadId,
                              line, c, t);
            break;
        case SYSTEM_ERROR:
            n = std::snprintf(out, size, "%s Thread 0x%04X: Line %u: System Error: '%s' : '%s' - '%s'", timeText,
                              threadId, line, e, c, t);
            break;
        case OPENGL_ERROR:
            n = std::snprintf(out, size, "%s : Line %u: OpenGL Error: '%s' : '%s' - '%s'\n", timeText, line, e, c, t);
            break;
        case EVENT_MONITOR:
            n = std::snprintf(out, size, "%s Thread 0x%04X: Line %u: Event Monitor: %s", timeText, threadId, line, t);
            break;
        case CRT_LIBRARY_ERROR:
            n = std::snprintf(out, size, "%s Thread 0x%04X: Line %u: C Run-Time Library Error: '%s' : '%s' - '%s'",
                              timeText, threadId, line, e, c, t);
            break;
        case TRACE_MESSAGE:
            n = std::snprintf(out, size, "%s Thread 0x%04X: Line %u: Trace Message: %s", timeText, threadId, line, t);
            break;
        default:
            return false;
    }
    if (n < 0 && size) out[0] = 0;
    return true;
}

std::string FormatLogDateTime() { return FormatTime("on %A, %B %d, %Y at %H:%M:%S"); }

// ---- the log ----

void SetUserInterfaceThread(uint32_t threadId) { gLog.uiThread = threadId; }
uint32_t GetUserInterfaceThread() { return gLog.uiThread; }
void SetInstallationLog(bool installation) { gLog.installation = installation; }
uint32_t GetLoggingMode() { return gLog.mode; }
bool IsDebugLogQueueOpen() { return gLog.queueOpen; }

bool OpenDebugLog(const char* programName, OsWindow hostWindow) {
    if (gLog.queueOpen) return true;
    gLog.hostWindow = hostWindow;
    gLog.messageOwner = hostWindow;
    gLog.programName = programName ? programName : "";
    if (!OsInitializeCriticalSection(&gLog.queueSection, 1024)) {
        DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Could not create 'LogQueueSection' critical section.");
        ReportUnexpected(__LINE__, "Can't open the debug logging queue for debug event messages.");
        return false;
    }
    std::string banner = BuildBanner();
    LogEntry* bannerEntry = NewLogEntryFromText(2, banner);
    LogEntry* markEntry = NewLogEntry(2, std::u16string(1, u'\xFEFF'));
    OsEnterCriticalSection(&gLog.queueSection);
    gLog.queueOpen = true;
    if (bannerEntry) PrependEntry(bannerEntry);
    if (markEntry) PrependEntry(markEntry);
    OsLeaveCriticalSection(&gLog.queueSection);
    return true;
}

void LogEntryEvent(LogEntry* entry) {
    if (!entry) {
        ReportUnexpected(__LINE__, "LogEntryEvent() called with invalid argument.");
        return;
    }
    if (!OsCriticalSectionValid(&gLog.queueSection)) {
        FreeLogEntry(entry);  // no log at all: nothing can be kept
        return;
    }
    OsEnterCriticalSection(&gLog.queueSection);
    if (gLog.queueOpen) {
        AppendEntry(entry);
        switch (gLog.mode) {
            case LOGGING_IMMEDIATE: WriteOutQueue(); break;
            case LOGGING_THREADED:
                if (gLog.count == 1 && gLog.threadArguments) OsSetEvent(gLog.threadArguments->ioStartEvent);
                break;
            case LOGGING_DISCARD: DropQueue(); break;
            default: break;  // no file yet: stays queued
        }
    } else {
        if (gLog.mode == LOGGING_IMMEDIATE)
            WriteOutQueue();
        else if (gLog.mode == LOGGING_DISCARD)
            DropQueue();
        FreeLogEntry(entry);
    }
    OsLeaveCriticalSection(&gLog.queueSection);
}

void WriteLogLineV(uint32_t category, const char* format, va_list args) {
    // Lines up to 2 KB are formatted on the stack; longer ones (banners,
    // tables) in a block of their own.
    char stackBuffer[2048];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(stackBuffer, sizeof stackBuffer, format ? format : "", copy);
    va_end(copy);
    if (n < 0) return;
    char* text = stackBuffer;
    if (static_cast<size_t>(n) >= sizeof stackBuffer) {
        text = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
        if (!text) text = stackBuffer;  // the line, cut
        else std::vsnprintf(text, static_cast<size_t>(n) + 1, format, args);
    }
    if (LogEntry* entry = NewLogEntryFromText(category, text, std::strlen(text), true)) LogEntryEvent(entry);
    if (text != stackBuffer) std::free(text);
}

void WriteLogLine(uint32_t category, const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLogLineV(category, format, args);
    va_end(args);
}

namespace {
// The Logs folder; guarded by its own spin lock since the folders may be made
// again while the writer thread looks.
std::string gLogFolder;
std::atomic_flag gLogFolderLock = ATOMIC_FLAG_INIT;

// Held for a copy of the folder's name, which may throw: released however it ends.
struct LogFolderGuard {
    LogFolderGuard() {
        while (gLogFolderLock.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
    }
    ~LogFolderGuard() { gLogFolderLock.clear(std::memory_order_release); }
};

bool LogFolderKnown(std::string& folder) {
    LogFolderGuard guard;
    folder = gLogFolder;
    return !folder.empty();
}
}  // namespace

void SetDebugLogFolder(const std::string& folder) {
    LogFolderGuard guard;
    gLogFolder = folder;
}

bool GetDebugLogFolder(std::string& path) {
    path.clear();
    bool ok = true;
    std::string folder;
    if (!LogFolderKnown(folder)) {
        ok = false;
    } else if (folder.size() >= 1000) {
        DebugEvent(__LINE__, CRT_LIBRARY_ERROR, ERANGE)
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "_tcscpy_s() failed with Debug Log directory = '%s'",
                    folder.c_str());
        ok = false;
    }
    if (ok) {
        std::vector<std::string> names;
        OsFindFiles(folder, Format("%s_??.%s", kLogBaseName, kLogExtension), names);
        struct Kept {
            std::string name;
            unsigned generation;
        };
        std::vector<Kept> kept;
        bool seen[9] = {};
        for (const std::string& name : names) {
            unsigned generation = 0;
            // Differently padded spellings of one generation are kept once;
            // the rest go, so that no rename lands on a kept file.
            if (ReadGeneration(name, &generation) && !seen[generation] && kept.size() < kMaxKeptGenerations) {
                seen[generation] = true;
                kept.push_back({name, generation});
                continue;
            }
            std::string full = OsJoinPath(folder, name);
            if (std::remove(full.c_str()) != 0) {
                int e = errno;
                DebugEvent(__LINE__, CRT_LIBRARY_ERROR, static_cast<uint32_t>(e))
                    .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                            "_tremove() failed with error = '%d'. File to be deleted was '%s'", e, full.c_str());
                ok = false;
            }
        }
        // Highest generation first, so every target name is free.
        for (size_t g = 9; ok && g-- > 0;) {
            for (const Kept& k : kept) {
                if (k.generation != g) continue;
                std::string from = OsJoinPath(folder, k.name);
                std::string to = OsJoinPath(folder, Format("%s_%02u.%s", kLogBaseName, static_cast<unsigned>(g + 1), kLogExtension));
                if (std::rename(from.c_str(), to.c_str()) != 0) {
                    int e = errno;
                    DebugEvent(__LINE__, CRT_LIBRARY_ERROR, static_cast<uint32_t>(e))
                        .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                                "_trename() failed with error = '%d'. Original Name was '%s', New Name is '%s'", e,
                                from.c_str(), to.c_str());
                    ok = false;
                }
            }
        }
        if (ok) path = OsJoinPath(folder, Format("%s_%02u.%s", kLogBaseName, 0u, kLogExtension));
    }
    if (!ok) ReportUnexpected(__LINE__, "GetDebugLogFolder() failed.");
    return ok;
}

OsFile OpenDebugLogFile(uint32_t mode) {
    if (gLog.file) return gLog.file;
    if (mode == LOGGING_DISCARD) {
        if (OsCriticalSectionValid(&gLog.queueSection)) {
            OsEnterCriticalSection(&gLog.queueSection);
            gLog.mode = LOGGING_DISCARD;
            DropQueue();
            OsLeaveCriticalSection(&gLog.queueSection);
        } else {
            gLog.mode = LOGGING_DISCARD;
        }
        return nullptr;
    }
    if (mode != LOGGING_IMMEDIATE && mode != LOGGING_THREADED) {
        ReportUnexpected(__LINE__, "Can't open debug log file with invalid logging mode'%u'", mode);
        return nullptr;
    }
    std::string known;
    if (!LogFolderKnown(known)) {
        ReportUnexpected(__LINE__, mode == LOGGING_IMMEDIATE
                                       ? "File system not initialized - Immediate mode logging requires the file system."
                                       : "File system not initialized - Threaded mode logging requires the file system.");
        return nullptr;
    }
    std::string path;
    if (!GetDebugLogFolder(path)) {
        ReportUnexpected(__LINE__, "Can't allocate a debug log file for '%s'", kLogBaseName);
        return nullptr;
    }
    OsFile file = OsCreateFileForWriting(path, mode == LOGGING_THREADED);
    if (!file) {
        DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Can't open debug log file '%s'", path.c_str());
        return nullptr;
    }
    gLog.file = file;
    if (mode == LOGGING_IMMEDIATE) {
        // What was queued before the file existed is written at once, so that
        // a run that dies early still leaves the banner and its first reports.
        if (OsCriticalSectionValid(&gLog.queueSection)) {
            OsEnterCriticalSection(&gLog.queueSection);
            gLog.mode = LOGGING_IMMEDIATE;
            WriteOutQueue();
            OsLeaveCriticalSection(&gLog.queueSection);
        } else {
            gLog.mode = LOGGING_IMMEDIATE;
        }
        return file;
    }
    if (!StartLoggingThread()) {
        ReportUnexpected(__LINE__, "Can't start thread required for threaded logging mode.");
        gLog.mode = LOGGING_THREADED;
        CloseDebugLog();
        return nullptr;
    }
    gLog.mode = LOGGING_THREADED;
    return file;
}

void CloseDebugLog() {
    bool haveSection = OsCriticalSectionValid(&gLog.queueSection);
    auto closeQueue = [&]() {
        if (!haveSection) {
            gLog.queueOpen = false;
            return;
        }
        LogEntry* closing = NewLogEntryFromText(2, Format("\nLog closed %s.\n", FormatLogDateTime().c_str()));
        OsEnterCriticalSection(&gLog.queueSection);
        bool wasOpen = gLog.queueOpen;
        gLog.queueOpen = false;
        if (closing && wasOpen)
            AppendEntry(closing);
        else
            FreeLogEntry(closing);
        OsLeaveCriticalSection(&gLog.queueSection);
    };
    switch (gLog.mode) {
        case LOGGING_NONE: closeQueue(); break;
        case LOGGING_IMMEDIATE:
        case LOGGING_DISCARD:
            closeQueue();
            // With the queue closed this writes out (or drops) what is queued;
            // the trace itself is not kept.
            DebugEvent(__LINE__, TRACE_MESSAGE).Report("Debug:  Flush Queue");
            break;
        case LOGGING_THREADED:
            closeQueue();
            StopLoggingThread();
            break;
        default:
            ReportUnexpected(__LINE__, "Invalid logging mode %u detected while closing log file", gLog.mode);
            closeQueue();
            break;
    }
    if (haveSection) {
        OsEnterCriticalSection(&gLog.queueSection);
        DropQueue();  // entries never written (no file) go with the log
        OsLeaveCriticalSection(&gLog.queueSection);
    }
    if (gLog.file) {
        OsFlushFileBuffers(gLog.file);
        OsCloseFile(gLog.file);
        gLog.file = nullptr;
    }
    gLog.mode = LOGGING_NONE;
    if (haveSection) OsDeleteCriticalSection(&gLog.queueSection);
    gLog.installation = false;
}

OsWindow SetMessageOwnerWindow(OsWindow window) {
    if (OsGetCurrentThreadId() != gLog.uiThread || !OsIsWindow(window)) return nullptr;
    OsWindow previous = gLog.messageOwner;
    gLog.messageOwner = window;
    return previous;
}

DebugReportObserver SetDebugReportObserver(DebugReportObserver observer) {
    DebugReportObserver previous = gReportObserver;
    gReportObserver = observer;
    return previous;
}

OsWindow GetMessageOwnerWindow() { return gLog.messageOwner; }

void ShowPostedMessage(OsWindow window, void* block) {
    if (!block) return;
    auto* header = static_cast<PostedMessageHeader*>(block);
    if (header->self == block) {
        const char* caption = reinterpret_cast<const char*>(header + 1);
        const char* text = caption + std::strlen(caption) + 1;
        uint32_t icon = static_cast<uint32_t>(header->kindAndIcon >> 32);
        OsShowMessageBox(window, text, caption, icon | OS_MB_SETFOREGROUND);
    }
    std::free(block);
}

void ShowDeferredUserMessages() {
    DeferredMessage shown[kDeferredMessages];
    LockDeferred();
    const int count = gDeferredCount;
    for (int i = 0; i < count; i++) shown[i] = gDeferred[i];
    gDeferredCount = 0;
    UnlockDeferred();
    for (int i = 0; i < count; i++)
        OsShowMessageBox(gLog.hostWindow, shown[i].text, shown[i].caption, shown[i].style | OS_MB_SETFOREGROUND);
}
