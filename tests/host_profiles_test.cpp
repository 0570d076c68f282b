// Whole runs under each public host engine's profile (tools/hostsim/
// host_profiles.h), against the same runs on the strict default host: every
// mode the host offers, with transparency, with a selection, repeated, and
// cancelled where the host can cancel. The default host serves every plane
// request as asked, so its picture is the truth a profile's must equal.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/plugin_state.h"
#include "params/parameter_files.h"
#include "params/user_data_folders.h"
#include "tools/hostsim/host_profiles.h"
#include "tools/hostsim/host_simulator.h"

extern "C" void PluginMain(int16 selector, void* block, intptr_t* data, int16* result);

namespace {

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += "\n  " + line;
    return text;
}

enum Extra { PLAIN, TRANSPARENCY, SELECTION };

SimDocument Picture(int16 mode, Extra extra) {
    SimDocument d = MakeSimDocument(mode, 150, 100, extra == TRANSPARENCY, extra == SELECTION);
    FillSkyPattern(d, 21);
    if (extra == TRANSPARENCY) {
        // Opacity falling from left to right: a plane that lands elsewhere shows.
        const int32 alpha = d.ColorPlanes();
        for (int32 y = 0; y < d.height; y++)
            for (int32 x = 0; x < d.width; x++) d.Set(alpha, x, y, SimWhite(mode) * (1.0 - 0.8 * x / d.width));
    }
    if (extra == SELECTION) SetEllipticSelection(d);
    return d;
}

struct Outcome {
    std::vector<RunLog> runs;
    SimDocument document;
    std::vector<std::string> violations;
};

// `runs` runs on a fresh host set up by `setUp`, the document put back
// before each; the document as the last run left it.
template <class SetUp>
Outcome RunOn(const SimDocument& picture, SetUp setUp, int runs = 1) {
    // Hosts without a registry start from the last-saved file: every session
    // here starts from the factory values instead of an earlier test's.
    std::string settings;
    if (MakeUserDataFolder() && GetUserSettingsFolder(settings)) std::remove((settings + "/" + kLastSavedParametersFile).c_str());
    Outcome outcome;
    HostSimulator host(PluginMain);
    setUp(host.options);
    for (int i = 0; i < runs; i++) {
        host.document = picture;
        outcome.runs.push_back(host.RunFilter());
    }
    outcome.document = host.document;
    outcome.violations = host.Violations();
    // A host that never calls finish after success unloads the module
    // instead; here the module stays, so its run state is ended by hand.
    if (gPlugin.initialised) {
        host.Call(filterSelectorFinish);
        host.EndRun();
    }
    return outcome;
}

// Samples that differ between two documents of the same shape.
size_t Differing(SimDocument& a, SimDocument& b) {
    size_t n = 0;
    for (int32 p = 0; p < a.PlaneCount(); p++)
        for (int32 y = 0; y < a.height; y++)
            for (int32 x = 0; x < a.width; x++) n += a.Get(p, x, y) != b.Get(p, x, y);
    return n;
}

class HostProfiles : public ::testing::TestWithParam<std::string> {
protected:
    const HostProfile& Profile() { return *FindHostProfile(GetParam()); }
};

TEST_P(HostProfiles, EveryOfferedModeRendersAsOnTheReferenceHost) {
    const HostProfile& profile = Profile();
    for (int16 mode : profile.modes) {
        for (Extra extra : {PLAIN, TRANSPARENCY, SELECTION}) {
            if ((extra == TRANSPARENCY && !profile.transparency) || (extra == SELECTION && !profile.selection))
                continue;
            const std::string what = std::string(SimModeName(mode)) + (extra == TRANSPARENCY ? " with transparency"
                                                                       : extra == SELECTION  ? " with a selection"
                                                                                             : "");
            SimDocument picture = Picture(mode, extra);
            Outcome mine = RunOn(picture, profile.apply, 2);
            for (const RunLog& run : mine.runs) {
                ASSERT_EQ(run.Result(filterSelectorStart), noErr) << what;
                EXPECT_NE(run.Result(filterSelectorParameters), kSelectorNotCalled) << what;
            }
            EXPECT_TRUE(mine.violations.empty()) << what << Joined(mine.violations);

            // The truth: the default host on the same pixels. A host that merges
            // through the selection itself is compared with the default host
            // filtering the selection's bounds, merged the same way.
            SimDocument truthPicture = picture;
            bool merges = false;
            HostOptions probe;
            profile.apply(probe);
            if (extra == SELECTION && probe.mergeThroughSelection) merges = true;
            Outcome truth = RunOn(truthPicture, [&](HostOptions& o) {
                o.mergeThroughSelection = merges;
                o.revertOnFailure = true;
            });
            ASSERT_EQ(truth.runs[0].Result(filterSelectorStart), noErr) << what;
            ASSERT_NE(Differing(truth.document, picture), 0u) << what << ": the reference drew nothing";
            EXPECT_EQ(Differing(mine.document, truth.document), 0u) << what << " differs from the reference";
        }
    }
}

TEST_P(HostProfiles, AboutAnswersNoErrorWhateverTheHostPreset) {
    HostSimulator host(PluginMain);
    Profile().apply(host.options);
    EXPECT_EQ(host.RunAbout().Result(filterSelectorAbout), noErr);
    EXPECT_TRUE(host.Violations().empty()) << Joined(host.Violations());
    EXPECT_FALSE(gPlugin.initialised);
}

TEST_P(HostProfiles, ACancelledRunLeavesThePictureAsItWas) {
    const HostProfile& profile = Profile();
    if (!profile.canCancel) GTEST_SKIP() << "this host cancels only through the dialog (the Wine tests press Cancel)";
    SimDocument picture = Picture(profile.modes[0], PLAIN);
    Outcome outcome = RunOn(picture, [&](HostOptions& o) {
        profile.apply(o);
        o.cancelAtProgressCall = 2;
    });
    EXPECT_EQ(outcome.runs[0].Result(filterSelectorStart), userCanceledErr);
    EXPECT_EQ(Differing(outcome.document, picture), 0u);
    EXPECT_TRUE(outcome.violations.empty()) << Joined(outcome.violations);
}

std::vector<std::string> ProfileNames() {
    std::vector<std::string> names;
    for (const HostProfile& p : ::HostProfiles()) names.push_back(p.name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(Public, HostProfiles, ::testing::ValuesIn(ProfileNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

// A host that refuses several planes in one request is served one plane at a
// time, with the same picture.
TEST(HostPlaneRequests, AHostThatTakesOnePlaneAtATimeGetsTheSamePicture) {
    for (int16 mode : {plugInModeRGBColor, plugInModeRGB48, plugInModeGray32}) {
        SimDocument picture = Picture(mode, TRANSPARENCY);
        Outcome single = RunOn(picture, [](HostOptions& o) { o.maxPlanesPerRequest = 1; });
        Outcome truth = RunOn(picture, [](HostOptions&) {});
        ASSERT_EQ(single.runs[0].Result(filterSelectorStart), noErr) << SimModeName(mode);
        EXPECT_TRUE(single.violations.empty()) << Joined(single.violations);
        EXPECT_EQ(Differing(single.document, truth.document), 0u) << SimModeName(mode);
        EXPECT_NE(Differing(truth.document, picture), 0u) << SimModeName(mode);
    }
}

}  // namespace
