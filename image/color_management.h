// Colour management: the colour profiles of a filter run, the conversions
// between them through Little CMS, and the caches that keep transforms,
// display profiles and gamma estimates.
//
// The colour path: the host image keeps the host's profile (or a default one
// for its mode); the analysis image is converted into the linear working
// profile (sRGB primaries, gamma 1.0 curves); effect colours and the preview
// are converted for display through the monitor's profile.
#pragma once

#include <lcms2.h>

#include <cstddef>
#include <cstdint>

#include "image/image.h"
#include "support/os.h"

// A Little CMS colour transform (cmsHTRANSFORM).
typedef void* ColorTransform;

// Little CMS pixel format words the image modes use.
constexpr uint32_t COLOR_FORMAT_RGBA_8 = 0x40099;         // TYPE_RGBA_8
constexpr uint32_t COLOR_FORMAT_BGRA_8 = 0x44499;         // TYPE_BGRA_8
constexpr uint32_t COLOR_FORMAT_RGBA_16 = 0x4009A;        // TYPE_RGBA_16
constexpr uint32_t COLOR_FORMAT_RGBA_FLOAT = 0x44009C;    // TYPE_RGBA_FLT
constexpr uint32_t COLOR_FORMAT_GRAY_8 = 0x30189;         // gray, 1 channel + 3 extra, 1 byte
constexpr uint32_t COLOR_FORMAT_GRAY_16 = 0x3018A;        // gray, 1 channel + 3 extra, 2 bytes
constexpr uint32_t COLOR_FORMAT_GRAY_FLOAT = 0x43018C;    // gray, 1 channel + 3 extra, float
constexpr uint32_t COLOR_FORMAT_RGB_16 = 0x4001A;         // TYPE_RGB_16 (single colours)

// Limits of the caches and tables.
constexpr int32_t PROFILE_BLOCK_COUNT = 63;
constexpr int32_t TRANSFORM_CACHE_SIZE = 32;
constexpr int32_t DISPLAY_PROFILE_CACHE_SIZE = 16;
constexpr int32_t GAMMA_ESTIMATE_CACHE_SIZE = 64;

// How the plug-in shell hands over the host's ICC profile without this file
// knowing the host's records. `lock` locks the host's profile handle and
// gives its bytes and their size, or null when the handle cannot be locked;
// `unlock` is called exactly once after every lock that succeeded.
struct HostProfileSource {
    void* context;
    const void* (*lock)(void* context, size_t* size);
    void (*unlock)(void* context);
};

// ---- the profiles of a run ----

// At the start of a run, once the host image mode is known. `hostProfile` is
// null when the host gives no profile. Every failure is reported and the work
// goes on; false when any of the four profiles is missing.
bool InitializeColorManagement(int32_t hostImageMode, const HostProfileSource* hostProfile);
// At the end of a run: cached transforms, display profiles, the four
// profiles, the profile blocks and TransformCacheMutex. Safe to call twice.
void ReleaseColorManagement();

ColorProfile GetStandardProfile();       // built-in sRGB
ColorProfile GetHostProfile();           // the host's, or the default for the mode
ColorProfile GetWorkingProfile();        // sRGB with gamma 2.2 curves
ColorProfile GetLinearWorkingProfile();  // sRGB with gamma 1.0 curves

// Copies the host's profile into the next profile block and opens it. Null
// (nothing reported) when `source` is null.
ColorProfile AcquireHostProfile(const HostProfileSource* source);
// The default grayscale profile: resource 243 (RCDATA) of the module holding
// this code on Windows, the compiled-in bytes natively.
ColorProfile LoadDefaultGrayProfile();
// An independent copy of `profile` whose tone curves are pure power curves
// of `gamma`; its serialised bytes live in a profile block until the run ends.
ColorProfile DeriveProfileWithGamma(ColorProfile profile, double gamma);
// A parametric power curve; the caller frees it with cmsFreeToneCurve.
cmsToneCurve* NewToneCurve(double gamma);
// The gamma of the profile's kTRC (gray) or gTRC (others); 2.2 when there is
// no such curve or it is no power law. Cached per profile handle.
double EstimateProfileGamma(ColorProfile profile);
// Closes a profile and forgets its cached gamma estimate (a later profile
// may be given the same handle). Null is ignored.
void CloseColorProfile(ColorProfile profile);
// Profile blocks in use.
int32_t GetProfileBlockCount();

// ---- transforms and conversions ----

// The transform between two profiles and pixel formats, from the cache or
// newly built (relative colorimetric, black point compensation, no Little CMS
// cache, so one transform may run on several threads). A missing profile is
// replaced by the standard profile. Null when it cannot be built.
//
// With all cache entries in use a new transform is returned uncached. When
// `callerOwns` is given it tells whether that happened, and the caller then
// frees such a transform with DeleteColorTransform; otherwise an uncached
// transform is kept aside and freed by ReleaseColorManagement.
ColorTransform GetColorTransform(ColorProfile inputProfile, uint32_t inputFormat, ColorProfile outputProfile,
                                 uint32_t outputFormat, bool* callerOwns = nullptr);
void DeleteColorTransform(ColorTransform transform);
// Transforms in the cache.
int32_t GetTransformCacheCount();

// Converts the image in place into `targetProfile` and attaches that profile
// (gamma, tables, accessors). False when there is no transform. With
// `lightOnly` (effects images, black where nothing was drawn) only the part
// of each row between its first and last pixel with light is converted:
// black stays black.
bool ConvertColorOf(Image* image, ColorProfile targetProfile, bool lightOnly = false);
// Converts one colour kept in the 32-bit scale (upper 16 bits of c0..c2) and
// linearises the result with gamma 2.2. False (value unchanged) without a transform.
bool ConvertSingleColor(PixelValue* value, ColorProfile sourceProfile, ColorProfile targetProfile);
// Copies a rectangle of one image into another through a colour transform,
// with alpha and mask. False (global error code -50) without a transform.
bool ConvertImageColors(const Image* source, const ImageRect& sourceRect, Image* destination,
                        const ImageRect& destinationRect);
// The same on one thread per section of rows.
bool ConvertImageColorsParallel(const Image* source, const ImageRect& sourceRect, Image* destination,
                                const ImageRect& destinationRect);

// ---- the display ----

// The profile of the monitor nearest to `window` (cached per monitor), or the
// standard profile when there is none or it cannot be had (always natively).
ColorProfile GetDisplayProfile(OsWindow window);

// ---- shared by the colour management files ----

bool CreateTransformCacheMutex();
// Deletes every cached and set-aside transform and closes the mutex.
void ReleaseTransformCache();
// Closes every cached display profile.
void ReleaseDisplayProfiles();

#ifndef _WIN32
// The default grayscale profile, generated at build time (tools/grayprofile_gen).
extern const unsigned char kDefaultGrayProfile[];
extern const size_t kDefaultGrayProfileSize;
#endif
