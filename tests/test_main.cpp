// Test entry: every run gets its own data folders, and message boxes are
// recorded instead of shown (a real one would block a headless run).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "support/debug_log.h"
#include "support/os.h"
#include "support/run_result.h"
#include "tests/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {
std::string gScratch;

int RecordMessageBox(OsWindow, const char* text, const char* caption, uint32_t style) {
    ShownMessageBoxes().push_back({text ? text : "", caption ? caption : "", style});
    return 1;
}
}  // namespace

const std::string& TestScratchFolder() { return gScratch; }

std::vector<ShownMessageBox>& ShownMessageBoxes() {
    static std::vector<ShownMessageBox> boxes;
    return boxes;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string Utf16LeToNarrow(const std::vector<uint8_t>& bytes, size_t from) {
    std::string out;
    for (size_t i = from; i + 1 < bytes.size(); i += 2) {
        uint16_t c = static_cast<uint16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (c == 0xFEFF)
            out += "\xEF\xBB\xBF";
        else
            out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

void EmptyFolder(const std::string& folder) {
    std::vector<std::string> names;
    OsFindFiles(folder, "*", names);
    for (const auto& name : names) std::remove(OsJoinPath(folder, name).c_str());
}

namespace {
std::vector<std::string> gCapturedLines;
void CaptureReport(uint32_t, const char* line) { gCapturedLines.push_back(line); }
}  // namespace

CapturedReports::CapturedReports() {
    gCapturedLines.clear();
    SetDebugReportObserver(CaptureReport);
}
CapturedReports::~CapturedReports() { SetDebugReportObserver(nullptr); }
bool CapturedReports::Contains(const std::string& text) const {
    for (const auto& line : gCapturedLines)
        if (line.find(text) != std::string::npos) return true;
    return false;
}
size_t CapturedReports::Count() const { return gCapturedLines.size(); }
const std::vector<std::string>& CapturedReports::Lines() const { return gCapturedLines; }

namespace {
// Every test starts as a run would: no memory shortage noted by an earlier one.
class FreshRunState : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { ResetMemoryShortage(); }
};
}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    // Process ids repeat under Wine: the tick count keeps folders of earlier runs apart.
    gScratch = std::string(temp) + "raylume-tests-" + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(GetTickCount());
    OsCreateDirectoryTree(gScratch);
#else
    char pattern[] = "/tmp/raylume-tests-XXXXXX";
    gScratch = mkdtemp(pattern);
    setenv("XDG_DATA_HOME", (gScratch + "/data").c_str(), 1);
    setenv("RAYLUME_COMMON_DATA_HOME", (gScratch + "/common").c_str(), 1);
#endif
    OsSetMessageBoxShower(RecordMessageBox);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshRunState);
    int result = RUN_ALL_TESTS();
#ifndef _WIN32
    std::string command = "rm -rf '" + gScratch + "'";
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", gScratch.c_str());
#endif
    return result;
}
