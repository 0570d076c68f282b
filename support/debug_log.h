// Debug logging: every failure, warning and trace is reported through a
// DebugEvent built at its site and lands as one line in the per-user log.
// Only User Messages reach the user, in a message box.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/os.h"

enum DebugEventKind : uint32_t {
    DEBUG_MESSAGE = 0,
    USER_MESSAGE = 1,
    SYSTEM_ERROR = 2,
    OPENGL_ERROR = 3,
    EVENT_MONITOR = 4,
    CRT_LIBRARY_ERROR = 5,
    TRACE_MESSAGE = 6,
};

#define DEBUG_CAPTION_UNEXPECTED "Debug:  Unexpected Error"
#define DEBUG_CAPTION_UNEXPECTED_LOWER "Debug:  Unexpected error"
#define DEBUG_CAPTION_WARNING "Debug:  Warning"

// The report record. Built on the stack at the report site:
//   DebugEvent(__LINE__).Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Foo() failed.");
//   DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError()).Report(...);
class DebugEvent {
public:
    explicit DebugEvent(uint32_t line, uint32_t kind = DEBUG_MESSAGE, uint32_t code = 0)
        : line(line), kind(kind), code(code) {}
    virtual ~DebugEvent() = default;
    virtual void Report(const char* format, ...) __attribute__((format(printf, 2, 3)));
    virtual void Report(uint32_t style, const char* captionText, const char* format, ...)
        __attribute__((format(printf, 4, 5)));

    uint32_t line;
    uint32_t kind;
    uint32_t code;
    uint32_t boxStyle = OS_MB_ICONERROR;
    const char* caption = nullptr;

protected:
    virtual void ReportV(const char* format, va_list args);
};

// Built right after a group of OpenGL calls, with the value of glGetError().
class OpenGLDebugEvent : public DebugEvent {
public:
    explicit OpenGLDebugEvent(uint32_t line, uint32_t glError) : DebugEvent(line, OPENGL_ERROR, glError) {}
    void Report(const char* format, ...) override __attribute__((format(printf, 2, 3)));
    void Report(uint32_t style, const char* captionText, const char* format, ...) override
        __attribute__((format(printf, 4, 5)));
    // Stores the code in *outCode and reports only when it is non-zero.
    void CheckAndReport(uint32_t* outCode, uint32_t style, const char* captionText, const char* format, ...)
        __attribute__((format(printf, 5, 6)));
};

// Shorthand for the commonest report: a Debug Message with the error icon and
// the caption "Debug:  Unexpected Error".
void ReportUnexpected(uint32_t line, const char* format, ...) __attribute__((format(printf, 2, 3)));

// ---- line formatting (pure, testable) ----
// A short text in fixed storage: the report of a failed allocation builds
// its line without the heap, so reporting cannot fail in turn.
struct ShortText {
    char text[256];
    const char* c_str() const { return text; }
};
// The text of the OpenGL error for a glGetError value.
ShortText OpenGLErrorText(uint32_t code);
// The log line for one report into `out` (cut to fit, always ended); false
// when the kind writes nothing (3 outside OpenGLDebugEvent, or above 6).
// `errorText` is the system or run-time text for kinds 2, 5 and the OpenGL
// text for kind 3.
bool FormatDebugEventLine(uint32_t kind, uint32_t line, const char* caption, const char* text,
                          const char* errorText, const char* timeText, uint32_t threadId, char* out, size_t size);
// Error texts, cut at the first line break (unless it is the first character).
ShortText SystemErrorText(uint32_t code);
ShortText RunTimeErrorText(int code);

// ---- the log ----
enum LoggingMode : uint32_t {
    LOGGING_NONE = 0,
    LOGGING_IMMEDIATE = 1,
    LOGGING_THREADED = 2,
    LOGGING_DISCARD = 3,
};

struct LogEntry {
    uint64_t byteLength;   // text bytes without the terminator
    uint32_t category;
    LogEntry* next;        // queue link
    char16_t text[1];      // UTF-16LE, terminated; allocated to length
};

void SetUserInterfaceThread(uint32_t threadId);
uint32_t GetUserInterfaceThread();
// Marks the next opened log as an installation log (banner wording).
void SetInstallationLog(bool installation);

bool OpenDebugLog(const char* programName, OsWindow hostWindow);
// The folder the log files go to, handed over by whoever makes the per-user
// folders; empty: there is none yet (no log file can be opened).
void SetDebugLogFolder(const std::string& folder);
OsFile OpenDebugLogFile(uint32_t mode);
void CloseDebugLog();
void LogEntryEvent(LogEntry* entry);
void WriteLogLine(uint32_t category, const char* format, ...) __attribute__((format(printf, 2, 3)));
void WriteLogLineV(uint32_t category, const char* format, va_list args);
bool GetDebugLogFolder(std::string& path);
uint32_t GetLoggingMode();
bool IsDebugLogQueueOpen();

// Message owner of User Message boxes.
OsWindow SetMessageOwnerWindow(OsWindow window);
// Shows, on the user-interface thread with the host's window as owner, the
// User Messages that worker threads raised while no dialog could take them
// (each once), and forgets them.
void ShowDeferredUserMessages();
OsWindow GetMessageOwnerWindow();
// Handles WM_APP + 9: shows the posted box and frees the block.
constexpr uint32_t WM_POSTED_USER_MESSAGE = OS_WM_APP + 9;
void ShowPostedMessage(OsWindow window, void* block);

// Sees every report line as it is formatted, whether or not a log is open
// (tests use it to check what a failure reported).
typedef void (*DebugReportObserver)(uint32_t kind, const char* line);
DebugReportObserver SetDebugReportObserver(DebugReportObserver observer);

// Date and time as the banner and closing line write them.
std::string FormatLogDateTime();
