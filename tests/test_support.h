// Helpers shared by the unit tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A scratch folder made for this test process (removed at exit natively).
const std::string& TestScratchFolder();
// Reads a whole file; empty when missing.
std::vector<uint8_t> ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::string& bytes);
// UTF-16LE bytes to a narrow string (the logs are ASCII); keeps a BOM as "\xEF\xBB\xBF".
std::string Utf16LeToNarrow(const std::vector<uint8_t>& bytes, size_t from = 0);
// Deletes every file of a folder (not sub-folders).
void EmptyFolder(const std::string& folder);

// Message boxes shown during a test are counted here instead of shown.
struct ShownMessageBox {
    std::string text;
    std::string caption;
    uint32_t style;
};
std::vector<ShownMessageBox>& ShownMessageBoxes();

// Collects the report lines made while it lives.
class CapturedReports {
public:
    CapturedReports();
    ~CapturedReports();
    // True when some line contains `text`.
    bool Contains(const std::string& text) const;
    size_t Count() const;
    const std::vector<std::string>& Lines() const;
};
