// The console host run as a separate process on the real module, as the
// scripts and a user run it: its output lines and exit status.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/win/host_test_paths.h"
#include "tools/hostsim/image_files.h"

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
