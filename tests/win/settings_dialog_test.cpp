// The settings list bound to a real combo box, in a bare dialog made from an
// in-memory template (the main dialog binds it the same way).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "params/filter_parameters.h"
#include "params/parameter_files.h"
#include "params/settings_list.h"
#include "params/user_data_folders.h"
#include "support/os.h"
#include "tests/test_support.h"
#include "ui/settings_menu_win32.h"

namespace {

INT_PTR CALLBACK BareDialog(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

// A dialog with the settings combo (1023) and the menu button (1050).
std::vector<WORD> Template() {
    std::vector<WORD> t;
    auto dword = [&](DWORD v) {
        t.push_back(LOWORD(v));
        t.push_back(HIWORD(v));
    };
    auto align = [&]() {
        if (t.size() % 2) t.push_back(0);
    };
    dword(WS_POPUP | WS_CAPTION | DS_SETFONT);  // DLGTEMPLATE
    dword(0);
    t.push_back(2);  // items
    t.push_back(0);
    t.push_back(0);
    t.push_back(200);
    t.push_back(120);
    t.push_back(0);  // menu
    t.push_back(0);  // class
    t.push_back(0);  // title
    t.push_back(8);  // font size
    for (const char* c = "Tahoma"; *c; c++) t.push_back(static_cast<WORD>(*c));
    t.push_back(0);
    struct Item {
        DWORD style;
        WORD id;
        WORD atom;
    } items[2] = {{WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST | WS_VSCROLL, 1023, 0x0085},
                  {WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 1050, 0x0080}};
    for (const Item& item : items) {
        align();
        dword(item.style);
        dword(0);
        t.push_back(10);
        t.push_back(10);
        t.push_back(120);
        t.push_back(80);
        t.push_back(item.id);
        t.push_back(0xFFFF);
        t.push_back(item.atom);
        t.push_back(0);  // no text
        t.push_back(0);  // no creation data
    }
    return t;
}

std::string ComboText(HWND combo, int index) {
    char text[256] = {};
    SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    return text;
}

void WriteSet(const std::string& name, int16_t quantity) {
    FilterParameters p = FACTORY_PARAMETERS;
    p.slot[SLOT_QUANTITY] = quantity;
    std::vector<uint8_t> block(PARAMETER_BLOCK_SIZE, 0);
    std::memcpy(block.data(), &p, sizeof p);
    ASSERT_TRUE(WriteParameterFile(block.data(), ParameterFilePath(name)));
}

}  // namespace

TEST(SettingsDialog, TheComboShowsTheListAndAChoiceAppliesItsSet) {
    ASSERT_TRUE(MakeUserDataFolder());
    std::string folder;
    ASSERT_TRUE(GetUserParametersFolder(folder));
    EmptyFolder(folder);
    WriteSet("Beta", 20);
    WriteSet("alpha", 70);
    FilterParameters current = FACTORY_PARAMETERS;
    SetCurrentParameterRecord(&current);

    std::vector<WORD> t = Template();
    HWND dialog = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), reinterpret_cast<LPCDLGTEMPLATEA>(t.data()),
                                             nullptr, BareDialog, 0);
    ASSERT_NE(dialog, nullptr) << GetLastError();
    HWND combo = GetDlgItem(dialog, 1023);
    ASSERT_NE(combo, nullptr);

    SettingsList list;
    EXPECT_TRUE(InitSettingsControls(dialog, nullptr, list));
    ASSERT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 4);
    EXPECT_EQ(ComboText(combo, 0), "Default Settings");
    EXPECT_EQ(ComboText(combo, 1), "Initial Settings");
    // Whatever order the folder lists them in, the names sort without case.
    std::vector<std::string> names = {ComboText(combo, 2), ComboText(combo, 3)};
    EXPECT_TRUE((names == std::vector<std::string>{"alpha", "Beta"}) ||
                (names == std::vector<std::string>{"Beta", "alpha"}));
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 1);  // Initial Settings

    int alpha = names[0] == "alpha" ? 2 : 3;
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(alpha), 0);
    EXPECT_TRUE(OnSettingsSelectionChange(dialog, list));
    EXPECT_EQ(current.slot[SLOT_QUANTITY], 70);

    current.slot[SLOT_QUANTITY] = 71;  // a slider moves: no set matches any more
    RecheckSettingsControls(dialog, list);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);
    current.slot[SLOT_QUANTITY] = 70;  // and back
    RecheckSettingsControls(dialog, list);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), alpha);

    FreeSettingsControls(dialog, list);
    DestroyWindow(dialog);
    SetCurrentParameterRecord(nullptr);
}
