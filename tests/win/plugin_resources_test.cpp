// The resources the real module carries, read the way hosts and the plug-in
// itself read them: FindResource / LoadString / LoadMenu / LoadCursor /
// LoadImage on the loaded .8bf.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/host_abi.h"
#include "host/resource_description.h"
#include "tests/win/host_test_paths.h"

namespace {

class ModuleResources : public ::testing::Test {
protected:
    static void SetUpTestSuite() { module = LoadLibraryA(PluginModulePath().c_str()); }
    static void TearDownTestSuite() {
        if (module) FreeLibrary(module);
        module = nullptr;
    }
    void SetUp() override { ASSERT_NE(module, nullptr) << PluginModulePath() << " error " << GetLastError(); }

    static std::vector<uint8_t> Resource(LPCSTR type, int id) {
        HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
        if (!found) return {};
        HGLOBAL loaded = LoadResource(module, found);
        const auto* bytes = static_cast<const uint8_t*>(loaded ? LockResource(loaded) : nullptr);
        if (!bytes) return {};
        return std::vector<uint8_t>(bytes, bytes + SizeofResource(module, found));
    }

    static HMODULE module;
};
HMODULE ModuleResources::module = nullptr;

TEST_F(ModuleResources, ThePropertyListIsTheDescribedOneByteForByte) {
    const std::vector<uint8_t> pipl = Resource("PIPL", kPiplResourceId);
    ASSERT_FALSE(pipl.empty());
    EXPECT_EQ(pipl, BuildPiplResource());
    // Hosts spell the type either way.
    EXPECT_EQ(Resource("PiPL", kPiplResourceId), pipl);
}

TEST_F(ModuleResources, ThePropertyListNamesAFilterWhoseEntryIsExported) {
    const std::vector<uint8_t> pipl = Resource("PIPL", kPiplResourceId);
    std::vector<PiplProperty> properties;
    ASSERT_TRUE(ParsePiplResource(pipl.data(), pipl.size(), properties));
    const PiplProperty* kind = FindPiplProperty(properties, kPiplKind);
    ASSERT_NE(kind, nullptr);
    ASSERT_EQ(kind->data.size(), 4u);
    EXPECT_EQ(std::memcmp(kind->data.data(), "MFB8", 4), 0);  // '8BFM' as it lies in memory
    const PiplProperty* entry = FindPiplProperty(properties, kPiplCodeX64);
    ASSERT_NE(entry, nullptr);
    const std::string name(reinterpret_cast<const char*>(entry->data.data()));
    EXPECT_EQ(name, "PluginMain");
    EXPECT_NE(GetProcAddress(module, name.c_str()), nullptr);
}

TEST_F(ModuleResources, TheTerminologyIsTheDescribedOneByteForByte) {
    const std::vector<uint8_t> aete = Resource("AETE", kAeteResourceId);
    ASSERT_FALSE(aete.empty());
    EXPECT_EQ(aete, BuildAeteResource());
}

TEST_F(ModuleResources, TheHostFacingTextsAreInTheStringTable) {
    const wchar_t* const expected[] = {
        L"An integer is required between ^1 and ^2.",
        L"A decimal number is required between ^1 and ^2.",
        L"This plug-in requires Adobe Photoshop\u00AE ^1 or later functionality.",
        L"This plug-in is incompatible with this version of the host program.",
        L"the required suite \\'^0\\' is unavailable",
    };
    for (int i = 0; i < 5; i++) {
        wchar_t text[256] = {};
        const int length = LoadStringW(module, 16990 + i, text, 256);
        EXPECT_GT(length, 0) << "string " << 16990 + i;
        EXPECT_EQ(std::wstring(text), std::wstring(expected[i])) << "string " << 16990 + i;
    }
    wchar_t text[16];
    EXPECT_EQ(LoadStringW(module, 16995, text, 16), 0) << "no texts beyond 16994";
}

TEST_F(ModuleResources, TheSettingsMenuHasLoadSaveAndDeleteInItsFirstSubmenu) {
    HMENU menu = LoadMenuA(module, MAKEINTRESOURCEA(234));
    ASSERT_NE(menu, nullptr);
    HMENU settings = GetSubMenu(menu, 0);
    ASSERT_NE(settings, nullptr);
    ASSERT_EQ(GetMenuItemCount(settings), 3);
    const char* const texts[] = {"Load Settings...", "Save Settings...", "Delete Settings"};
    for (int i = 0; i < 3; i++) {
        char text[64] = {};
        GetMenuStringA(settings, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, texts[i]);
        EXPECT_EQ(GetMenuItemID(settings, i), static_cast<UINT>(40096 + i));
    }
    DestroyMenu(menu);
}

TEST_F(ModuleResources, CursorHundredNinetyFourIsAThirtyTwoPixelHandWithItsHotSpotOnTheFingertip) {
    ASSERT_NE(FindResourceA(module, MAKEINTRESOURCEA(194), MAKEINTRESOURCEA(12)), nullptr);  // RT_GROUP_CURSOR
    HCURSOR cursor = LoadCursorA(module, MAKEINTRESOURCEA(194));
    ASSERT_NE(cursor, nullptr);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(cursor, &info));
    EXPECT_FALSE(info.fIcon);
    EXPECT_EQ(info.xHotspot, 6u);
    EXPECT_EQ(info.yHotspot, 1u);
    // A monochrome cursor: one mask bitmap twice as high (AND above XOR).
    BITMAP mask = {};
    ASSERT_NE(GetObjectA(info.hbmMask, sizeof mask, &mask), 0);
    EXPECT_EQ(mask.bmWidth, 32);
    EXPECT_EQ(mask.bmHeight, 64);
    std::vector<uint8_t> bits(static_cast<size_t>(mask.bmWidthBytes) * mask.bmHeight);
    ASSERT_EQ(GetBitmapBits(info.hbmMask, static_cast<LONG>(bits.size()), bits.data()), static_cast<LONG>(bits.size()));
    auto bit = [&](int x, int y) { return (bits[static_cast<size_t>(y * mask.bmWidthBytes + x / 8)] >> (7 - x % 8)) & 1; };
    int opaque = 0, white = 0;
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 32; x++) {
            if (bit(x, y) == 0) opaque++;
            if (bit(x, y) == 0 && bit(x, y + 32) == 1) white++;
        }
    EXPECT_EQ(bit(6, 1), 0) << "the hot spot lies on the drawing";
    EXPECT_EQ(bit(0, 0), 1) << "the corner is transparent";
    EXPECT_GT(opaque, 150);
    EXPECT_LT(opaque, 600);
    EXPECT_GT(white, 50) << "a white hand with a black outline";
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

TEST_F(ModuleResources, TheSplashBitmapIsADarkTwentyFourBitPicture) {
    ASSERT_NE(FindResourceA(module, MAKEINTRESOURCEA(2001), MAKEINTRESOURCEA(2)), nullptr);  // RT_BITMAP
    HANDLE loaded = LoadImageA(module, MAKEINTRESOURCEA(2001), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    ASSERT_NE(loaded, nullptr);
    DIBSECTION dib = {};
    ASSERT_EQ(GetObjectA(loaded, sizeof dib, &dib), static_cast<int>(sizeof dib));
    EXPECT_EQ(dib.dsBm.bmWidth, 320);
    EXPECT_EQ(dib.dsBm.bmHeight, 200);
    EXPECT_EQ(dib.dsBm.bmBitsPixel, 24);
    EXPECT_EQ(dib.dsBmih.biCompression, static_cast<DWORD>(BI_RGB));
    ASSERT_NE(dib.dsBm.bmBits, nullptr);
    const auto* pixels = static_cast<const uint8_t*>(dib.dsBm.bmBits);
    uint64_t sum = 0;
    int brightest = 0;
    for (int y = 0; y < 200; y++)
        for (int x = 0; x < 320 * 3; x++) {
            const int v = pixels[y * dib.dsBm.bmWidthBytes + x];
            sum += static_cast<uint64_t>(v);
            if (v > brightest) brightest = v;
        }
    EXPECT_LT(sum / (320 * 200 * 3), 40u) << "a dark picture";
    EXPECT_GT(brightest, 200) << "with something bright in it";
    DeleteObject(loaded);
}

}  // namespace
