// The debug log: line formats byte for byte, the file's layout, rotation,
// the three modes and where User Messages go.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "params/user_data_folders.h"
#include "support/debug_log.h"
#include "support/os.h"
#include "tests/test_support.h"

TEST(DebugEventLines, EveryKindHasItsExactFormat) {
    char line[512];
    auto FormatDebugEventLine = [&](uint32_t kind, uint32_t at, const char* caption, const char* text,
                                    const char* error, const char* time, uint32_t thread, std::string& out) {
        const bool written = ::FormatDebugEventLine(kind, at, caption, text, error, time, thread, line, sizeof line);
        out = line;
        return written;
    };
    std::string out;
    ASSERT_TRUE(FormatDebugEventLine(DEBUG_MESSAGE, 42, "Debug:  Unexpected Error", "Foo() failed.", "", "12:34:56",
                                     0x1A, out));
    EXPECT_EQ(out, "12:34:56 Thread 0x001A: Line 42: Debug Message: 'Debug:  Unexpected Error' - 'Foo() failed.'");
    ASSERT_TRUE(FormatDebugEventLine(USER_MESSAGE, 7, "Incomplete Settings", "Some text", "", "01:02:03", 0x12345,
                                     out));
    EXPECT_EQ(out, "01:02:03 Thread 0x12345: Line 7: User Message: 'Incomplete Settings' - 'Some text'");
    ASSERT_TRUE(FormatDebugEventLine(SYSTEM_ERROR, 9, "Cap", "Text", "Access is denied.", "00:00:00", 4, out));
    EXPECT_EQ(out, "00:00:00 Thread 0x0004: Line 9: System Error: 'Access is denied.' : 'Cap' - 'Text'");
    ASSERT_TRUE(FormatDebugEventLine(OPENGL_ERROR, 11, "Cap", "Text", "An invalid value was specified", "10:00:00", 4,
                                     out));
    EXPECT_EQ(out, "10:00:00 : Line 11: OpenGL Error: 'An invalid value was specified' : 'Cap' - 'Text'\n");
    ASSERT_TRUE(FormatDebugEventLine(EVENT_MONITOR, 3, "ignored", "State 5", "", "10:00:00", 0xBEEF, out));
    EXPECT_EQ(out, "10:00:00 Thread 0xBEEF: Line 3: Event Monitor: State 5");
    ASSERT_TRUE(FormatDebugEventLine(CRT_LIBRARY_ERROR, 5, "Cap", "Text", "No such file", "10:00:00", 1, out));
    EXPECT_EQ(out, "10:00:00 Thread 0x0001: Line 5: C Run-Time Library Error: 'No such file' : 'Cap' - 'Text'");
    ASSERT_TRUE(FormatDebugEventLine(TRACE_MESSAGE, 6, "ignored", "Debug:  Flush Queue", "", "10:00:00", 1, out));
    EXPECT_EQ(out, "10:00:00 Thread 0x0001: Line 6: Trace Message: Debug:  Flush Queue");
    EXPECT_FALSE(FormatDebugEventLine(7, 6, "c", "t", "", "10:00:00", 1, out));
    // A line longer than its buffer is cut, and still ended.
    const std::string longText(1000, 'x');
    ASSERT_TRUE(FormatDebugEventLine(DEBUG_MESSAGE, 1, "c", longText.c_str(), "", "10:00:00", 1, out));
    EXPECT_EQ(out.size(), sizeof line - 1);
}

TEST(DebugEventLines, OpenGLErrorTexts) {
    EXPECT_STREQ(OpenGLErrorText(0).c_str(), "Success");
    EXPECT_STREQ(OpenGLErrorText(0x500).c_str(), "An invalid enumeration was specified");
    EXPECT_STREQ(OpenGLErrorText(0x503).c_str(), "A stack overflow has occurred");
    EXPECT_STREQ(OpenGLErrorText(0x505).c_str(), "OpenGL memory is exhausted");
    EXPECT_STREQ(OpenGLErrorText(0x506).c_str(), "Unrecognized OpenGL Error 506");
}

TEST(DebugEventLines, ErrorTextsAreCutAtTheirFirstLineBreak) {
    std::string text = SystemErrorText(OS_ERROR_ACCESS_DENIED).c_str();
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
    EXPECT_STREQ(SystemErrorText(0x0FFFFFFE).c_str(), "Unidentified System Error");
    std::string crt = RunTimeErrorText(2).c_str();
    EXPECT_FALSE(crt.empty());
    EXPECT_EQ(crt.find('\n'), std::string::npos);
}

namespace {

// Each test opens and closes its own log in a freshly emptied Logs folder.
class DebugLogFile : public ::testing::Test {
protected:
    void SetUp() override {
        ShownMessageBoxes().clear();
        ASSERT_TRUE(MakeUserDataFolder());
        ASSERT_TRUE(GetUserLogsFolder(logs));
        EmptyFolder(logs);
        SetUserInterfaceThread(OsGetCurrentThreadId());
    }
    void TearDown() override {
        if (IsDebugLogQueueOpen() || GetLoggingMode() != LOGGING_NONE) CloseDebugLog();
        SetMessageOwnerWindow(nullptr);
    }
    std::string LogPath(int generation) {
        char name[64];
        std::snprintf(name, sizeof(name), "RaylumePro2_%02d.log", generation);
        return OsJoinPath(logs, name);
    }
    std::string ReadLog(int generation = 0) { return Utf16LeToNarrow(ReadWholeFile(LogPath(generation))); }
    std::string logs;
};

const char kBom[] = "\xEF\xBB\xBF";

}  // namespace

TEST_F(DebugLogFile, ThreadedLogStartsWithMarkAndBannerAndEndsWithClosingLine) {
    ASSERT_TRUE(OpenDebugLog("Raylume Pro 2", nullptr));
    ReportUnexpected(__LINE__, "Queued before the file %d", 1);
    ASSERT_NE(OpenDebugLogFile(LOGGING_THREADED), nullptr);
    EXPECT_EQ(GetLoggingMode(), static_cast<uint32_t>(LOGGING_THREADED));
    DebugEvent(1234, TRACE_MESSAGE).Report("after the file");
    CloseDebugLog();
    EXPECT_EQ(GetLoggingMode(), static_cast<uint32_t>(LOGGING_NONE));

    auto bytes = ReadWholeFile(LogPath(0));
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    std::string text = Utf16LeToNarrow(bytes, 2);
    std::regex banner(
        "^Raylume Pro 2 version 2\\.0\\.0\\.0 64 bit Release \\([A-Z][a-z]{2} [ 0-9]\\d \\d{4}\\) Log opened on "
        "[A-Z][a-z]+day, [A-Z][a-z]+ \\d{2}, \\d{4} at \\d{2}:\\d{2}:\\d{2}\\.\n\n");
    EXPECT_TRUE(std::regex_search(text, banner)) << text;
    EXPECT_NE(text.find("Line 1234: Trace Message: after the file\n"), std::string::npos);
    size_t queued = text.find("Debug Message: 'Debug:  Unexpected Error' - 'Queued before the file 1'\n");
    EXPECT_NE(queued, std::string::npos);
    EXPECT_LT(queued, text.find("after the file"));
    std::regex closing("\nLog closed on [A-Z][a-z]+day, [A-Z][a-z]+ \\d{2}, \\d{4} at \\d{2}:\\d{2}:\\d{2}\\.\n$");
    EXPECT_TRUE(std::regex_search(text, closing)) << text;
    // Every line ends in a single line feed.
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST_F(DebugLogFile, ThreadedModeDrainsALongQueueOnClose) {
    ASSERT_TRUE(OpenDebugLog("Raylume Pro 2", nullptr));
    ASSERT_NE(OpenDebugLogFile(LOGGING_THREADED), nullptr);
    for (int i = 0; i < 3000; i++) DebugEvent(i, TRACE_MESSAGE).Report("entry %05d", i);
    CloseDebugLog();
    std::string text = ReadLog();
    EXPECT_NE(text.find("Trace Message: entry 00000\n"), std::string::npos);
    EXPECT_NE(text.find("Trace Message: entry 02999\n"), std::string::npos);
    EXPECT_LT(text.find("entry 02998"), text.find("entry 02999"));
    EXPECT_NE(text.find("\nLog closed "), std::string::npos);
}

TEST_F(DebugLogFile, InstallationLogIsImmediateAndSaysSo) {
    SetInstallationLog(true);
    ASSERT_TRUE(OpenDebugLog("Raylume Pro 2", nullptr));
    ASSERT_NE(OpenDebugLogFile(LOGGING_IMMEDIATE), nullptr);
    DebugEvent(77, TRACE_MESSAGE).Report("characterised");
    // Immediate mode has written the line before the log closes.
    std::string before = ReadLog();
    EXPECT_NE(before.find(" Installation Log opened on "), std::string::npos);
    EXPECT_NE(before.find("Line 77: Trace Message: characterised\n"), std::string::npos);
    CloseDebugLog();
    std::string after = ReadLog();
    EXPECT_NE(after.find("\nLog closed "), std::string::npos);
    EXPECT_EQ(after.find("Flush Queue"), std::string::npos);
}

TEST_F(DebugLogFile, ReportsAfterCloseAreNotWritten) {
    ASSERT_TRUE(OpenDebugLog("Raylume Pro 2", nullptr));
    ASSERT_NE(OpenDebugLogFile(LOGGING_IMMEDIATE), nullptr);
    CloseDebugLog();
    DebugEvent(1, TRACE_MESSAGE).Report("too late");
    ReportUnexpected(2, "also too late");
    std::string text = ReadLog();
    EXPECT_EQ(text.find("too late"), std::string::npos);
    EXPECT_NE(text.find("\nLog closed "), std::string::npos);
}

TEST_F(DebugLogFile, TextEndingInLineFeedGetsNoSecondOne) {
    ASSERT_TRUE(OpenDebugLog("Raylume Pro 2", nullptr));
    ASSERT_NE(OpenDebugLogFile(LOGGING_IMMEDIATE), nullptr);
    WriteLogLine(2, "already ended\n");
    WriteLogLine(2, "not ended");
    CloseDebugLog();
    std::string text = ReadLog();
    EXPECT_NE(text.find("already ended\nnot ended\n"), std::string::npos);
}

TEST_F(DebugLogFile, OpenGLReportsWithoutAnErrorWriteNothing) {
    ASSERT_TRUE(OpenDebugLog("Raylume Pro 2", nullptr));
    ASSERT_NE(OpenDebugLogFile(LOGGING_IMMEDIATE), nullptr);
    OpenGLDebugEvent(10, 0).Report(OS_MB_ICONERROR, "Cap", "no error here");
    uint32_t code = 99;
    OpenGLDebugEvent(11, 0).CheckAndReport(&code, OS_MB_ICONERROR, "Cap", "nor here");
    EXPECT_EQ(code, 0u);
    OpenGLDebugEvent(12, 0x506).CheckAndReport(&code, OS_MB_ICONERROR, "Cap", "glBindTexture");
    EXPECT_EQ(code, 0x506u);
    DebugEvent(13, OPENGL_ERROR, 0x500).Report("a plain event of the OpenGL kind");
    OpenGLDebugEvent trace(14, 5);
    trace.kind = TRACE_MESSAGE;
    trace.Report("formatted as a plain event");
    CloseDebugLog();
    std::string text = ReadLog();
    EXPECT_EQ(text.find("no error here"), std::string::npos);
    EXPECT_EQ(text.find("nor here"), std::string::npos);
    EXPECT_EQ(text.find("a plain event of the OpenGL kind"), std::string::npos);
    EXPECT_NE(text.find(" : Line 12: OpenGL Error: 'Unrecognized OpenGL Error 506' : 'Cap' - 'glBindTexture'\n"),
              std::string::npos);
    EXPECT_NE(text.find("Line 14: Trace Message: formatted as a plain event\n"), std::string::npos);
}

TEST_F(DebugLogFile, SystemErrorsCarryTheSystemText) {
    ASSERT_TRUE(OpenDebugLog("Raylume Pro 2", nullptr));
    ASSERT_NE(OpenDebugLogFile(LOGGING_IMMEDIATE), nullptr);
    DebugEvent(21, SYSTEM_ERROR, OS_ERROR_ACCESS_DENIED).Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Op failed.");
    DebugEvent(22, SYSTEM_ERROR, 0x0FFFFFFE).Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Odd code.");
    CloseDebugLog();
    std::string text = ReadLog();
    std::string expected = "Line 21: System Error: '" + std::string(SystemErrorText(OS_ERROR_ACCESS_DENIED).c_str()) +
                           "' : 'Debug:  Unexpected Error' - 'Op failed.'\n";
    EXPECT_NE(text.find(expected), std::string::npos) << text;
    EXPECT_NE(text.find("Line 22: System Error: 'Unidentified System Error' : "), std::string::npos);
}

TEST_F(DebugLogFile, DiscardModeWritesNothingAndCreatesNoFile) {
    ASSERT_TRUE(OpenDebugLog("Raylume Pro 2", nullptr));
    EXPECT_EQ(OpenDebugLogFile(LOGGING_DISCARD), nullptr);
    EXPECT_EQ(GetLoggingMode(), static_cast<uint32_t>(LOGGING_DISCARD));
    ReportUnexpected(1, "dropped");
    CloseDebugLog();
    EXPECT_FALSE(OsFileExists(LogPath(0)));
}

TEST_F(DebugLogFile, AnUnknownModeIsRefused) {
    ASSERT_TRUE(OpenDebugLog("Raylume Pro 2", nullptr));
    EXPECT_EQ(OpenDebugLogFile(7), nullptr);
    EXPECT_EQ(GetLoggingMode(), static_cast<uint32_t>(LOGGING_NONE));
    ASSERT_NE(OpenDebugLogFile(LOGGING_IMMEDIATE), nullptr);
    CloseDebugLog();
    EXPECT_NE(ReadLog().find("Can't open debug log file with invalid logging mode'7'"), std::string::npos);
}

TEST_F(DebugLogFile, AFreshFolderGetsGenerationZeroOnly) {
    ASSERT_TRUE(OpenDebugLog("Raylume Pro 2", nullptr));
    ASSERT_NE(OpenDebugLogFile(LOGGING_IMMEDIATE), nullptr);
    CloseDebugLog();
    std::vector<std::string> names;
    ASSERT_TRUE(OsFindFiles(logs, "*", names));
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], "RaylumePro2_00.log");
}

TEST_F(DebugLogFile, RotationShiftsTenGenerationsAndDeletesOddNames) {
    for (int g = 0; g <= 9; g++) ASSERT_TRUE(WriteWholeFile(LogPath(g), "generation " + std::to_string(g)));
    ASSERT_TRUE(WriteWholeFile(OsJoinPath(logs, "RaylumePro2_ab.log"), "odd"));
    ASSERT_TRUE(WriteWholeFile(OsJoinPath(logs, "Unrelated_00.log"), "keep"));
    std::string path;
    ASSERT_TRUE(GetDebugLogFolder(path));
    EXPECT_EQ(path, LogPath(0));
    EXPECT_FALSE(OsFileExists(LogPath(0)));
    for (int g = 1; g <= 9; g++) {
        auto bytes = ReadWholeFile(LogPath(g));
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "generation " + std::to_string(g - 1)) << g;
    }
    EXPECT_FALSE(OsFileExists(OsJoinPath(logs, "RaylumePro2_ab.log")));
    EXPECT_TRUE(OsFileExists(OsJoinPath(logs, "Unrelated_00.log")));
}

TEST_F(DebugLogFile, DifferentlyPaddedSpellingsOfAGenerationDoNotCollide) {
    ASSERT_TRUE(WriteWholeFile(OsJoinPath(logs, "RaylumePro2_ 1.log"), "spaced one"));
    ASSERT_TRUE(WriteWholeFile(OsJoinPath(logs, "RaylumePro2_+1.log"), "signed one"));
    ASSERT_TRUE(WriteWholeFile(LogPath(1), "padded one"));
    ASSERT_TRUE(WriteWholeFile(LogPath(0), "zero"));
    std::string path;
    ASSERT_TRUE(GetDebugLogFolder(path));
    std::vector<std::string> names;
    ASSERT_TRUE(OsFindFiles(logs, "*", names));
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], "RaylumePro2_01.log");
    EXPECT_EQ(names[1], "RaylumePro2_02.log");
    auto one = ReadWholeFile(LogPath(1));
    EXPECT_EQ(std::string(one.begin(), one.end()), "zero");
}

TEST_F(DebugLogFile, WithoutUserFoldersNoFileIsOpened) {
    ResetUserDataFolders();
    ASSERT_TRUE(OpenDebugLog("Raylume Pro 2", nullptr));
    EXPECT_EQ(OpenDebugLogFile(LOGGING_THREADED), nullptr);
    EXPECT_EQ(GetLoggingMode(), static_cast<uint32_t>(LOGGING_NONE));
    std::string path;
    EXPECT_FALSE(GetDebugLogFolder(path));
    EXPECT_TRUE(path.empty());
    CloseDebugLog();
    EXPECT_FALSE(OsFileExists(LogPath(0)));
}

TEST_F(DebugLogFile, ReopeningAfterCloseStartsANewGeneration) {
    for (int run = 0; run < 3; run++) {
        ASSERT_TRUE(OpenDebugLog("Raylume Pro 2", nullptr));
        ASSERT_NE(OpenDebugLogFile(LOGGING_THREADED), nullptr);
        DebugEvent(run, TRACE_MESSAGE).Report("run %d", run);
        CloseDebugLog();
    }
    EXPECT_NE(ReadLog(0).find("Trace Message: run 2\n"), std::string::npos);
    EXPECT_NE(ReadLog(1).find("Trace Message: run 1\n"), std::string::npos);
    EXPECT_NE(ReadLog(2).find("Trace Message: run 0\n"), std::string::npos);
}

#ifndef _WIN32
// Natively a window is a message queue; under Wine the real dialog tests cover this.
namespace {
struct BackgroundReport {
    const char* text;
};
uint32_t ReportUserMessageFromWorker(void* raw) {
    auto* report = static_cast<BackgroundReport*>(raw);
    DebugEvent(55, USER_MESSAGE).Report(OS_MB_ICONWARNING, "Incomplete Settings", "%s", report->text);
    return 0;
}
void RunWorker(const char* text) {
    BackgroundReport report{text};
    OsHandle worker = OsCreateThread(ReportUserMessageFromWorker, &report, 0, nullptr);
    ASSERT_NE(worker, nullptr);
    ASSERT_EQ(OsWaitForSingleObject(worker, 5000), OS_WAIT_OBJECT_0);
    OsCloseHandle(worker);
}
}  // namespace

TEST_F(DebugLogFile, UserMessagesFromWorkersArePostedToTheOwnerDialog) {
    OsWindow host = OsCreateMessageWindow();
    OsWindow dialog = OsCreateMessageWindow();
    ASSERT_TRUE(OpenDebugLog("Raylume Pro 2", host));
    ASSERT_NE(OpenDebugLogFile(LOGGING_IMMEDIATE), nullptr);

    // Only the host window owns messages: logged, neither shown nor posted.
    RunWorker("while the host owns");
    OsPostedMessage posted;
    EXPECT_FALSE(OsPeekPostedMessage(host, &posted));
    EXPECT_TRUE(ShownMessageBoxes().empty());

    EXPECT_EQ(SetMessageOwnerWindow(dialog), host);
    RunWorker("while the dialog owns");
    EXPECT_TRUE(ShownMessageBoxes().empty());  // posted, not shown
    ASSERT_TRUE(OsPeekPostedMessage(dialog, &posted));
    EXPECT_EQ(posted.message, 0x8009u);
    EXPECT_EQ(posted.lParam, 0);
    auto* block = reinterpret_cast<uint64_t*>(posted.wParam);
    EXPECT_EQ(block[0] & 0xFFFFFFFFu, static_cast<uint64_t>(USER_MESSAGE));
    EXPECT_EQ(block[0] >> 32, 0x30u);
    EXPECT_EQ(reinterpret_cast<void*>(block[1]), static_cast<void*>(block));
    ShowPostedMessage(dialog, block);
    ASSERT_EQ(ShownMessageBoxes().size(), 1u);
    EXPECT_EQ(ShownMessageBoxes()[0].caption, "Incomplete Settings");
    EXPECT_EQ(ShownMessageBoxes()[0].text, "while the dialog owns");
    EXPECT_EQ(ShownMessageBoxes()[0].style, 0x30u | OS_MB_SETFOREGROUND);

    // On the user-interface thread the box is shown at once.
    DebugEvent(56, USER_MESSAGE).Report(OS_MB_ICONINFORMATION, "Parameter Set Conversion", "converted");
    ASSERT_EQ(ShownMessageBoxes().size(), 2u);
    EXPECT_EQ(ShownMessageBoxes()[1].style, static_cast<uint32_t>(OS_MB_ICONINFORMATION | OS_MB_SETFOREGROUND));

    // Only the user-interface thread may change the owner.
    EXPECT_EQ(SetMessageOwnerWindow(host), dialog);
    CloseDebugLog();
    std::string text = ReadLog();
    EXPECT_NE(text.find("Line 55: User Message: 'Incomplete Settings' - 'while the host owns'\n"), std::string::npos);
    EXPECT_NE(text.find("Line 55: User Message: 'Incomplete Settings' - 'while the dialog owns'\n"), std::string::npos);
    OsDestroyMessageWindow(dialog);
    OsDestroyMessageWindow(host);
}
#endif
