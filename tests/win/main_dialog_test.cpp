// The main dialog on the virtual display, run modally as the host runs it.
// A thread timer on the test thread drives it: each tick runs the next step
// of a script inside the dialog's own message loop, so steps can send
// messages, set the keyboard state and post keys that the loop then
// translates. The background task runs with stub renderer procedures that
// record the parameter sets they are handed.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "image/color_management.h"
#include "params/filter_parameters.h"
#include "params/parameter_files.h"
#include "params/user_data_folders.h"
#include "preview/background_task.h"
#include "support/run_result.h"
#include "tests/test_support.h"
#include "ui/accelerators.h"
#include "ui/dialog_ids.h"
#include "ui/main_dialog.h"
#include "ui/proxy_window.h"
#include "ui/settings_menu_win32.h"

namespace {

// ---- the stub renderer ----

std::atomic<int16_t> gLastQuantity{-1};
std::atomic<int16_t> gLastEffectsOnly{-1};

bool StubStart(const PreviewStartRecord&) { return true; }
bool StubRender(const ParameterSet& set, HRGN) {
    gLastQuantity = set.quantity;
    gLastEffectsOnly = set.effectsOnly;
    return true;
}
void StubFinish() {}
bool AnalysisDone() { return true; }
const PreviewRendererProcs kStubProcs = {StubStart, StubRender, StubFinish, nullptr, nullptr};

// ---- the script ----

// A step returns false to be run again on the next tick (waiting for
// something), true to go on.
using Step = std::function<bool(HWND dialog)>;

struct Script {
    std::vector<Step> steps;
    size_t next = 0;
    int waited = 0;      // ticks the current step has waited
    int afterLast = 0;   // ticks since the last step
    bool running = false;
};
Script* gScript = nullptr;
constexpr int kTickMs = 20;
constexpr int kStepPatience = 500;  // ten seconds

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    HWND dialog = CurrentMainDialog();
    if (!gScript || !dialog || gScript->running) return;
    gScript->running = true;
    if (gScript->next < gScript->steps.size()) {
        if (gScript->steps[gScript->next](dialog)) {
            gScript->next++;
            gScript->waited = 0;
        } else if (++gScript->waited > kStepPatience) {
            ADD_FAILURE() << "step " << gScript->next << " did not finish";
            gScript->next = gScript->steps.size();
            EndDialog(dialog, IDCANCEL);
        }
    } else if (++gScript->afterLast > kStepPatience) {
        ADD_FAILURE() << "the dialog did not close after the last step";
        EndDialog(dialog, IDCANCEL);
    }
    gScript->running = false;
}

// ---- helpers used inside steps ----

RECT ControlRect(HWND dialog, int id) {
    RECT r = {};
    GetWindowRect(GetDlgItem(dialog, id), &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

SIZE WindowSize(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    return {r.right - r.left, r.bottom - r.top};
}

std::string Text(HWND dialog, int id) {
    char text[64] = {};
    GetDlgItemTextA(dialog, id, text, sizeof(text));
    return text;
}

int SliderPos(HWND dialog, int row) {
    return static_cast<int>(SendDlgItemMessageA(dialog, SLIDER_CONTROL_TABLE[row].sliderId, TBM_GETPOS, 0, 0));
}

HWND Edit(HWND dialog, int row) { return GetDlgItem(dialog, SLIDER_CONTROL_TABLE[row].editId); }

void Type(HWND edit, const char* text) {
    for (const char* c = text; *c; c++) SendMessageA(edit, WM_CHAR, static_cast<WPARAM>(*c), 1);
}

// Focuses the edit and selects all its text, as a user does before typing over a value.
void FocusAndSelect(HWND edit) {
    SetFocus(edit);
    SendMessageA(edit, EM_SETSEL, 0, -1);
}

void SetControlKey(bool down) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = down ? 0x80 : 0;
    keys[VK_LCONTROL] = down ? 0x80 : 0;
    SetKeyboardState(keys);
}

// Posts a key press through the dialog's message loop, as the keyboard would.
void PostKey(UINT key) {
    HWND focus = GetFocus();
    PostMessageA(focus ? focus : CurrentMainDialog(), WM_KEYDOWN, key, 1);
}

void Click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

int16_t Slot(const FilterParameters& record, int row) { return record.slot[SLIDER_CONTROL_TABLE[row].slot]; }

std::string SettingsFile(const char* name) {
    std::string folder;
    GetUserSettingsFolder(folder);
    return folder + "\\" + name;
}

class MainDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(MakeUserDataFolder());
        ASSERT_TRUE(InitializeColorManagement(IMAGE_MODE_RGB8, nullptr));
        ForceGlobalErrorCode(RUN_OK);
        DeleteFileA(SettingsFile(kInterfaceSettingsFile).c_str());
        DeleteFileA(SettingsFile(kLastSavedParametersFile).c_str());
        std::string parameters;
        ASSERT_TRUE(GetUserParametersFolder(parameters));
        EmptyFolder(parameters);
        SetPreviewRendererProcs(&kStubProcs);
        SetAnalysisFinishedProcForTesting(AnalysisDone);
        gLastQuantity = -1;
        gLastEffectsOnly = -1;
        record = FACTORY_PARAMETERS;
        ShownMessageBoxes().clear();
    }
    void TearDown() override {
        SetAnalysisFinishedProcForTesting(nullptr);
        SetPreviewRendererProcs(nullptr);
        FreeAcceleratorKeys();
        SetControlKey(false);
        ReleaseColorManagement();
        ForceGlobalErrorCode(RUN_OK);
        EXPECT_TRUE(ShownMessageBoxes().empty()) << ShownMessageBoxes().front().text;
    }

    // Runs the dialog with the script; the dialog's result.
    bool Run(std::vector<Step> steps) {
        Script script;
        script.steps = std::move(steps);
        gScript = &script;
        UINT_PTR timer = SetTimer(nullptr, 0, kTickMs, Tick);
        MainDialogInputs inputs = {GetModuleHandleA(nullptr), nullptr, &record, nullptr, "Raylume Pro 2"};
        bool ok = RunMainDialog(inputs);
        KillTimer(nullptr, timer);
        gScript = nullptr;
        EXPECT_EQ(script.next, script.steps.size()) << "the dialog closed before the script ended";
        EXPECT_EQ(CurrentMainDialog(), nullptr);
        return ok;
    }

    FilterParameters record;
};

// Waits until the background task has drawn a set with this Quantity.
Step RenderedQuantity(int16_t quantity) {
    return [quantity](HWND) { return gLastQuantity.load() == quantity; };
}

Step Cancel() {
    return [](HWND dialog) {
        Click(dialog, IDCANCEL);
        return true;
    };
}

}  // namespace

TEST_F(MainDialog, GrowingMovesEachControlByItsRuleAndTheInitialSizeIsTheMinimum) {
    const int quantityEdit = SLIDER_CONTROL_TABLE[SLIDER_ROW_QUANTITY].editId;
    const std::vector<int> ids = {IDOK,          IDC_PREVIEW_CHECK, IDC_EFFECTS_ONLY,    IDC_PREVIEW_AREA,
                                  IDC_PREVIEW_FRAME, IDC_PREVIEW_VSCROLL, IDC_PREVIEW_HSCROLL, IDC_TOOL_PAN,
                                  IDC_CAPTION_SHOW, IDC_ZOOM_OUT,   IDC_PROGRESS,        quantityEdit};
    std::map<int, RECT> before;
    SIZE initial = {};
    auto at = [&](int id) -> const RECT& { return before[id]; };
    auto moved = [&](HWND dialog, int id, int dx, int dy) {
        RECT now = ControlRect(dialog, id), was = at(id);
        EXPECT_EQ(now.left, was.left + dx) << id;
        EXPECT_EQ(now.top, was.top + dy) << id;
        EXPECT_EQ(now.right - now.left, was.right - was.left) << id;
        EXPECT_EQ(now.bottom - now.top, was.bottom - was.top) << id;
    };
    bool ok = Run({
        [&](HWND dialog) {
            for (int id : ids) before[id] = ControlRect(dialog, id);
            initial = WindowSize(dialog);
            // The dialog is a real plug-in dialog's size on this screen and stays on it.
            EXPECT_GE(initial.cx, 900);
            EXPECT_GE(initial.cy, 560);
            RECT r;
            GetWindowRect(dialog, &r);
            EXPECT_GE(r.left, 0);
            EXPECT_GE(r.top, 0);
            EXPECT_LE(r.right, GetSystemMetrics(SM_CXSCREEN));
            EXPECT_LE(r.bottom, GetSystemMetrics(SM_CYSCREEN));
            SetWindowPos(dialog, nullptr, 0, 0, initial.cx + 100, initial.cy + 50, SWP_NOMOVE | SWP_NOZORDER);
            return true;
        },
        [&](HWND dialog) {
            moved(dialog, IDOK, 100, 0);
            moved(dialog, quantityEdit, 100, 0);
            moved(dialog, IDC_PREVIEW_CHECK, 100, 50);
            moved(dialog, IDC_EFFECTS_ONLY, 100, 50);
            moved(dialog, IDC_TOOL_PAN, 0, 0);
            moved(dialog, IDC_CAPTION_SHOW, 0, 0);
            moved(dialog, IDC_ZOOM_OUT, 0, 50);
            moved(dialog, IDC_PROGRESS, 0, 50);
            for (int id : {IDC_PREVIEW_AREA, IDC_PREVIEW_FRAME}) {
                RECT now = ControlRect(dialog, id), was = at(id);
                EXPECT_EQ(now.left, was.left) << id;
                EXPECT_EQ(now.top, was.top) << id;
                EXPECT_EQ(now.right, was.right + 100) << id;
                EXPECT_EQ(now.bottom, was.bottom + 50) << id;
            }
            RECT preview = ControlRect(dialog, IDC_PREVIEW_AREA);
            RECT vertical = ControlRect(dialog, IDC_PREVIEW_VSCROLL), horizontal = ControlRect(dialog, IDC_PREVIEW_HSCROLL);
            EXPECT_EQ(vertical.left, at(IDC_PREVIEW_VSCROLL).left + 100);
            EXPECT_EQ(vertical.bottom, at(IDC_PREVIEW_VSCROLL).bottom + 50);
            EXPECT_EQ(horizontal.top, at(IDC_PREVIEW_HSCROLL).top + 50);
            EXPECT_EQ(horizontal.right, at(IDC_PREVIEW_HSCROLL).right + 100);
            // The preview side reads the same rectangles from the dialog's table.
            RECT table = {}, client = {};
            EXPECT_TRUE(GetMainDialogItemRect(IDC_PREVIEW_AREA, &table, &client));
            EXPECT_TRUE(EqualRect(&table, &preview));
            RECT real;
            GetClientRect(GetDlgItem(dialog, IDC_PREVIEW_AREA), &real);
            EXPECT_EQ(client.right - client.left, real.right - real.left);
            EXPECT_EQ(client.bottom - client.top, real.bottom - real.top);

            // Smaller than it opened is not possible.
            SetWindowPos(dialog, nullptr, 0, 0, initial.cx - 200, initial.cy - 150, SWP_NOMOVE | SWP_NOZORDER);
            return true;
        },
        [&](HWND dialog) {
            SIZE now = WindowSize(dialog);
            EXPECT_EQ(now.cx, initial.cx);
            EXPECT_EQ(now.cy, initial.cy);
            moved(dialog, IDOK, 0, 0);
            moved(dialog, IDC_PREVIEW_CHECK, 0, 0);
            RECT preview = ControlRect(dialog, IDC_PREVIEW_AREA);
            EXPECT_TRUE(EqualRect(&preview, &at(IDC_PREVIEW_AREA)));
            return true;
        },
        Cancel(),
    });
    EXPECT_FALSE(ok);
}

// Dragged to a monitor of twice the density and back, in a host aware of
// each monitor's: the controls follow the window, and come back where they were.
TEST_F(MainDialog, AChangeOfDensityScalesTheLayoutAndBackAgain) {
    const std::vector<int> ids = {IDOK, IDC_PREVIEW_AREA, IDC_TOOL_PAN, IDC_CAPTION_SHOW, IDC_ZOOM_OUT};
    std::map<int, RECT> before;
    RECT window = {};
    bool ok = Run({
        [&](HWND dialog) {
            for (int id : ids) before[id] = ControlRect(dialog, id);
            GetWindowRect(dialog, &window);
            RECT twice = {window.left, window.top, window.left + 2 * (window.right - window.left),
                          window.top + 2 * (window.bottom - window.top)};
            SendMessageA(dialog, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&twice));
            return true;
        },
        [&](HWND dialog) {
            // The tool icons and their captions keep their place: it doubles.
            for (int id : {IDC_TOOL_PAN, IDC_CAPTION_SHOW}) {
                RECT now = ControlRect(dialog, id), was = before[id];
                EXPECT_EQ(now.left, 2 * was.left) << id;
                EXPECT_EQ(now.top, 2 * was.top) << id;
                EXPECT_EQ(now.right - now.left, 2 * (was.right - was.left)) << id;
            }
            RECT preview = ControlRect(dialog, IDC_PREVIEW_AREA);
            EXPECT_GE(preview.right - preview.left, 2 * (before[IDC_PREVIEW_AREA].right - before[IDC_PREVIEW_AREA].left));
            SendMessageA(dialog, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&window));
            return true;
        },
        [&](HWND dialog) {
            for (int id : ids) {
                RECT now = ControlRect(dialog, id);
                EXPECT_TRUE(EqualRect(&now, &before[id])) << id;
            }
            return true;
        },
        Cancel(),
    });
    EXPECT_FALSE(ok);
}

TEST_F(MainDialog, EditsTakeNumbersStepKeysMoveValuesAndEveryChangeReachesThePreview) {
    bool ok = Run({
        // The dialog opens with the factory values shown and the Quantity text selected.
        [&](HWND dialog) {
            EXPECT_EQ(GetFocus(), Edit(dialog, SLIDER_ROW_QUANTITY));
            EXPECT_EQ(Text(dialog, SLIDER_CONTROL_TABLE[SLIDER_ROW_ANGLE].editId), "0.0");
            EXPECT_EQ(SliderPos(dialog, SLIDER_ROW_ANGLE), 0);
            EXPECT_EQ(SliderPos(dialog, SLIDER_ROW_NUMBER_OF_POINTS), 4);
            EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_PREVIEW_CHECK), BST_CHECKED);
            return true;
        },
        // The first frame comes once the task is ready.
        RenderedQuantity(50),
        [&](HWND dialog) {
            HWND angle = Edit(dialog, SLIDER_ROW_ANGLE);
            FocusAndSelect(angle);
            Type(angle, "x");  // refused: the selection is still the old text
            EXPECT_EQ(Text(dialog, SLIDER_CONTROL_TABLE[SLIDER_ROW_ANGLE].editId), "0.0");
            EXPECT_EQ(Slot(record, SLIDER_ROW_ANGLE), 0);
            Type(angle, "-45");
            EXPECT_EQ(Text(dialog, SLIDER_CONTROL_TABLE[SLIDER_ROW_ANGLE].editId), "-45");
            EXPECT_EQ(Slot(record, SLIDER_ROW_ANGLE), -450);
            EXPECT_EQ(SliderPos(dialog, SLIDER_ROW_ANGLE), -450);

            HWND points = Edit(dialog, SLIDER_ROW_NUMBER_OF_POINTS);
            FocusAndSelect(points);
            SetControlKey(true);
            SendMessageA(points, WM_KEYDOWN, VK_UP, 1);
            SetControlKey(false);
            EXPECT_EQ(Slot(record, SLIDER_ROW_NUMBER_OF_POINTS), 6);
            EXPECT_EQ(Text(dialog, SLIDER_CONTROL_TABLE[SLIDER_ROW_NUMBER_OF_POINTS].editId), "6");
            EXPECT_EQ(SliderPos(dialog, SLIDER_ROW_NUMBER_OF_POINTS), 6);
            SendMessageA(points, WM_KEYDOWN, VK_DOWN, 1);
            EXPECT_EQ(Slot(record, SLIDER_ROW_NUMBER_OF_POINTS), 5);
            SendMessageA(points, WM_KEYDOWN, VK_PRIOR, 3);  // three repeats of a page of 8
            EXPECT_EQ(Slot(record, SLIDER_ROW_NUMBER_OF_POINTS), 29);
            SendMessageA(points, WM_KEYDOWN, VK_PRIOR, 1);
            EXPECT_EQ(Slot(record, SLIDER_ROW_NUMBER_OF_POINTS), 32);

            // Too large a Quantity is held at 100 and shown so when the edit is left.
            HWND quantity = Edit(dialog, SLIDER_ROW_QUANTITY);
            FocusAndSelect(quantity);
            Type(quantity, "150");
            EXPECT_EQ(Slot(record, SLIDER_ROW_QUANTITY), 100);
            EXPECT_EQ(SliderPos(dialog, SLIDER_ROW_QUANTITY), 100);
            EXPECT_EQ(Text(dialog, SLIDER_CONTROL_TABLE[SLIDER_ROW_QUANTITY].editId), "150");
            SetFocus(angle);
            EXPECT_EQ(Text(dialog, SLIDER_CONTROL_TABLE[SLIDER_ROW_QUANTITY].editId), "100");
            return true;
        },
        RenderedQuantity(100),
        // A click on the channel jumps there: the far right end is the maximum.
        [&](HWND dialog) {
            HWND slider = GetDlgItem(dialog, SLIDER_CONTROL_TABLE[SLIDER_ROW_INTENSITY].sliderId);
            RECT channel = {}, thumb = {};
            SendMessageA(slider, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
            SendMessageA(slider, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
            const int y = (thumb.top + thumb.bottom) / 2;
            SendMessageA(slider, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(channel.right - 1, y));
            SendMessageA(slider, WM_LBUTTONUP, 0, MAKELPARAM(channel.right - 1, y));
            EXPECT_EQ(Slot(record, SLIDER_ROW_INTENSITY), 100);
            EXPECT_EQ(Text(dialog, SLIDER_CONTROL_TABLE[SLIDER_ROW_INTENSITY].editId), "100");
            EXPECT_EQ(GetFocus(), Edit(dialog, SLIDER_ROW_INTENSITY));  // the edit takes over after the click
            SendMessageA(slider, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(channel.left, y));
            SendMessageA(slider, WM_LBUTTONUP, 0, MAKELPARAM(channel.left, y));
            EXPECT_EQ(Slot(record, SLIDER_ROW_INTENSITY), 0);
            // Keys on the slider itself are noticed too.
            SetFocus(slider);
            SendMessageA(slider, WM_KEYDOWN, VK_RIGHT, 1);
            EXPECT_EQ(Slot(record, SLIDER_ROW_INTENSITY), 1);
            EXPECT_EQ(Text(dialog, SLIDER_CONTROL_TABLE[SLIDER_ROW_INTENSITY].editId), "1");

            HWND quantity = Edit(dialog, SLIDER_ROW_QUANTITY);
            FocusAndSelect(quantity);
            Type(quantity, "7");
            return true;
        },
        RenderedQuantity(7),
        Cancel(),
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(Slot(record, SLIDER_ROW_ANGLE), -450);
    EXPECT_EQ(Slot(record, SLIDER_ROW_NUMBER_OF_POINTS), 32);
}

TEST_F(MainDialog, AcceleratorKeysFocusValuesToggleEffectsOnlyAndChooseTools) {
    bool ok = Run({
        RenderedQuantity(50),  // the task is ready: Hide and Show are usable
        [&](HWND) {
            PostKey('L');
            return true;
        },
        [&](HWND dialog) {
            EXPECT_EQ(GetFocus(), Edit(dialog, SLIDER_ROW_LENGTH));
            PostKey('O');
            return true;
        },
        [&](HWND dialog) {
            EXPECT_EQ(record.slot[SLOT_EFFECTS_ONLY], 1);
            EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_EFFECTS_ONLY), BST_CHECKED);
            EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_EFFECTS_ONLY));
            return true;
        },
        [&](HWND) { return gLastEffectsOnly.load() == 1; },  // and the preview was asked for again
        [&](HWND) {
            PostKey('X');
            return true;
        },
        [&](HWND dialog) {
            EXPECT_EQ(GetProxyTool(GetDlgItem(dialog, IDC_PREVIEW_AREA)), PREVIEW_TOOL_HIDE);
            PostKey('H');
            return true;
        },
        [&](HWND dialog) {
            EXPECT_EQ(GetProxyTool(GetDlgItem(dialog, IDC_PREVIEW_AREA)), PREVIEW_TOOL_PAN);
            // While the settings list has the focus, letters are its own.
            SetFocus(GetDlgItem(dialog, IDC_SETTINGS_LIST));
            PostKey('Q');
            return true;
        },
        [&](HWND dialog) {
            EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_SETTINGS_LIST));
            SetFocus(Edit(dialog, SLIDER_ROW_LENGTH));
            PostKey('Q');
            return true;
        },
        [&](HWND dialog) {
            EXPECT_EQ(GetFocus(), Edit(dialog, SLIDER_ROW_QUANTITY));
            PostKey(VK_ESCAPE);
            return true;
        },
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetGlobalErrorCode(), RUN_CANCELLED);
}

TEST_F(MainDialog, OkKeepsTheValuesAndTheWindowPlaceAnErrorClosesTheDialog) {
    RECT window = {};
    bool ok = Run({
        [&](HWND dialog) {
            HWND quantity = Edit(dialog, SLIDER_ROW_QUANTITY);
            FocusAndSelect(quantity);
            Type(quantity, "70");
            SetWindowPos(dialog, nullptr, 20, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            GetWindowRect(dialog, &window);
            PostKey(VK_RETURN);  // the default button
            return true;
        },
    });
    EXPECT_TRUE(ok);
    EXPECT_EQ(GetGlobalErrorCode(), RUN_OK);
    EXPECT_EQ(Slot(record, SLIDER_ROW_QUANTITY), 70);

    InterfaceSettings saved = {};
    ASSERT_TRUE(LoadInterfaceSettings(&saved));
    EXPECT_EQ(saved.windowRect[0], window.left);
    EXPECT_EQ(saved.windowRect[1], window.top);
    EXPECT_EQ(saved.windowRect[2], window.right);
    EXPECT_EQ(saved.windowRect[3], window.bottom);
    EXPECT_EQ(saved.previewTool, PREVIEW_TOOL_ZOOM);
    std::vector<uint8_t> last = ReadWholeFile(SettingsFile(kLastSavedParametersFile));
    ASSERT_GE(last.size(), PARAMETER_RECORD_SIZE);
    FilterParameters lastRecord;
    std::memcpy(&lastRecord, last.data(), sizeof(lastRecord));
    EXPECT_EQ(Slot(lastRecord, SLIDER_ROW_QUANTITY), 70);

    // The dialog opens where it was left.
    ok = Run({
        [&](HWND dialog) {
            RECT now;
            GetWindowRect(dialog, &now);
            EXPECT_TRUE(EqualRect(&now, &window));
            // A failure elsewhere in the run ends the dialog at the next message.
            SetGlobalErrorCode(RUN_BAD_PARAMETERS);
            PostMessageA(dialog, WM_NULL, 0, 0);
            return true;
        },
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetGlobalErrorCode(), RUN_BAD_PARAMETERS);
}

TEST_F(MainDialog, SavedPlaceOnAMissingMonitorAndSavedToolAreHonoured) {
    InterfaceSettings settings = DefaultInterfaceSettings();
    const int32_t saved[4] = {3000, 200, 4000, 900};  // right of the only screen
    std::memcpy(settings.windowRect, saved, sizeof(saved));
    settings.previewTool = PREVIEW_TOOL_HIDE;
    ASSERT_TRUE(WriteInterfaceSettings(settings));

    bool ok = Run({
        [&](HWND dialog) {
            RECT r;
            GetWindowRect(dialog, &r);
            const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
            // Centred on the screen, no smaller than the dialog was designed.
            EXPECT_LE(std::abs((r.left + r.right) - width), 1);
            EXPECT_LE(std::abs((r.top + r.bottom) - height), 1);
            EXPECT_GE(r.right - r.left, 1000);
            // Hide waits for the task: Zoom is used until then.
            HWND preview = GetDlgItem(dialog, IDC_PREVIEW_AREA);
            if (!IsWindowEnabled(GetDlgItem(dialog, IDC_TOOL_HIDE))) {
                EXPECT_EQ(GetProxyTool(preview), PREVIEW_TOOL_ZOOM);
            }
            return true;
        },
        [&](HWND dialog) {
            if (!IsWindowEnabled(GetDlgItem(dialog, IDC_TOOL_HIDE))) return false;
            EXPECT_EQ(GetProxyTool(GetDlgItem(dialog, IDC_PREVIEW_AREA)), PREVIEW_TOOL_HIDE);
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_TOOL_SHOW)));
            return true;
        },
        // A click on a tool picks it; a double click on Zoom also returns to 100 %.
        [&](HWND dialog) {
            HWND preview = GetDlgItem(dialog, IDC_PREVIEW_AREA);
            Click(dialog, IDC_TOOL_PAN);
            EXPECT_EQ(GetProxyTool(preview), PREVIEW_TOOL_PAN);
            ProxySetZoom(preview, 200.0);
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_TOOL_ZOOM, BN_DOUBLECLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_TOOL_ZOOM)));
            EXPECT_EQ(GetProxyTool(preview), PREVIEW_TOOL_ZOOM);
            EXPECT_DOUBLE_EQ(GetProxyZoom(preview), 100.0);
            return true;
        },
        [&](HWND dialog) {
            Click(dialog, IDOK);
            return true;
        },
    });
    EXPECT_TRUE(ok);
    InterfaceSettings after = {};
    ASSERT_TRUE(LoadInterfaceSettings(&after));
    EXPECT_EQ(after.previewTool, PREVIEW_TOOL_ZOOM);
    EXPECT_LT(after.windowRect[2], GetSystemMetrics(SM_CXSCREEN) + 1);
}

TEST_F(MainDialog, MovingASliderAwayFromAChosenSetClearsTheListAndMovingBackSelectsIt) {
    FilterParameters set = FACTORY_PARAMETERS;
    set.slot[SLOT_QUANTITY] = 70;
    std::vector<uint8_t> block(PARAMETER_BLOCK_SIZE, 0);
    std::memcpy(block.data(), &set, sizeof(set));
    ASSERT_TRUE(WriteParameterFile(block.data(), ParameterFilePath("Saved")));
    set.slot[SLOT_LENGTH] = 500;
    set.slot[SLOT_QUANTITY] = -7;
    std::memcpy(block.data(), &set, sizeof(set));
    ASSERT_TRUE(WriteParameterFile(block.data(), ParameterFilePath("Wild")));

    int savedIndex = -1;
    auto moveQuantity = [&](HWND dialog, int value) {
        HWND slider = GetDlgItem(dialog, SLIDER_CONTROL_TABLE[SLIDER_ROW_QUANTITY].sliderId);
        SendMessageA(slider, TBM_SETPOS, TRUE, value);
        SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, value), reinterpret_cast<LPARAM>(slider));
    };
    bool ok = Run({
        [&](HWND dialog) {
            HWND list = GetDlgItem(dialog, IDC_SETTINGS_LIST);
            savedIndex = static_cast<int>(SendMessageA(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                       reinterpret_cast<LPARAM>("Saved")));
            EXPECT_GE(savedIndex, 2);
            SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(savedIndex), 0);
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SETTINGS_LIST, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
            EXPECT_EQ(Slot(record, SLIDER_ROW_QUANTITY), 70);
            EXPECT_EQ(SliderPos(dialog, SLIDER_ROW_QUANTITY), 70);
            EXPECT_EQ(Text(dialog, SLIDER_CONTROL_TABLE[SLIDER_ROW_QUANTITY].editId), "70");
            moveQuantity(dialog, 71);
            return true;
        },
        [&](HWND dialog) {
            EXPECT_EQ(Slot(record, SLIDER_ROW_QUANTITY), 71);
            EXPECT_EQ(Text(dialog, SLIDER_CONTROL_TABLE[SLIDER_ROW_QUANTITY].editId), "71");
            EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_SETTINGS_LIST, CB_GETCURSEL, 0, 0), CB_ERR);
            moveQuantity(dialog, 70);
            return true;
        },
        [&](HWND dialog) {
            EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_SETTINGS_LIST, CB_GETCURSEL, 0, 0), savedIndex);
            // A set from a file with values outside the ranges: the record, the
            // sliders and the edits all hold the clamped values.
            HWND list = GetDlgItem(dialog, IDC_SETTINGS_LIST);
            const int wild = static_cast<int>(SendMessageA(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                           reinterpret_cast<LPARAM>("Wild")));
            EXPECT_GE(wild, 2);
            SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(wild), 0);
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SETTINGS_LIST, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
            EXPECT_EQ(Slot(record, SLIDER_ROW_LENGTH), 100);
            EXPECT_EQ(Text(dialog, SLIDER_CONTROL_TABLE[SLIDER_ROW_LENGTH].editId), "100");
            EXPECT_EQ(Slot(record, SLIDER_ROW_QUANTITY), 0);
            EXPECT_EQ(SliderPos(dialog, SLIDER_ROW_QUANTITY), 0);
            return true;
        },
        [&](HWND dialog) {
            // "Default Settings" puts every control back to the factory values.
            SendDlgItemMessageA(dialog, IDC_SETTINGS_LIST, CB_SETCURSEL, SETTINGS_ITEM_DEFAULT, 0);
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SETTINGS_LIST, CBN_SELCHANGE),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_SETTINGS_LIST)));
            for (int row = 0; row < SLIDER_ROW_COUNT; row++) {
                const SliderControlRow& r = SLIDER_CONTROL_TABLE[row];
                EXPECT_EQ(Slot(record, row), FACTORY_PARAMETERS.slot[r.slot]) << row;
                EXPECT_EQ(SliderPos(dialog, row), FACTORY_PARAMETERS.slot[r.slot]) << row;
                EXPECT_EQ(Text(dialog, r.editId), FormatParameterValue(row, FACTORY_PARAMETERS.slot[r.slot])) << row;
            }
            return true;
        },
        Cancel(),
    });
    EXPECT_FALSE(ok);
}
