// The instruction manual and the system's help viewer: the manual the build
// puts beside the binaries is a compiled HTML help file holding every page
// of the help table, and the main dialog's help keys open it in the viewer
// (hh.exe), one viewer at a time.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "image/color_management.h"
#include "image/image.h"
#include "params/filter_parameters.h"
#include "params/user_data_folders.h"
#include "preview/background_task.h"
#include "support/run_result.h"
#include "tests/test_support.h"
#include "ui/accelerators.h"
#include "ui/dialog_ids.h"
#include "ui/help_viewer.h"
#include "ui/main_dialog.h"
#include "ui/zoom_rules.h"

namespace {

// ---- a reader of the compiled help file's directory ----

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint64_t Le64(const std::vector<uint8_t>& b, size_t at) { return Le32(b, at) | (uint64_t(Le32(b, at + 4)) << 32); }

// The directory's variable-length numbers: 7 bits a byte, most significant first.
bool ReadEncodedInteger(const std::vector<uint8_t>& b, size_t& at, size_t end, uint64_t& value) {
    value = 0;
    while (at < end) {
        const uint8_t byte = b[at++];
        value = (value << 7) | (byte & 0x7F);
        if (!(byte & 0x80)) return true;
    }
    return false;
}

struct ChmEntry {
    uint64_t section, offset, length;
};

// The "ITSF" file: its directory ("ITSP" header, then listing chunks
// "PMGL" of entries name, section, offset, length) and the start of the
// uncompressed content section the offsets of section 0 count from.
struct ChmFile {
    std::vector<uint8_t> bytes;
    std::map<std::string, ChmEntry> names;
    uint64_t contentStart = 0;

    explicit ChmFile(std::vector<uint8_t> file) : bytes(std::move(file)) {
        const std::vector<uint8_t>& f = bytes;
        if (f.size() < 0x60 || std::memcmp(f.data(), "ITSF", 4) != 0) return;
        const uint64_t directory = Le64(f, 0x48);
        contentStart = Le32(f, 4) >= 3 ? Le64(f, 0x58) : directory + Le64(f, 0x50);
        if (directory + 0x54 > f.size() || std::memcmp(&f[directory], "ITSP", 4) != 0) return;
        const uint32_t headerLength = Le32(f, directory + 8), chunkSize = Le32(f, directory + 0x10);
        const uint32_t chunks = Le32(f, directory + 0x2C);
        for (uint32_t c = 0; c < chunks; c++) {
            const size_t chunk = directory + headerLength + size_t(c) * chunkSize;
            if (chunkSize < 0x14 || chunk + chunkSize > f.size()) break;
            if (std::memcmp(&f[chunk], "PMGL", 4) != 0) continue;  // an index chunk
            const size_t end = chunk + chunkSize - Le32(f, chunk + 4);
            size_t at = chunk + 0x14;
            while (at < end) {
                uint64_t length = 0;
                ChmEntry entry = {};
                if (!ReadEncodedInteger(f, at, end, length) || at + length > end) break;
                std::string name(f.begin() + at, f.begin() + at + length);
                at += length;
                if (!ReadEncodedInteger(f, at, end, entry.section) || !ReadEncodedInteger(f, at, end, entry.offset) ||
                    !ReadEncodedInteger(f, at, end, entry.length))
                    break;
                names[name] = entry;
            }
        }
    }

    bool Holds(const std::string& name) const { return names.count(name) != 0; }

    // A text entry of the "#SYSTEM" file (2: the start page, 3: the title).
    std::string SystemText(uint16_t code) const {
        auto found = names.find("/#SYSTEM");
        if (found == names.end() || found->second.section != 0) return std::string();
        size_t at = contentStart + found->second.offset + 4;  // after its version
        const size_t end = contentStart + found->second.offset + found->second.length;
        if (end > bytes.size()) return std::string();
        while (at + 4 <= end) {
            const uint16_t entryCode = bytes[at] | (bytes[at + 1] << 8);
            const size_t length = bytes[at + 2] | (bytes[at + 3] << 8);
            at += 4;
            if (at + length > end) break;
            if (entryCode == code) {
                const char* text = reinterpret_cast<const char*>(&bytes[at]);
                return std::string(text, strnlen(text, length));
            }
            at += length;
        }
        return std::string();
    }
};

// ---- viewer windows ----

// Visible top-level windows titled `title`, with their processes.
std::vector<DWORD> ProcessesShowing(const std::string& title) {
    struct Search {
        const std::string* title;
        std::vector<DWORD> processes;
    } search = {&title, {}};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            char text[256] = {};
            GetWindowTextA(window, text, sizeof(text));
            if (IsWindowVisible(window) && *s->title == text) {
                DWORD process = 0;
                GetWindowThreadProcessId(window, &process);
                s->processes.push_back(process);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.processes;
}

// ---- the main dialog, driven from a timer inside its own message loop ----

bool StubStart(const PreviewStartRecord&) { return true; }
bool StubRender(const ParameterSet&, HRGN) { return true; }
void StubFinish() {}
bool AnalysisDone() { return true; }
const PreviewRendererProcs kStubProcs = {StubStart, StubRender, StubFinish, nullptr, nullptr};

// Each step runs on a tick until it returns true; the dialog is cancelled
// after the last step, or when a step has waited too long.
using Step = std::function<bool(HWND dialog)>;
struct Script {
    std::vector<Step> steps;
    size_t next = 0;
    DWORD stepStart = 0;
    bool running = false;
};
Script* gScript = nullptr;
constexpr DWORD kStepPatienceMs = 30000;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    HWND dialog = CurrentMainDialog();
    if (!gScript || !dialog || gScript->running) return;
    gScript->running = true;
    if (!gScript->stepStart) gScript->stepStart = GetTickCount();
    if (gScript->next < gScript->steps.size() && gScript->steps[gScript->next](dialog)) {
        gScript->next++;
        gScript->stepStart = GetTickCount();
    }
    if (gScript->next == gScript->steps.size()) {
        EndDialog(dialog, IDCANCEL);
    } else if (GetTickCount() - gScript->stepStart > kStepPatienceMs) {
        ADD_FAILURE() << "step " << gScript->next << " did not finish";
        gScript->next = gScript->steps.size();
        EndDialog(dialog, IDCANCEL);
    }
    gScript->running = false;
}

// Runs the dialog through the steps; false when not every step finished.
bool RunMainDialogScript(std::vector<Step> steps) {
    EXPECT_TRUE(InitializeColorManagement(IMAGE_MODE_RGB8, nullptr));
    SetPreviewRendererProcs(&kStubProcs);
    SetAnalysisFinishedProcForTesting(AnalysisDone);
    ForceGlobalErrorCode(RUN_OK);
    FilterParameters record = FACTORY_PARAMETERS;
    Script script;
    script.steps = std::move(steps);
    gScript = &script;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, Tick);
    MainDialogInputs inputs = {GetModuleHandleA(nullptr), nullptr, &record, nullptr, "Raylume Pro 2"};
    RunMainDialog(inputs);
    KillTimer(nullptr, timer);
    gScript = nullptr;
    SetAnalysisFinishedProcForTesting(nullptr);
    SetPreviewRendererProcs(nullptr);
    FreeAcceleratorKeys();
    ReleaseColorManagement();
    ForceGlobalErrorCode(RUN_OK);
    return script.next == script.steps.size();
}

class HelpViewer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(MakeUserDataFolder());
        ASSERT_TRUE(InitializeHelpViewer());
        manual.reset(new ChmFile(ReadWholeFile(GetHelpFilePath())));
    }
    void TearDown() override { CloseHelpViewer(); }
    std::unique_ptr<ChmFile> manual;
};

}  // namespace

TEST_F(HelpViewer, TheManualHoldsEveryPageOfTheHelpTableAndItsStartPage) {
    ASSERT_GE(manual->bytes.size(), 4u) << "no manual at '" << GetHelpFilePath()
                                        << "' (scripts/build_help.sh makes it)";
    ASSERT_EQ(std::string(manual->bytes.begin(), manual->bytes.begin() + 4), "ITSF");
    size_t rows = 0;
    const HelpEntry* table = GetHelpTable(&rows);
    ASSERT_GT(rows, 0u);
    for (size_t i = 0; i < rows; i++) {
        EXPECT_EQ(table[i].displayMode, 0) << table[i].controlId;
        EXPECT_TRUE(manual->Holds(std::string("/") + table[i].page)) << table[i].page;
    }
    const std::string startPage = manual->SystemText(2);
    EXPECT_FALSE(startPage.empty());
    EXPECT_TRUE(manual->Holds("/" + startPage)) << startPage;
    EXPECT_FALSE(manual->SystemText(3).empty()) << "the manual has no title";
}

TEST_F(HelpViewer, AnUnknownIdentifierOpensTheStartPageAndEditAndSliderShareTheirPage) {
    std::string document;
    ASSERT_TRUE(HelpDocumentForControl(4242, document));
    EXPECT_EQ(document, GetHelpFilePath());  // the file alone: its start page
    std::string edit, slider;
    ASSERT_TRUE(HelpDocumentForControl(1025, edit));
    ASSERT_TRUE(HelpDocumentForControl(1026, slider));
    EXPECT_EQ(edit, slider);
    ASSERT_EQ(edit.rfind(GetHelpFilePath() + "::/", 0), 0u) << edit;
    EXPECT_TRUE(manual->Holds(edit.substr(GetHelpFilePath().size() + 2))) << edit;
    // F1 on an entry of the preview's zoom menu: the menu's page, whatever the entry.
    std::string ok, entry;
    ASSERT_TRUE(HelpDocumentForControl(IDOK, ok));
    for (int i = 0; i < ZOOM_MENU_ENTRY_COUNT; ++i) {
        ASSERT_TRUE(HelpDocumentForControl(static_cast<uint32_t>(ZOOM_MENU_FIRST_COMMAND + i), entry));
        EXPECT_NE(entry.find("ViewportContextMenu.htm"), std::string::npos) << i << ": " << entry;
    }
}

// The real viewer: its window carries the manual's title once it has read
// the file (Wine's viewer without a browser engine shows its frame and the
// title but no page text). Each help request of the dialog ends the viewer
// started before, also when it comes at once after the last one.
TEST_F(HelpViewer, HelpTwiceInTheMainDialogKeepsOneViewerOnTheManual) {
    const std::string title = manual->SystemText(3);
    ASSERT_FALSE(title.empty());
    ASSERT_TRUE(ProcessesShowing(title).empty()) << "a viewer of an earlier run is still open";
    const std::string& manualPath = GetHelpFilePath();
    std::vector<HANDLE> viewers;  // every viewer started, to check they end
    auto started = [&](DWORD* id) {
        *id = HelpViewerProcessId();
        if (*id) viewers.push_back(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, *id));
        return *id != 0;
    };
    auto showsManualAlone = [&](DWORD id) { return ProcessesShowing(title) == std::vector<DWORD>{id}; };
    DWORD first = 0, second = 0, third = 0, fourth = 0;
    std::vector<std::string> documents;

    EXPECT_TRUE(RunMainDialogScript({
        [&](HWND dialog) {  // the help icon
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_HELP_ICON, STN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_HELP_ICON)));
            documents.push_back(HelpViewerDocument());
            return started(&first);
        },
        [&](HWND) { return showsManualAlone(first); },
        [&](HWND dialog) {  // back to the dialog, as the user would, and the "?" key
            SetForegroundWindow(dialog);
            SetActiveWindow(dialog);
            if (GetActiveWindow() != dialog) return false;
            HWND edit = GetDlgItem(dialog, SLIDER_CONTROL_TABLE[SLIDER_ROW_QUANTITY].editId);
            SetFocus(edit);
            PostMessageA(edit, WM_CHAR, '?', 1);  // through the dialog's accelerators
            return true;
        },
        [&](HWND) {
            if (HelpViewerProcessId() == first) return false;
            documents.push_back(HelpViewerDocument());
            return started(&second);
        },
        [&](HWND) { return WaitForSingleObject(viewers[0], 0) == WAIT_OBJECT_0 && showsManualAlone(second); },
        [&](HWND dialog) {  // F1 on the Quantity edit, then at once the Help key's command
            HWND edit = GetDlgItem(dialog, SLIDER_CONTROL_TABLE[SLIDER_ROW_QUANTITY].editId);
            RECT r;
            GetWindowRect(edit, &r);
            HELPINFO info = {sizeof(info), HELPINFO_WINDOW, GetDlgCtrlID(edit), edit, 0, {r.left, r.top}};
            SendMessageA(edit, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
            documents.push_back(HelpViewerDocument());
            started(&third);
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDM_HELP, 1), 0);
            documents.push_back(HelpViewerDocument());
            return started(&fourth);
        },
        [&](HWND) { return showsManualAlone(fourth); },
    }));

    EXPECT_EQ(documents, (std::vector<std::string>{manualPath + "::/MainDialog.htm", manualPath + "::/MainDialog.htm",
                                                  manualPath + "::/QuantityControl.htm", manualPath}));
    EXPECT_EQ(std::set<DWORD>({first, second, third, fourth}).size(), 4u);
    CloseHelpViewer();
    EXPECT_EQ(HelpViewerProcessId(), 0u);
    for (HANDLE viewer : viewers) {
        EXPECT_EQ(WaitForSingleObject(viewer, 10000), WAIT_OBJECT_0) << "a viewer still runs";
        TerminateProcess(viewer, 1);
        CloseHandle(viewer);
    }
    EXPECT_TRUE(ProcessesShowing(title).empty());
}
