#include "tools/hostsim/host_profiles.h"

namespace {

// pspiHost (the engine of several free editors): copies planes from plane 0
// whatever the low plane asked for, refills a buffer only when its rectangle
// changes, hands About a result of 1, no suites, descriptor parameters
// without procedures, property and handle-size procedures that only say yes,
// nothing kept between runs, finish only after a run without an error.
void ApplyPspiHost(HostOptions& o) {
    o.planesFromZero = true;
    o.refillOnlyOnNewRectangle = true;
    o.reportColumnBytes = false;
    o.wholeImageTiles = true;
    o.bigDocument = false;
    o.maxSpace = 0x7FFFFFFF;
    o.offerBasicSuite = false;
    o.offerDescriptorProcs = false;
    o.playInfo = PLAY_INFO_DONT_DISPLAY;
    o.recordInfo = RECORD_INFO_OPTIONAL;
    o.stubPropertyProcs = true;
    o.stubHandleSizeProcs = true;
    o.callParameters = true;
    o.keepDataSlot = false;
    o.keepParameters = false;
    o.aboutResult = 1;
    o.finish = FINISH_ONLY_ON_SUCCESS;
}

// GIMP's pspi: no descriptor parameters and no suites; the selection is not
// handed over (the filter sees its bounds and GIMP merges the result through
// it); outData starts as the original pixels; GIMP's 64 x 64 tiles; no
// window; finish only after a failed continue, never after success.
void ApplyGimpPspi(HostOptions& o) {
    o.offerBasicSuite = false;
    o.offerDescriptorParameters = false;
    o.mergeThroughSelection = true;
    o.outputFromOriginal = true;
    o.revertOnFailure = true;
    o.reportColumnBytes = false;
    o.tileWidth = o.tileHeight = 64;
    o.bigDocument = false;
    o.maxSpace = 100000000;
    o.hostWindow = 0;
    o.callParameters = true;
    o.finish = FINISH_ONLY_AFTER_FAILED_CONTINUE;
}

// PSFilterHost and PSFilterPdn: every suite, working descriptor procedures
// with the dialog asked for, a record that ends before bigDocumentData
// (16-bit rectangles only), whole-image tiles, up to 1 GiB of space.
void ApplyPsFilterHost(HostOptions& o) {
    o.recordSize = static_cast<uint32_t>(kFilterRecordShortHostSize);
    o.wholeImageTiles = true;
    o.maxSpace = 1 << 30;
    o.playInfo = PLAY_INFO_DISPLAY;
    o.recordInfo = RECORD_INFO_OPTIONAL;
    o.callParameters = true;
}

// PSFilterPdn as PSFilterHost, but 8-bit RGB only and tiles of at most 1024
// with width and height traded (the tile is as wide as the image is high).
void ApplyPsFilterPdn(HostOptions& o) {
    ApplyPsFilterHost(o);
    o.wholeImageTileLimit = 1024;
    o.wholeImageTilesSwapped = true;
}

}  // namespace

const std::vector<HostProfile>& HostProfiles() {
    static const std::vector<HostProfile> profiles = {
        {"pspihost", "planes always from plane 0, buffers refilled only for a new rectangle, About preset 1, no suites",
         {plugInModeRGBColor, plugInModeGrayScale}, true, true, false, ApplyPspiHost},
        {"gimp-pspi", "no descriptor parameters, no suites, no mask (merged by the host), finish never after success",
         {plugInModeRGBColor, plugInModeGrayScale}, true, true, false, ApplyGimpPspi},
        {"psfilterhost", "every suite, 556-byte record (16-bit rectangles), whole-image tiles, 16-bit modes",
         {plugInModeRGBColor, plugInModeGrayScale, plugInModeRGB48, plugInModeGray16}, true, true, true,
         ApplyPsFilterHost},
        {"psfilterpdn", "as psfilterhost, 8-bit RGB only, tiles of at most 1024 with their sides traded",
         {plugInModeRGBColor}, true, true, true, ApplyPsFilterPdn},
    };
    return profiles;
}

const HostProfile* FindHostProfile(const std::string& name) {
    for (const HostProfile& profile : HostProfiles())
        if (name == profile.name) return &profile;
    return nullptr;
}

bool HostProfileOffersMode(const HostProfile& profile, int16 mode) {
    for (int16 m : profile.modes)
        if (m == mode) return true;
    return false;
}
