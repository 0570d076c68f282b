// The console host run as a separate process on the real module, as the
// scripts and a user run it: its output lines and exit status.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/win/host_test_paths.h"
#include "tools/hostsim/image_files.h"
#include "tools/starfield/starfield.h"

namespace {

bool HasLine(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(ConsoleHost, InfoPrintsThePropertyListAndTheFactoryParameters) {
    ProcessOutput out = RunConsoleHost("info");
    EXPECT_EQ(out.exitCode, 0) << out.text;
    EXPECT_TRUE(HasLine(out.text, "PIPL 16000: 11 properties")) << out.text;
    EXPECT_TRUE(HasLine(out.text, "  '8BIM' 'kind'   4 bytes  '8BFM'")) << out.text;
    EXPECT_TRUE(HasLine(out.text, "Entry point: PluginMain (found)")) << out.text;
    EXPECT_TRUE(HasLine(out.text, "parameters selector: result 0")) << out.text;
    EXPECT_TRUE(HasLine(out.text, "Factory parameters (version 0.0.0.6):")) << out.text;
    EXPECT_TRUE(HasLine(out.text, "Show-dialog flag: 1")) << out.text;
    EXPECT_TRUE(HasLine(out.text, "finish selector: result 0")) << out.text;
    EXPECT_EQ(out.text.find("violation"), std::string::npos) << out.text;
}

TEST(ConsoleHost, ARunGoesThroughEverySelector) {
    ProcessOutput out = RunConsoleHost("run --size 120x80");
    EXPECT_EQ(out.exitCode, 0) << out.text;
    EXPECT_TRUE(HasLine(out.text, "run 1: parameters 0")) << out.text;
    EXPECT_TRUE(HasLine(out.text, "run 1: prepare 0 (bufferSpace 20153600, maxSpace 57600 of 1073741824)"))
        << out.text;
    EXPECT_TRUE(HasLine(out.text, "run 1: start 0")) << out.text;
    EXPECT_TRUE(HasLine(out.text, "run 1: finish 0")) << out.text;
    EXPECT_TRUE(HasLine(out.text, "rlhost: no violations")) << out.text;
}

TEST(ConsoleHost, RepeatedRunsWithoutTheDialogOnAnOlderHost) {
    ProcessOutput out = RunConsoleHost(
        "run --no-dialog --repeat 3 --descriptor-version 2 --no-big-document --mode 17 --mask --transparency "
        "--tile 0x0 --cancel-at 0");
    EXPECT_EQ(out.exitCode, 0) << out.text;
    EXPECT_TRUE(HasLine(out.text, "Document: 256 x 192, mode 17 (Gray32), 2 planes, selection, transparency"))
        << out.text;
    for (int i = 1; i <= 3; i++) {
        const std::string run = "run " + std::to_string(i) + ": ";
        EXPECT_FALSE(HasLine(out.text, run + "parameters 0")) << out.text;
        // Cancelled at the first progress call: the user's cancel, and no finish.
        EXPECT_TRUE(HasLine(out.text, run + "start -128")) << out.text;
        EXPECT_TRUE(HasLine(out.text, run + "finish not called")) << out.text;
    }
    EXPECT_TRUE(HasLine(out.text, "rlhost: no violations")) << out.text;
}

TEST(ConsoleHost, AShortRecordHostWithoutSuites) {
    ProcessOutput out = RunConsoleHost("run --short-record --no-basic-suite --mode 10 --size 33x17");
    EXPECT_EQ(out.exitCode, 0) << out.text;
    EXPECT_TRUE(HasLine(out.text, "run 1: start 0")) << out.text;
}

TEST(ConsoleHost, AnImageFileGoesThroughTheFilter) {
    SimDocument picture = MakeSimDocument(plugInModeRGB48, 40, 30);
    FillSkyPattern(picture, 5);
    const std::string input = HostTestScratchFolder() + "\\sky.ppm";
    const std::string output = HostTestScratchFolder() + "\\out.ppm";
    std::string error;
    ASSERT_TRUE(WriteImageFile(input, picture, &error)) << error;
    ProcessOutput out = RunConsoleHost("run --image \"" + input + "\" --output \"" + output + "\"");
    EXPECT_EQ(out.exitCode, 0) << out.text;
    EXPECT_TRUE(HasLine(out.text, "Document: 40 x 30, mode 11 (RGB48), 3 planes")) << out.text;
    EXPECT_TRUE(HasLine(out.text, "Output: " + output)) << out.text;
    const std::vector<uint8_t> written = FileBytes(output);
    ASSERT_EQ(written.size(), FileBytes(input).size());  // same kind of file, same size
    EXPECT_TRUE(HasLine(out.text, "run 1: start 0")) << out.text;
}

// The user at the dialog: OK renders exactly what a run without the dialog
// renders from the same values; Esc ends the run with -128 and the image as it was.
TEST(ConsoleHost, TheDialogsOkRendersAsASilentRunAndEscapeLeavesTheImage) {
    SimDocument picture = MakeSimDocument(plugInModeRGB48, 160, 120);
    FillSkyPattern(picture, 9);
    const std::string input = HostTestScratchFolder() + "\\stars.ppm";
    std::string error;
    ASSERT_TRUE(WriteImageFile(input, picture, &error)) << error;
    auto run = [&](const std::string& options, const std::string& output) {
        return RunConsoleHost("run --descriptor-version 0 --image \"" + input + "\" --output \"" + output + "\" " +
                              options);
    };
    const std::string ok = HostTestScratchFolder() + "\\ok.ppm", silent = HostTestScratchFolder() + "\\silent.ppm",
                      escaped = HostTestScratchFolder() + "\\escaped.ppm";
    ProcessOutput withDialog = run("--dialog-action ok", ok);
    EXPECT_TRUE(HasLine(withDialog.text, "run 1: start 0")) << withDialog.text;
    EXPECT_TRUE(HasLine(withDialog.text, "Dialog answered 1 time")) << withDialog.text;
    ProcessOutput without = run("--no-dialog", silent);
    EXPECT_TRUE(HasLine(without.text, "run 1: start 0")) << without.text;
    EXPECT_EQ(FileBytes(ok), FileBytes(silent));
    EXPECT_NE(FileBytes(ok), FileBytes(input));  // the effects were drawn

    ProcessOutput cancelled = run("--dialog-action esc", escaped);
    EXPECT_TRUE(HasLine(cancelled.text, "run 1: start -128")) << cancelled.text;
    EXPECT_EQ(FileBytes(escaped), FileBytes(input));
    EXPECT_EQ(cancelled.text.find("Message box dismissed"), std::string::npos) << cancelled.text;
}

// A run's result depends only on the image and the values: OK gives what a
// silent run gives however long the dialog stayed open (its preview building
// shapes meanwhile) and after sliders went somewhere and came back.
TEST(ConsoleHost, OkRendersTheSilentRunWhateverTheDialogDidBefore) {
    StarfieldOptions options;
    options.seed = 7;
    options.width = 480;
    options.height = 320;
    options.starCount = 120;
    options.minSigma = 0.9;
    options.maxSigma = 2.2;
    options.minPeak = 0.05;
    options.maxPeak = 3.0;
    options.noise = 0.004;
    options.skyLevel = 0.04;
    options.margin = 4;
    StarfieldImage field;
    std::vector<StarfieldStar> truth;
    std::string error;
    ASSERT_TRUE(CreateStarfield(options, &field, &truth, &error)) << error;
    // Length (1006), Angle (1008) and Quantity (1026) away and back to the factory values.
    const std::string there = "slider:1006:100,wait:700,slider:1008:300,wait:400,slider:1026:100,wait:700,";
    const std::string back = "slider:1006:50,slider:1008:0,slider:1026:50,wait:300";
    const std::vector<std::string> scenarios = {"wait:0", "wait:500", "wait:1000", "wait:2000", "wait:4000",
                                                there + back, "wait:1000"};
    for (int16 mode : {plugInModeRGB48, plugInModeRGBColor}) {
        SimDocument picture = MakeSimDocument(mode, field.width, field.height);
        const double full = mode == plugInModeRGB48 ? 32768.0 : 255.0;
        for (int32 y = 0; y < field.height; y++)
            for (int32 x = 0; x < field.width; x++)
                for (int32 c = 0; c < 3; c++)
                    picture.Set(c, x, y, std::lround(std::min(std::max(field.Pixel(x, y)[c], 0.0f), 1.0f) * full));
        const int depth = picture.Depth();
        const std::string input = HostTestScratchFolder() + "\\field" + std::to_string(depth) + ".ppm";
        ASSERT_TRUE(WriteImageFile(input, picture, &error)) << error;
        auto run = [&](const std::string& options) {
            const std::string output = HostTestScratchFolder() + "\\result.ppm";
            DeleteFileA(output.c_str());
            ProcessOutput out = RunConsoleHost("run --descriptor-version 0 --image \"" + input + "\" --output \"" +
                                               output + "\" " + options);
            EXPECT_TRUE(HasLine(out.text, "run 1: start 0")) << options << "\n" << out.text;
            return FileBytes(output);
        };
        // The count of bytes that differ, so that a failure says how far off it is.
        auto differing = [](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
            if (a.size() != b.size()) return static_cast<size_t>(-1);
            size_t n = 0;
            for (size_t i = 0; i < a.size(); i++) n += a[i] != b[i];
            return n;
        };
        const std::vector<uint8_t> silent = run("--no-dialog");
        ASSERT_FALSE(silent.empty());
        EXPECT_NE(differing(silent, FileBytes(input)), 0u) << "the effects were drawn";
        EXPECT_EQ(differing(run("--no-dialog"), silent), 0u) << depth << "-bit, repeated";
        for (const std::string& steps : scenarios) {
            // The 8-bit image takes the short list: the longer waits only repeat the 16-bit ones.
            if (mode == plugInModeRGBColor && (steps == "wait:500" || steps == "wait:2000" || steps == "wait:4000"))
                continue;
            EXPECT_EQ(differing(run("--dialog-action ok --dialog-steps " + steps), silent), 0u)
                << depth << "-bit, " << steps;
        }
    }
}

// The host's About call opens the About box before any preview exists: the
// OpenGL line comes from a hidden context made for the purpose.
TEST(ConsoleHost, AboutOnItsOwnShowsTheVersionAndTheOpenGLVersion) {
    ProcessOutput out = RunConsoleHost("about --no-basic-suite");
    EXPECT_EQ(out.exitCode, 0) << out.text;
    EXPECT_TRUE(HasLine(out.text, "about: 0")) << out.text;
    EXPECT_TRUE(HasLine(out.text, "Dialog closed: \"About Raylume Pro 2\"")) << out.text;
    EXPECT_TRUE(HasLine(out.text, "  Version: " RAYLUME_PROJECT_VERSION " x64")) << out.text;
    const size_t opengl = out.text.find("\n  OpenGL Version ");
    ASSERT_NE(opengl, std::string::npos) << out.text;
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(out.text[opengl + 18]))) << out.text;
    EXPECT_EQ(out.text.find("Message box dismissed"), std::string::npos) << out.text;
}

TEST(ConsoleHost, RefusesBadCommandLinesAndModulesThatAreNoFilters) {
    EXPECT_EQ(RunConsoleHost("run --mode 4").exitCode, 1);
    EXPECT_EQ(RunConsoleHost("run --size 0x10").exitCode, 1);
    EXPECT_EQ(RunConsoleHost("run --frobnicate").exitCode, 1);
    EXPECT_EQ(RunConsoleHost("dance").exitCode, 1);
    ProcessOutput missing = RunConsoleHost("run --image Z:\\no\\such\\file.pgm");
    EXPECT_EQ(missing.exitCode, 7) << missing.text;
    // The console host itself carries no property list.
    ProcessOutput notAFilter =
        RunConsoleHost("\"" + WindowsPath(ConsoleHostPath()) + "\" run", /*withPlugin=*/false);
    EXPECT_EQ(notAFilter.exitCode, 3) << notAFilter.text;
    EXPECT_TRUE(HasLine(notAFilter.text, "error: no PIPL resource of kind '8BFM' (a filter)")) << notAFilter.text;
}

}  // namespace
