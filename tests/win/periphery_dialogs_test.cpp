// The Options dialog, the About box and the light source table dialog on the
// virtual display, each run modally as the plug-in runs it. A thread timer
// on the test thread runs a script inside the dialog's own message loop.
// The registry settings go to test keys under HKCU.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "analysis/light_source_table.h"
#include "gl/drawing_settings.h"
#include "gl/gl_context.h"
#include "image/tracked_buffer.h"
#include "support/debug_log.h"
#include "tests/test_support.h"
#include "tests/win/gl_test_support.h"
#include "ui/about_box.h"
#include "ui/accelerators.h"
#include "ui/dialog_ids.h"
#include "ui/light_source_table_dialog.h"
#include "ui/options_dialog.h"

namespace {

const char kUpdatesKey[] = "Software\\RaylumeTests\\Product Updates";
const char kOpenGLKey[] = "Software\\RaylumeTests\\OpenGLSettings";  // as GLTestContext uses
const char kAboutTitle[] = "About Raylume Pro 2";
const char kTableTitle[] = "Light Source Table Entries";

// ---- the script ----

// A step returns false to be run again on the next tick, true to go on.
using Step = std::function<bool(HWND dialog)>;
struct Script {
    const char* title;
    std::vector<Step> steps;
    size_t next = 0;
    int ticks = 0;
    bool running = false;
};
Script* gScript = nullptr;
constexpr int kPatience = 500;  // ticks of 20 ms

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (!gScript || gScript->running) return;
    HWND dialog = FindWindowA("#32770", gScript->title);
    if (!dialog || !IsWindowVisible(dialog)) return;
    gScript->running = true;
    if (++gScript->ticks > kPatience) {
        ADD_FAILURE() << "the script of \"" << gScript->title << "\" stalled at step " << gScript->next;
        gScript->next = gScript->steps.size() + 1;
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    } else if (gScript->next < gScript->steps.size() && gScript->steps[gScript->next](dialog)) {
        gScript->next++;
    }
    gScript->running = false;
}

// Opens the dialog titled `title` through `open` and runs the steps in it;
// the last step must close it. The dialog's end code.
INT_PTR RunScripted(const char* title, std::vector<Step> steps, const std::function<INT_PTR()>& open) {
    Script script;
    script.title = title;
    script.steps = std::move(steps);
    gScript = &script;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, Tick);
    const INT_PTR result = open();
    KillTimer(nullptr, timer);
    gScript = nullptr;
    EXPECT_EQ(script.next, script.steps.size()) << "\"" << title << "\" closed before its script ended";
    return result;
}

INT_PTR RunOptions(std::vector<Step> steps) {
    return RunScripted(OptionsDialogTitle(), std::move(steps),
                       [] { return ShowOptionsDialog(GetModuleHandleA(nullptr), nullptr) ? 1 : 0; });
}

INT_PTR RunAbout(std::vector<Step> steps) {
    return RunScripted(kAboutTitle, std::move(steps), [] { return ShowAboutBox(GetModuleHandleA(nullptr), nullptr); });
}

std::string Text(HWND dialog, int id) {
    char text[512] = {};
    GetDlgItemTextA(dialog, id, text, sizeof(text));
    return text;
}

void Click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

Step ClickStep(int id) {
    return [id](HWND dialog) {
        Click(dialog, id);
        return true;
    };
}

bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

const int kOpenGLButtons[] = {IDC_OPENGL_QUALITY, IDC_OPENGL_SPEED, IDC_OPENGL_COMPATIBILITY, IDC_OPENGL_SOFTWARE};

// ---- the registry ----

struct StoredValue {
    DWORD type = REG_NONE;
    uint64_t number = 0;
    std::string text;
};
StoredValue Stored(const char* name) {
    StoredValue value;
    BYTE data[256] = {};
    DWORD size = sizeof(data);
    if (RegGetValueA(HKEY_CURRENT_USER, kUpdatesKey, name, RRF_RT_ANY, &value.type, data, &size) != ERROR_SUCCESS)
        return StoredValue();
    if (value.type == REG_DWORD) value.number = *reinterpret_cast<DWORD*>(data);
    if (value.type == REG_QWORD) value.number = *reinterpret_cast<uint64_t*>(data);
    if (value.type == REG_SZ) value.text = reinterpret_cast<char*>(data);
    return value;
}

void StoreOpenGLSetting(uint32_t setting) {
    OpenGLRegistrySettings settings;
    settings.optimizationSetting = setting;
    settings.installedProductVersion = "2.0.0.0";
    ASSERT_TRUE(WriteOpenGLRegistryData(&settings));
}

uint32_t StoredOpenGLSetting() {
    OpenGLRegistrySettings settings;
    EXPECT_TRUE(ReadOpenGLRegistryData(&settings));
    return settings.optimizationSetting;
}

class PeripheryDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        InitializeBufferUsage();
        SetUserInterfaceThread(GetCurrentThreadId());  // user messages are shown, not posted
        SetUpdatePreferencesKeyForTesting(kUpdatesKey);
        SetOpenGLRegistryKeyForTesting(kOpenGLKey);
        RegDeleteKeyA(HKEY_CURRENT_USER, kUpdatesKey);
        RegDeleteTreeA(HKEY_CURRENT_USER, kOpenGLKey);  // with the per-user subkey
        ResetDrawingSettingsForTesting();
        ShownMessageBoxes().clear();
    }
    void TearDown() override {
        FreeAcceleratorKeys();
        RegDeleteKeyA(HKEY_CURRENT_USER, kUpdatesKey);
        RegDeleteTreeA(HKEY_CURRENT_USER, kOpenGLKey);  // with the per-user subkey
        SetUpdatePreferencesKeyForTesting(nullptr);
        SetOpenGLRegistryKeyForTesting(nullptr);
        ResetDrawingSettingsForTesting();
    }
};

using OptionsDialog = PeripheryDialogs;
using AboutBox = PeripheryDialogs;
using LightSourceTableDialog = PeripheryDialogs;

}  // namespace

TEST_F(OptionsDialog, WithoutAKeyShowsTheDefaultsAndCancelLeavesOnlyTheNewKey) {
    const INT_PTR result = RunOptions({
        [](HWND dialog) {
            EXPECT_TRUE(Checked(dialog, IDC_UPDATE_CHECK));
            EXPECT_EQ(Text(dialog, IDC_UPDATE_INTERVAL), "7");
            EXPECT_EQ(Text(dialog, IDC_UPDATE_INTERVAL_UNIT), "days.");
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_UPDATE_INTERVAL)));
            EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, IDC_OPENGL_NOTE)));
            // The label follows what is typed.
            SetDlgItemTextA(dialog, IDC_UPDATE_INTERVAL, "1");
            EXPECT_EQ(Text(dialog, IDC_UPDATE_INTERVAL_UNIT), "day.");
            SetDlgItemTextA(dialog, IDC_UPDATE_INTERVAL, "14");
            EXPECT_EQ(Text(dialog, IDC_UPDATE_INTERVAL_UNIT), "days.");
            Click(dialog, IDC_UPDATE_CHECK);
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_UPDATE_INTERVAL)));
            return true;
        },
        ClickStep(IDC_OPTIONS_CANCEL),
    });
    EXPECT_EQ(result, 0);
    // The key was made with its five defaults; nothing changed in the dialog reached it.
    EXPECT_EQ(Stored("UpdateCheckEnabled").type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(Stored("UpdateCheckEnabled").number, 1u);
    EXPECT_EQ(Stored("UpdateIntervalInDays").number, 7u);
    EXPECT_EQ(Stored("LastUpdateCheckTime").type, static_cast<DWORD>(REG_QWORD));
    EXPECT_EQ(Stored("LastUpdateCheckTime").number, 0u);
    for (const char* name : {"UpdateMessageVersion", "UpdateSoftwareVersion"}) {
        EXPECT_EQ(Stored(name).type, static_cast<DWORD>(REG_SZ)) << name;
        EXPECT_EQ(Stored(name).text, "") << name;
    }
    EXPECT_TRUE(ShownMessageBoxes().empty());
}

TEST_F(OptionsDialog, OkStoresThePreferencesAndANewOpenGLSettingWithANote) {
    StoreOpenGLSetting(OPTIMIZE_FOR_QUALITY);
    // A key that has lost two of its values: those read as on and 1 day.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kUpdatesKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const uint64_t lastCheck = 0x123456789ull;
    RegSetValueExA(key, "LastUpdateCheckTime", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&lastCheck), 8);
    RegCloseKey(key);

    CapturedReports reports;
    INT_PTR result = RunOptions({
        [](HWND dialog) {
            EXPECT_TRUE(Checked(dialog, IDC_UPDATE_CHECK));
            EXPECT_EQ(Text(dialog, IDC_UPDATE_INTERVAL), "1");
            EXPECT_EQ(Text(dialog, IDC_UPDATE_INTERVAL_UNIT), "day.");
            EXPECT_TRUE(Checked(dialog, IDC_OPENGL_QUALITY));
            SetDlgItemTextA(dialog, IDC_UPDATE_INTERVAL, "30");
            Click(dialog, IDC_OPENGL_SPEED);
            for (int id : kOpenGLButtons) EXPECT_EQ(Checked(dialog, id), id == IDC_OPENGL_SPEED) << id;
            return true;
        },
        ClickStep(IDC_OPTIONS_OK),
    });
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(reports.Contains("Could not read the UpdateCheckEnabled flag."));
    EXPECT_TRUE(reports.Contains("Could not read the UpdateIntervalInDays value."));
    EXPECT_EQ(Stored("UpdateCheckEnabled").number, 1u);
    EXPECT_EQ(Stored("UpdateIntervalInDays").number, 30u);
    EXPECT_EQ(Stored("LastUpdateCheckTime").number, lastCheck);
    EXPECT_EQ(StoredOpenGLSetting(), static_cast<uint32_t>(OPTIMIZE_FOR_SPEED));
    ASSERT_EQ(ShownMessageBoxes().size(), 1u);
    EXPECT_EQ(ShownMessageBoxes()[0].caption, "Please Note");
    EXPECT_EQ(ShownMessageBoxes()[0].text,
              "The OpenGL drawing setting you have chosen, 'Optimize for faster display', will take effect the next "
              "time the plug-in is started.");

    // Choosing the stored setting again and pressing Enter: no note.
    result = RunOptions({
        ClickStep(IDC_OPENGL_SPEED),
        [](HWND dialog) {
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
            return true;
        },
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ShownMessageBoxes().size(), 1u);
}

TEST_F(OptionsDialog, AStoredSettingOfZeroGreysTheOpenGLButtonsAndOkKeepsIt) {
    StoreOpenGLSetting(OPTIMIZE_NOT_DETERMINED);
    const INT_PTR result = RunOptions({
        [](HWND dialog) {
            for (int id : kOpenGLButtons) {
                EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, id))) << id;
                EXPECT_FALSE(Checked(dialog, id)) << id;
            }
            return true;
        },
        ClickStep(IDC_OPTIONS_OK),
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(StoredOpenGLSetting(), 0u);
    EXPECT_TRUE(ShownMessageBoxes().empty());
}

TEST_F(OptionsDialog, ASecondStandaloneStartBringsTheFirstToTheFront) {
    HANDLE first = nullptr;
    ASSERT_TRUE(ClaimStandaloneOptionsDialog(&first));
    RunOptions({
        [](HWND dialog) {
            HWND other = CreateWindowExA(0, "STATIC", "elsewhere", WS_POPUP | WS_VISIBLE, 0, 0, 60, 40, nullptr,
                                         nullptr, GetModuleHandleA(nullptr), nullptr);
            SetForegroundWindow(other);
            EXPECT_EQ(GetForegroundWindow(), other);
            HANDLE second = INVALID_HANDLE_VALUE;
            EXPECT_FALSE(ClaimStandaloneOptionsDialog(&second));
            EXPECT_EQ(second, nullptr);
            EXPECT_EQ(GetForegroundWindow(), dialog);
            DestroyWindow(other);
            return true;
        },
        ClickStep(IDC_OPTIONS_CANCEL),
    });
    ReleaseStandaloneOptionsDialog(first);
    HANDLE again = nullptr;
    EXPECT_TRUE(ClaimStandaloneOptionsDialog(&again));
    ReleaseStandaloneOptionsDialog(again);
}

TEST_F(AboutBox, BeforeAnyPreviewAHiddenContextGivesTheOpenGLVersion) {
    char version[64];
    std::snprintf(version, sizeof(version), "Version: %d.%d.%d.%d x64", RAYLUME_VERSION_MAJOR, RAYLUME_VERSION_MINOR,
                  RAYLUME_VERSION_REVISION, RAYLUME_VERSION_BUILD);
    for (uint32_t setting : {OPTIMIZE_FOR_QUALITY, OPTIMIZE_NONE}) {
        StoreOpenGLSetting(setting);
        CapturedReports reports;
        std::string line;
        const INT_PTR result = RunAbout({
            [&](HWND dialog) {
                line = Text(dialog, IDC_ABOUT_OPENGL_VERSION);
                EXPECT_EQ(Text(dialog, IDC_ABOUT_VERSION), version);
                EXPECT_NE(SendDlgItemMessageA(dialog, IDC_ABOUT_SPLASH, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
                return true;
            },
            ClickStep(IDC_ABOUT_OK),
        });
        EXPECT_EQ(result, 1);
        EXPECT_EQ(CountGLEWContexts(), 0) << "the hidden context was not destroyed";
        if (setting == OPTIMIZE_NONE) {
            // Software rendering asks for the software pixel format (a bitmap context on Mesa).
            EXPECT_TRUE(reports.Contains("GPU Acceleration = No.")) << setting;
            EXPECT_EQ(line.rfind("OpenGL Version ", 0), 0u) << line;
            EXPECT_NE(line, "OpenGL Version Unknown");
        } else {
            EXPECT_TRUE(reports.Contains("GPU Acceleration = Yes.")) << setting;
            EXPECT_EQ(line, "OpenGL Version 4.5");  // llvmpipe
        }
    }
}

TEST_F(AboutBox, ThePreviewsVersionWinsAndWithoutAnyContextItIsUnknown) {
    // The preview's context, and hidden contexts in every other table slot.
    GLTestContext preview;
    ASSERT_TRUE(preview.Open(32, 32, OPTIMIZE_FOR_QUALITY, false));
    std::vector<OpenGLContext> hidden(GLEW_CONTEXT_SLOTS - 1);
    for (OpenGLContext& context : hidden) {
        PIXELFORMATDESCRIPTOR descriptor;
        bool accelerated = true;
        ASSERT_TRUE(CreateHiddenOpenGLContext(&context, &descriptor, &accelerated));
    }
    auto aboutLine = [] {
        std::string line;
        RunAbout({
            [&](HWND dialog) {
                line = Text(dialog, IDC_ABOUT_OPENGL_VERSION);
                PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
                return true;
            },
        });
        return line;
    };
    EXPECT_EQ(aboutLine(), "OpenGL Version 4.5");
    ResetDrawingSettingsForTesting();  // as before any preview: no version kept
    EXPECT_EQ(aboutLine(), "OpenGL Version Unknown");
    for (OpenGLContext& context : hidden) DestroyHiddenOpenGLContext(&context);
}

TEST_F(LightSourceTableDialog, ListsTheTableCopiesEveryLineWithCrLfAndKeepsItsMinimumSize) {
    LightSourceList table;
    InitializeLightSourceList(&table);
    ASSERT_EQ(ReserveLightSources(&table, 3), 0);
    LightSource* records = LightSourceRecords(&table);
    records[0] = LightSource{10, 1, 20, 2, 3.0f, 9.0f, 0xFF00, 0, 0, 0, 0, 0, LIGHT_SOURCE_AUTO, LIGHT_SOURCE_AUTO};
    records[1] = LightSource{5, 0, 7, 0, 1.5f, 2.25f, 0x1A, 0, 0, 0, 0, 0, LIGHT_SOURCE_HIDDEN, LIGHT_SOURCE_AUTO};
    records[2] = LightSource{100, 3, 0, 0, 4.0f, 16.0f, 0xABCDE, 0, 0, 0, 0, 0, LIGHT_SOURCE_SHOWN, LIGHT_SOURCE_AUTO};
    table.count = 3;
    const std::string expected =
        "LightSourceTable[0000] x = 10.25, y = 20.50, Diam = 6.00, Bright = FF00\r\n"
        "LightSourceTable[0001] x = 5.00, y = 7.00, Diam = 3.00, Bright = 1A (D)\r\n"
        "LightSourceTable[0002] x = 100.75, y = 0.00, Diam = 8.00, Bright = ABCDE\r\n";

    auto clipboard = [] {
        std::string text;
        if (!OpenClipboard(nullptr)) return std::string("(clipboard not opened)");
        if (HANDLE data = GetClipboardData(CF_TEXT)) {
            if (const char* locked = static_cast<const char*>(GlobalLock(data))) text = locked;
            GlobalUnlock(data);
        }
        CloseClipboard();
        return text;
    };
    auto setClipboard = [](const char* text) {
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, strlen(text) + 1);
        memcpy(GlobalLock(block), text, strlen(text) + 1);
        GlobalUnlock(block);
        ASSERT_TRUE(OpenClipboard(nullptr));
        EmptyClipboard();
        SetClipboardData(CF_TEXT, block);
        CloseClipboard();
    };
    setClipboard("stale");

    RECT list0 = {}, ok0 = {};
    SIZE size0 = {};
    auto rectOf = [](HWND dialog, int id) {
        RECT r;
        GetWindowRect(GetDlgItem(dialog, id), &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    const INT_PTR result = RunScripted(
        kTableTitle,
        {
            [&](HWND dialog) {
                EXPECT_NE(Text(dialog, IDC_LIGHT_SOURCE_COUNT).find("NumberOfLightSources = 3"), std::string::npos);
                HWND list = GetDlgItem(dialog, IDC_LIGHT_SOURCE_LIST);
                EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 3);
                SetFocus(list);
                SendMessageA(list, WM_KEYDOWN, VK_CONTROL, 0x001D0001);
                SendMessageA(list, WM_CHAR, 3, 0x002E0001);  // Ctrl+C with nothing selected
                EXPECT_EQ(clipboard(), "stale");
                SendMessageA(list, WM_CHAR, 1, 0x001E0001);  // Ctrl+A
                EXPECT_EQ(SendMessageA(list, LB_GETSELCOUNT, 0, 0), 3);
                SendMessageA(list, WM_CHAR, 3, 0x002E0001);  // Ctrl+C
                SendMessageA(list, WM_KEYUP, VK_CONTROL, 0xC01D0001);
                EXPECT_EQ(clipboard(), expected);
                return true;
            },
            [&](HWND dialog) {
                RECT window;
                GetWindowRect(dialog, &window);
                size0 = {window.right - window.left, window.bottom - window.top};
                list0 = rectOf(dialog, IDC_LIGHT_SOURCE_LIST);
                ok0 = rectOf(dialog, IDOK);
                SetWindowPos(dialog, nullptr, 0, 0, size0.cx - 80, size0.cy - 60, SWP_NOMOVE | SWP_NOZORDER);
                GetWindowRect(dialog, &window);
                EXPECT_EQ(window.right - window.left, size0.cx) << "shrunk below its initial size";
                EXPECT_EQ(window.bottom - window.top, size0.cy) << "shrunk below its initial size";
                SetWindowPos(dialog, nullptr, 0, 0, size0.cx + 100, size0.cy + 60, SWP_NOMOVE | SWP_NOZORDER);
                const RECT list = rectOf(dialog, IDC_LIGHT_SOURCE_LIST), ok = rectOf(dialog, IDOK);
                EXPECT_EQ(list.right - list.left, list0.right - list0.left + 100);
                EXPECT_EQ(list.bottom - list.top, list0.bottom - list0.top + 60);
                EXPECT_EQ(ok.left, ok0.left + 50);
                EXPECT_EQ(ok.top, ok0.top + 60);
                return true;
            },
            ClickStep(IDOK),
        },
        [&] { return ShowLightSourceTableDialog(GetModuleHandleA(nullptr), nullptr, &table); });
    EXPECT_EQ(result, 0);
    ReleaseLightSourceList(&table);
}
