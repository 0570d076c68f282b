// The real module driven by the host simulator in this process: the Win32
// build of the selector dispatch (COM, the module's resources, the log) under
// the same strict host as the native tests.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/host_abi.h"
#include "tests/win/host_test_paths.h"
#include "tools/hostsim/dialog_driver_win32.h"
#include "tools/hostsim/host_simulator.h"

namespace {

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += "\n  " + line;
    return text;
}

// The plug-in's newest log, as narrow text (it is UTF-16, ASCII content).
std::string NewestLog() {
    char root[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, root);
    std::ifstream in(std::string(root) + "\\Corvane\\RaylumePro2\\Logs\\RaylumePro2_00.log", std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i];
    return text;
}

class RealModule : public ::testing::Test {
protected:
    static void SetUpTestSuite() { module = LoadLibraryA(PluginModulePath().c_str()); }
    static void TearDownTestSuite() {
        if (module) FreeLibrary(module);
        module = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(module, nullptr);
        entry = reinterpret_cast<PluginMainProc>(GetProcAddress(module, "PluginMain"));
        ASSERT_NE(entry, nullptr);
    }
    static HMODULE module;
    PluginMainProc entry = nullptr;
};
HMODULE RealModule::module = nullptr;

TEST_F(RealModule, AFilterRunCompletesWithoutViolation) {
    HostSimulator host(entry);
    host.document = MakeSimDocument(plugInModeRGB48, 300, 200, false, true);
    RunLog run = host.RunFilter();
    EXPECT_EQ(run.Result(filterSelectorParameters), noErr);
    EXPECT_EQ(run.Result(filterSelectorPrepare), noErr);
    EXPECT_EQ(run.bufferSpace, 16 * (2 * 300 * 200 + 1250000));
    EXPECT_EQ(run.Result(filterSelectorStart), noErr);
    EXPECT_EQ(run.Result(filterSelectorFinish), noErr);
    ASSERT_EQ(run.properties.size(), 1u);
    EXPECT_EQ(run.properties[0].key, FourCC("wtch"));
    EXPECT_TRUE(host.Violations().empty()) << Joined(host.Violations());
    // COM start-up loaded the module's resources without complaint.
    const std::string log = NewestLog();
    EXPECT_NE(log.find("ReportBufferUsage(): Current Usage = "), std::string::npos) << log;
    EXPECT_EQ(log.find("splash bitmap"), std::string::npos) << log;
    EXPECT_EQ(log.find("Richedit"), std::string::npos) << log;
}

TEST_F(RealModule, RepeatedRunsWithAnOlderHostKeepWorking) {
    HostSimulator host(entry);
    host.document = MakeSimDocument(plugInModeGray32, 50, 40);
    host.options.recordSize = 556;
    host.options.actionDescriptorVersion = 2;
    host.options.tileWidth = 0;
    host.options.tileHeight = 0;
    for (int i = 0; i < 3; i++) {
        RunLog run = host.RunFilter();
        EXPECT_EQ(run.Result(filterSelectorStart), noErr) << "run " << i;
        host.options.callParameters = false;
    }
    EXPECT_TRUE(host.Violations().empty()) << Joined(host.Violations());
}

TEST_F(RealModule, StartWithoutHandlesAndUnknownSelectors) {
    HostSimulator host(entry);
    host.document = MakeSimDocument(plugInModeRGBColor, 8, 8);
    EXPECT_EQ(host.Call(99, 7), 7);
    EXPECT_EQ(host.DataSlot(), 0);
    EXPECT_EQ(host.Call(filterSelectorStart), -30100);
    host.EndRun();
    EXPECT_TRUE(host.Violations().empty()) << Joined(host.Violations());
}

TEST_F(RealModule, AboutWithAndWithoutSPBasic) {
    HostSimulator host(entry);
    const size_t closedBefore = ClosedDialogs().size();
    EXPECT_EQ(host.RunAbout().Result(filterSelectorAbout), noErr);
    host.options.offerBasicSuite = false;
    EXPECT_EQ(host.RunAbout().Result(filterSelectorAbout), noErr);
    EXPECT_TRUE(host.Violations().empty()) << Joined(host.Violations());
    EXPECT_EQ(ClosedDialogs().size(), closedBefore + 2);  // an About box each time
}

// The start-menu entry: the Options dialog from the module's own resources,
// which the test's user (the dialog driver) cancels.
TEST_F(RealModule, ConfigureOptionsOpensTheOptionsDialog) {
    using ConfigureProc = void(CALLBACK*)(HWND, HINSTANCE, LPSTR, int);
    auto configure = reinterpret_cast<ConfigureProc>(GetProcAddress(module, "ConfigureOptions"));
    ASSERT_NE(configure, nullptr);
    const size_t closedBefore = ClosedDialogs().size();
    char commandLine[] = "";
    configure(nullptr, nullptr, commandLine, SW_SHOWNORMAL);
    const std::vector<ClosedDialog> closed = ClosedDialogs();
    ASSERT_EQ(closed.size(), closedBefore + 1);
    EXPECT_EQ(closed.back().title, "64 Bit Raylume Pro 2 Plug-in Options");
    bool noteShown = false;
    for (const std::string& text : closed.back().texts) noteShown = noteShown || text.rfind("Note:  OpenGL", 0) == 0;
    EXPECT_TRUE(noteShown);
}

TEST_F(RealModule, BigDocumentsUseTheThirtyTwoBitRectangles) {
    HostSimulator host(entry);
    host.document = MakeSimDocument(plugInModeGrayScale, 40000, 10);
    ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    EXPECT_EQ(host.BigDocument()->PluginUsing32BitCoordinates, 1);
    EXPECT_EQ(host.Run().bufferSpace, 16 * (40000 * 10 + 1250000));
    host.BigDocument()->outRect32 = VRect{0, 0, 10, 40000};
    ASSERT_EQ(host.Call(filterSelectorContinue), noErr);
    EXPECT_EQ(host.BigDocument()->outRect32.right, 0);
    EXPECT_EQ(host.Call(filterSelectorFinish), noErr);
    host.EndRun();
    EXPECT_TRUE(host.Violations().empty()) << Joined(host.Violations());
}

// The colour path inside the module: Little CMS converts the image for the
// analysis and the bands for the composite. A bright star on a dark sky comes
// back with its effects drawn around it, and the sky far from it untouched.
TEST_F(RealModule, AStarIsFoundAndRenderedThroughTheModulesColourPath) {
    HostSimulator host(entry);
    host.document = MakeSimDocument(plugInModeRGB48, 160, 120);
    host.document.Allocate();
    for (int32 y = 0; y < 120; y++)
        for (int32 x = 0; x < 160; x++) {
            double d2 = (x - 80.25) * (x - 80.25) + (y - 60.5) * (y - 60.5);
            double v = 400 + 30000 * std::exp(-d2 / (2 * 2.0 * 2.0));
            for (int32 p = 0; p < 3; p++) host.document.Set(p, x, y, v);
        }
    SimDocument before = host.document;
    host.options.callParameters = false;
    // Short spikes and no flares, replayed as a recording host would.
    SimDescriptor d;
    d.Bool(FourCC("opsO"), false)
        .UnitFloat(FourCC("qntY"), FourCC("#Prc"), 100)
        .UnitFloat(FourCC("Intn"), FourCC("#Prc"), 80)
        .UnitFloat(FourCC("Lngt"), FourCC("#Prc"), 20)
        .UnitFloat(FourCC("Angl"), FourCC("#Ang"), 0)
        .Integer(FourCC("numP"), 4)
        .UnitFloat(FourCC("spsH"), FourCC("#Prc"), 50)
        .UnitFloat(FourCC("Strt"), FourCC("#Prc"), 0)
        .UnitFloat(FourCC("H   "), FourCC("#Prc"), 0)
        .UnitFloat(FourCC("rbwI"), FourCC("#Prc"), 0)
        .UnitFloat(FourCC("rbwF"), FourCC("#Prc"), 50)
        .UnitFloat(FourCC("sspI"), FourCC("#Prc"), 0)
        .UnitFloat(FourCC("sflB"), FourCC("#Prc"), 0)
        .UnitFloat(FourCC("rflB"), FourCC("#Prc"), 0);
    host.options.playInfo = PLAY_INFO_SILENT;
    host.PlayDescriptor(d);
    RunLog run = host.RunFilter();
    ASSERT_EQ(run.Result(filterSelectorStart), noErr);
    EXPECT_TRUE(run.violations.empty()) << Joined(run.violations);
    SimDocument& after = host.document;
    // Spikes run along the axes from the star: brighter there than before.
    EXPECT_GT(after.Get(0, 80, 40), before.Get(0, 80, 40) + 50);
    EXPECT_GT(after.Get(1, 100, 60), before.Get(1, 100, 60) + 50);
    // The corners, far from every effect, keep their exact values.
    size_t unchanged = 0;
    for (int32 y = 0; y < 4; y++)
        for (int32 x = 0; x < 4; x++) unchanged += after.Get(2, x, y) == before.Get(2, x, y);
    EXPECT_EQ(unchanged, 16u);
    const std::string log = NewestLog();
    EXPECT_EQ(log.find("Little CMS returned error"), std::string::npos) << log;
    EXPECT_EQ(log.find("Could not compute color transform"), std::string::npos) << log;
}

}  // namespace
