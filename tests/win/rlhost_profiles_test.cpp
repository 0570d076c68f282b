// The real module in the console host under each public host engine's
// profile (rlhost --host-profile NAME), as separate processes: every mode the
// host offers, plain, with transparency and with a selection, each run twice;
// Cancel in the dialog (and the host's own cancel where it has one); About.
// The pictures must equal those of the strict default host on the same
// document, except where the host merges through the selection itself: there
// nothing outside the selection may change.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/win/host_test_paths.h"
#include "tools/hostsim/host_profiles.h"
#include "tools/hostsim/image_files.h"

namespace {

bool HasLine(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

// rlhost's own document for a mode (its default size and sky pattern).
SimDocument Document(int16 mode, bool mask) {
    SimDocument d = MakeSimDocument(mode, 256, 192);
    FillSkyPattern(d, 1);
    if (mask) SetEllipticSelection(d);
    return d;
}

struct Picture {
    ProcessOutput out;
    SimDocument document;
};

Picture RunHost(const std::string& options, const std::string& name) {
    Picture picture;
    const std::string file = HostTestScratchFolder() + "\\" + name + ".ppm";
    DeleteFileA(file.c_str());
    picture.out = RunConsoleHost("run " + options + " --output \"" + file + "\"");
    std::string error;
    if (!ReadImageFile(file, picture.document, &error)) picture.out.text += "\n(no picture: " + error + ")";
    return picture;
}

size_t Differing(SimDocument& a, SimDocument& b) {
    if (a.width != b.width || a.height != b.height || a.PlaneCount() != b.PlaneCount()) return SIZE_MAX;
    size_t n = 0;
    for (int32 p = 0; p < a.PlaneCount(); p++)
        for (int32 y = 0; y < a.height; y++)
            for (int32 x = 0; x < a.width; x++) n += a.Get(p, x, y) != b.Get(p, x, y);
    return n;
}

// The strict host's picture for the options, made once per process.
SimDocument& Reference(const std::string& options) {
    static std::map<std::string, SimDocument> made;
    auto it = made.find(options);
    if (it == made.end()) {
        Picture p = RunHost(options, "reference");
        EXPECT_EQ(p.out.exitCode, 0) << p.out.text;
        it = made.emplace(options, p.document).first;
    }
    return it->second;
}

class ConsoleHostProfiles : public ::testing::TestWithParam<std::string> {
protected:
    const HostProfile& Profile() { return *FindHostProfile(GetParam()); }
    std::string ProfileOption() { return "--host-profile " + GetParam() + " "; }
};

TEST_P(ConsoleHostProfiles, EveryOfferedModeTwiceWithTransparencyAndSelection) {
    HostOptions probe;
    Profile().apply(probe);
    for (int16 mode : Profile().modes) {
        for (const std::string extra : {"", "--transparency", "--mask"}) {
            // Twice in one session: the second run filters the first one's picture.
            const std::string options = "--mode " + std::to_string(mode) + " --repeat 2 " + extra;
            Picture mine = RunHost(ProfileOption() + options, "profile");
            ASSERT_EQ(mine.out.exitCode, 0) << options << "\n" << mine.out.text;
            EXPECT_TRUE(HasLine(mine.out.text, "run 1: start 0")) << mine.out.text;
            EXPECT_TRUE(HasLine(mine.out.text, "run 2: start 0")) << mine.out.text;
            EXPECT_TRUE(HasLine(mine.out.text, "Dialog answered 2 times")) << mine.out.text;
            SimDocument input = Document(mode, extra == "--mask");
            if (extra == "--mask" && probe.mergeThroughSelection) {
                // The host merges through the selection: outside it nothing moves.
                size_t outside = 0, inside = 0;
                for (int32 p = 0; p < input.ColorPlanes(); p++)
                    for (int32 y = 0; y < input.height; y++)
                        for (int32 x = 0; x < input.width; x++) {
                            const bool changed = mine.document.Get(p, x, y) != input.Get(p, x, y);
                            (input.MaskAt(x, y) ? inside : outside) += changed;
                        }
                EXPECT_EQ(outside, 0u) << options;
                EXPECT_GT(inside, 0u) << options;
            } else {
                SimDocument& truth = Reference(options);
                EXPECT_NE(Differing(truth, input), 0u) << options << ": the reference drew nothing";
                EXPECT_EQ(Differing(mine.document, truth), 0u) << options << " differs from the strict host";
            }
        }
    }
}

TEST_P(ConsoleHostProfiles, CancelLeavesThePictureAndAboutAnswersNoError) {
    const int16 mode = Profile().modes[0];
    std::vector<std::string> cancels = {"--dialog-action cancel"};
    if (Profile().canCancel) cancels.push_back("--cancel-at 2");
    else EXPECT_EQ(RunConsoleHost("run " + ProfileOption() + "--cancel-at 2").exitCode, 1);
    for (const std::string& cancel : cancels) {
        Picture p = RunHost(ProfileOption() + "--mode " + std::to_string(mode) + " " + cancel, "cancelled");
        EXPECT_EQ(p.out.exitCode, 0) << p.out.text;
        EXPECT_TRUE(HasLine(p.out.text, "run 1: start -128")) << cancel << "\n" << p.out.text;
        SimDocument input = Document(mode, false);
        EXPECT_EQ(Differing(p.document, input), 0u) << cancel;
    }
    ProcessOutput about = RunConsoleHost("about " + ProfileOption());
    EXPECT_EQ(about.exitCode, 0) << about.text;
    EXPECT_TRUE(HasLine(about.text, "about: 0")) << about.text;
    EXPECT_TRUE(HasLine(about.text, "Dialog closed: \"About Raylume Pro 2\"")) << about.text;
}

std::vector<std::string> ProfileNames() {
    std::vector<std::string> names;
    for (const HostProfile& p : HostProfiles()) names.push_back(p.name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(Public, ConsoleHostProfiles, ::testing::ValuesIn(ProfileNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

}  // namespace
