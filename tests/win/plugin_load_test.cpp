// The real plug-in module under Wine: loaded with LoadLibrary as a host
// would, its exports called, and its log file read back.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/host_abi.h"

namespace {

typedef void (*PluginMainProc)(int16 selector, void* block, intptr_t* data, int16* result);
typedef void(CALLBACK* RundllEntry)(HWND, HINSTANCE, LPSTR, int);

std::string gModulePath;
HMODULE gModule = nullptr;

std::string LogsFolder() {
    char root[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, root);
    return std::string(root) + "\\Corvane\\RaylumePro2\\Logs";
}

void DeleteLogs() {
    WIN32_FIND_DATAA data;
    std::string folder = LogsFolder();
    HANDLE find = FindFirstFileA((folder + "\\*.log").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        DeleteFileA((folder + "\\" + data.cFileName).c_str());
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

std::vector<uint8_t> ReadLogBytes(int generation = 0) {
    char name[64];
    std::snprintf(name, sizeof(name), "\\RaylumePro2_%02d.log", generation);
    std::ifstream in(LogsFolder() + name, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Narrow(const std::vector<uint8_t>& bytes) {
    std::string out;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) out += static_cast<char>(bytes[i]);
    return out;
}

// A minimal host: handles and nothing else.
struct Handles {
    static Handle New(int32 size) {
        auto** h = new char*;
        *h = static_cast<char*>(std::calloc(1, size ? size : 1));
        return h;
    }
    static void Dispose(Handle h) {
        std::free(*h);
        delete h;
    }
    static Ptr Lock(Handle h, Boolean) { return *h; }
    static void Unlock(Handle) {}
};

class PluginModule : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gModule = LoadLibraryA(gModulePath.c_str());
        ASSERT_NE(gModule, nullptr) << gModulePath << " error " << GetLastError();
    }
    void SetUp() override {
        ASSERT_NE(gModule, nullptr);
        pluginMain = reinterpret_cast<PluginMainProc>(GetProcAddress(gModule, "PluginMain"));
        ASSERT_NE(pluginMain, nullptr);
        procs.version = 1;
        procs.numHandleProcs = 8;
        procs.newProc = Handles::New;
        procs.disposeProc = Handles::Dispose;
        procs.lockProc = Handles::Lock;
        procs.unlockProc = Handles::Unlock;
        record = static_cast<FilterRecord*>(std::calloc(1, sizeof(FilterRecord)));
        record->handleProcs = &procs;
        record->platformData = &platform;
    }
    void TearDown() override { std::free(record); }
    PluginMainProc pluginMain = nullptr;
    HandleProcs procs = {};
    PlatformData platform = {};
    FilterRecord* record = nullptr;
};

}  // namespace

TEST_F(PluginModule, ExportsItsEntryPointsAndDialogProceduresUnmangled) {
    EXPECT_NE(GetProcAddress(gModule, "PluginMain"), nullptr);
    EXPECT_NE(GetProcAddress(gModule, "ConfigureOptions"), nullptr);
    EXPECT_NE(GetProcAddress(gModule, "InstallConfiguration"), nullptr);
    EXPECT_NE(GetProcAddress(gModule, "DisplayLightSourceTableProc"), nullptr);
}

TEST_F(PluginModule, AnUnknownSelectorLeavesTheResultAlone) {
    intptr_t data = 0;
    int16 result = 1234;
    pluginMain(77, record, &data, &result);
    EXPECT_EQ(result, 1234);
    EXPECT_EQ(data, 0);
    // The run's services started with it; a failing start without handles ends them.
    result = 0;
    pluginMain(filterSelectorStart, record, &data, &result);
    EXPECT_EQ(result, -30100);
}

TEST_F(PluginModule, ARunWritesAUtf16LogWithBannerAndClosingLine) {
    DeleteLogs();
    intptr_t data = 0;
    int16 result = 0;
    pluginMain(filterSelectorStart, record, &data, &result);  // no handles: -30100 and tear-down
    EXPECT_EQ(result, -30100);
    auto bytes = ReadLogBytes();
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    std::string text = Narrow(bytes);
    EXPECT_EQ(text.rfind("Raylume Pro 2 version 2.0.0.0 64 bit Release (", 0), 0u) << text;
    EXPECT_NE(text.find(" Log opened on "), std::string::npos);
    EXPECT_NE(text.find("\nLog closed on "), std::string::npos);
    EXPECT_EQ(text.back(), '\n');
}

TEST_F(PluginModule, ParametersSelectorHandsOutTheFactoryRecordAndAsksForTheDialog) {
    intptr_t data = 0;
    int16 result = 0;
    pluginMain(filterSelectorParameters, record, &data, &result);
    ASSERT_EQ(result, 0);
    ASSERT_NE(record->parameters, nullptr);
    ASSERT_NE(data, 0);
    const int16_t expected[18] = {0, 0, 0, 6, 50, 50, 0, 4, 50, 30, 50, 50, 50, 50, 0, 50, 0, 30};
    EXPECT_EQ(std::memcmp(*record->parameters, expected, sizeof(expected)), 0);
    EXPECT_EQ(**reinterpret_cast<Handle>(data), 1);
    pluginMain(filterSelectorFinish, record, &data, &result);
    EXPECT_EQ(result, 0);
    Handles::Dispose(record->parameters);
    Handles::Dispose(reinterpret_cast<Handle>(data));
}

TEST_F(PluginModule, PrepareAsksForMemoryInSixtyFourBitArithmetic) {
    intptr_t data = 0;
    int16 result = 0;
    record->imageMode = plugInModeRGB48;
    record->planes = 3;
    record->filterRect = {0, 0, 30000, 30000};
    record->maxSpace = 2000000000;
    pluginMain(filterSelectorPrepare, record, &data, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(record->bufferSpace, 1000000000);
    EXPECT_EQ(record->maxSpace, 2 * 1024 * 1024 * 3);
    pluginMain(filterSelectorFinish, record, &data, &result);
    EXPECT_EQ(result, 0);
}

TEST_F(PluginModule, InstallConfigurationWritesAnInstallationLog) {
    DeleteLogs();
    auto install = reinterpret_cast<RundllEntry>(GetProcAddress(gModule, "InstallConfiguration"));
    ASSERT_NE(install, nullptr);
    const char* key = "Software\\Corvane Software\\RaylumePro\\2.0\\OpenGLSettings";
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
    char version[] = "2.0.0.0";
    install(nullptr, nullptr, version, SW_HIDE);
    std::string text = Narrow(ReadLogBytes());
    EXPECT_NE(text.find(" Installation Log opened on "), std::string::npos) << text;
    EXPECT_NE(text.find("Trace Message: Beginning Installation Configuration\n"), std::string::npos);
    // Little CMS and GLEW are linked in and answer.
    EXPECT_NE(text.find("Product version '2.0.0.0', Little CMS 2"), std::string::npos) << text;
    EXPECT_NE(text.find(", 2.2"), std::string::npos) << text;
    // It characterised the card on a hidden context and stored the result:
    // an accelerated OpenGL 4.5 context of no listed vendor optimises for quality.
    EXPECT_NE(text.find("Selected pixel format = "), std::string::npos) << text;
    EXPECT_NE(text.find("OpenGL Implementation for Rendering Context 0x"), std::string::npos) << text;
    HKEY settings = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &settings), ERROR_SUCCESS);
    DWORD setting = 0, size = sizeof(setting);
    EXPECT_EQ(RegQueryValueExA(settings, "OpenGLOptimizationSetting", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(&setting), &size), ERROR_SUCCESS);
    EXPECT_EQ(setting, 1u);
    char stored[64] = {};
    size = sizeof(stored);
    EXPECT_EQ(RegQueryValueExA(settings, "InstalledProductVersion", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(stored), &size), ERROR_SUCCESS);
    EXPECT_STREQ(stored, "2.0.0.0");
    RegCloseKey(settings);
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: rl_plugin_tests PATH-TO-RaylumePro2.8bf\n");
        return 2;
    }
    gModulePath = argv[1];
    return RUN_ALL_TESTS();
}
