// The colour profiles of a filter run: the standard, host, working and
// linear working profiles, the profile blocks that profiles opened from
// memory are read from, derived profiles with pure power curves, the default
// grayscale profile, gamma estimates and the Little CMS error log.
#include "image/color_management.h"

#include <lcms2_plugin.h>

#include <atomic>
#include <mutex>
#include <new>
#include <thread>

#include <cstdlib>
#include <cstring>

#include "image/tracked_buffer.h"
#include "support/debug_log.h"
#include "support/fault_injection.h"
#include "support/run_result.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// The caption these reports use as it is written here (one blank).
const char kCaptionUnexpectedErrorLower[] = "Debug: Unexpected error";

constexpr double kDefaultGamma = 2.2;

struct ColorManagementState {
    cmsHPROFILE standard = nullptr;
    cmsHPROFILE host = nullptr;
    cmsHPROFILE working = nullptr;
    cmsHPROFILE linearWorking = nullptr;
    TrackedBuffer profileBlocks[PROFILE_BLOCK_COUNT];
    int32_t profileBlocksUsed = 0;
};

ColorManagementState gColor;

struct GammaEstimate {
    cmsHPROFILE profile;
    double gamma;
};
// Lives for the process. Analysis and conversion threads attach profiles at
// the same time, so every look and change happens under a short spin lock
// (it guards a few table entries, never a call into Little CMS).
GammaEstimate gGammaEstimates[GAMMA_ESTIMATE_CACHE_SIZE];
int32_t gGammaEstimateCount = 0;
std::atomic_flag gGammaEstimateLock = ATOMIC_FLAG_INIT;

struct GammaEstimateGuard {
    GammaEstimateGuard() {
        while (gGammaEstimateLock.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
    }
    ~GammaEstimateGuard() { gGammaEstimateLock.clear(std::memory_order_release); }
};

void ReportSystemError(uint32_t line, const char* text) {
    DebugEvent(line, SYSTEM_ERROR, OsGetLastError()).Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "%s", text);
}

void LittleCmsErrorHandler(cmsContext, cmsUInt32Number errorCode, const char* text) {
    // Short of memory, Little CMS names whatever it could not build (error
    // 12, a "malformed" struct): the report says what ran out.
    DebugEvent(__LINE__).Report(OS_MB_ICONERROR, kCaptionUnexpectedErrorLower,
                                "Little CMS returned error code %d: '%s'%s", static_cast<int>(errorCode),
                                text ? text : "", MemoryRanShort() ? " (memory had run out)" : "");
}

bool IsGrayProfile(cmsHPROFILE profile) { return cmsGetColorSpace(profile) == cmsSigGrayData; }

void ReleaseProfileBlocks() {
    for (TrackedBuffer& block : gColor.profileBlocks)
        if (block.pointer) DeallocateBuffer(&block);
    gColor.profileBlocksUsed = 0;
}

// The bytes of the default grayscale profile.
bool FindDefaultGrayProfileBytes(const void** bytes, uint32_t* size) {
#ifdef _WIN32
    const int kDefaultGrayProfileResource = 243;  // IDR_LINEAR_COLOR_PROFILE
    const int kRawDataResourceType = 10;          // RT_RCDATA
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&LoadDefaultGrayProfile), &module)) {
        ReportUnexpected(__LINE__, "The application's instance handle has not been initialized.");
        module = nullptr;
    }
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(kDefaultGrayProfileResource),
                                   MAKEINTRESOURCEA(kRawDataResourceType));
    if (!resource) {
        ReportSystemError(__LINE__, "Could not find the IDR_LINEAR_COLOR_PROFILE resource.");
        return false;
    }
    HGLOBAL loaded = LoadResource(module, resource);
    if (!loaded) {
        ReportSystemError(__LINE__, "Could not load the IDR_LINEAR_COLOR_PROFILE resource.");
        return false;
    }
    const void* locked = LockResource(loaded);
    if (!locked) {
        ReportSystemError(__LINE__, "Could not lock the IDR_LINEAR_COLOR_PROFILE resource.");
        return false;
    }
    *bytes = locked;
    *size = SizeofResource(module, resource);
    return true;
#else
    *bytes = kDefaultGrayProfile;
    *size = static_cast<uint32_t>(kDefaultGrayProfileSize);
    return true;
#endif
}

// Little CMS's own mutexes, through its mutex plug-in. NOTE: its built-in
// ones initialise a mutex it could not allocate (a crash when memory runs
// out while a profile is made); these answer that case with no mutex, which
// Little CMS then does not lock.
void* CreateLittleCmsMutex(cmsContext) {
    void* mutex = new (std::nothrow) std::mutex;
    if (!mutex) NoteMemoryShortage();
    return mutex;
}
void DestroyLittleCmsMutex(cmsContext, void* mutex) { delete static_cast<std::mutex*>(mutex); }
cmsBool LockLittleCmsMutex(cmsContext, void* mutex) {
    if (mutex) static_cast<std::mutex*>(mutex)->lock();
    return TRUE;
}
void UnlockLittleCmsMutex(cmsContext, void* mutex) {
    if (mutex) static_cast<std::mutex*>(mutex)->unlock();
}

// Little CMS's memory, through its memory plug-in: the same limit as its
// own allocator, and a failure is noted, so that what Little CMS then
// reports (a struct it calls malformed) is put down to memory.
constexpr cmsUInt32Number kLittleCmsLargestBlock = 512u * 1024u * 1024u;
void* LittleCmsMalloc(cmsContext, cmsUInt32Number size) {
    void* p = size <= kLittleCmsLargestBlock && !AllocationShouldFail() ? std::malloc(size ? size : 1) : nullptr;
    if (!p) NoteMemoryShortage();
    return p;
}
void LittleCmsFree(cmsContext, void* p) { std::free(p); }
void* LittleCmsRealloc(cmsContext, void* p, cmsUInt32Number size) {
    void* q = size <= kLittleCmsLargestBlock && !AllocationShouldFail() ? std::realloc(p, size ? size : 1) : nullptr;
    if (!q) NoteMemoryShortage();
    return q;
}

void InstallLittleCmsMutexes() {
    static cmsPluginMemHandler memory = {{cmsPluginMagicNumber, 2060, cmsPluginMemHandlerSig, nullptr},
                                         LittleCmsMalloc, LittleCmsFree, LittleCmsRealloc,
                                         nullptr, nullptr, nullptr};
    static cmsPluginMutex plugin = {{cmsPluginMagicNumber, 2060, cmsPluginMutexSig, nullptr},
                                    CreateLittleCmsMutex, DestroyLittleCmsMutex, LockLittleCmsMutex,
                                    UnlockLittleCmsMutex};
    static std::once_flag once;
    std::call_once(once, [] {
        if (!cmsPlugin(&memory)) ReportUnexpected(__LINE__, "Could not install the Little CMS memory plug-in.");
        if (!cmsPlugin(&plugin)) ReportUnexpected(__LINE__, "Could not install the Little CMS mutex plug-in.");
    });
}

}  // namespace

// ---- the profiles of a run ----

bool InitializeColorManagement(int32_t hostImageMode, const HostProfileSource* hostProfile) {
    // A run that did not end cleanly leaves nothing behind for this one.
    ReleaseColorManagement();

    CreateTransformCacheMutex();
    cmsSetLogErrorHandler(LittleCmsErrorHandler);
    InstallLittleCmsMutexes();

    gColor.standard = cmsCreate_sRGBProfile();
    if (!gColor.standard) ReportUnexpected(__LINE__, "Could not create the standard profile.");

    gColor.host = AcquireHostProfile(hostProfile);
    if (!gColor.host) {
        if (hostImageMode == IMAGE_MODE_GRAY8 || hostImageMode == IMAGE_MODE_GRAY16 ||
            hostImageMode == IMAGE_MODE_GRAY_FLOAT) {
            gColor.host = LoadDefaultGrayProfile();
            if (!gColor.host)
                ReportUnexpected(__LINE__,
                                 "Host editor profile not provided and failed to create a standard grayscale profile.");
        } else {
            gColor.host = cmsCreate_sRGBProfile();
            if (!gColor.host)
                ReportUnexpected(__LINE__,
                                 "Host editor profile not provided and failed to create a standard color profile.");
        }
    }

    if (gColor.standard) gColor.working = DeriveProfileWithGamma(gColor.standard, 2.2);
    if (!gColor.working) ReportUnexpected(__LINE__, "Could not create the working profile.");

    if (gColor.working) gColor.linearWorking = DeriveProfileWithGamma(gColor.working, 1.0);
    if (!gColor.linearWorking) ReportUnexpected(__LINE__, "Could not derive the linear working profile.");

    return gColor.standard && gColor.host && gColor.working && gColor.linearWorking;
}

void ReleaseColorManagement() {
    ReleaseTransformCache();
    ReleaseDisplayProfiles();
    CloseColorProfile(gColor.linearWorking);
    CloseColorProfile(gColor.working);
    CloseColorProfile(gColor.host);
    CloseColorProfile(gColor.standard);
    gColor.linearWorking = gColor.working = gColor.host = gColor.standard = nullptr;
    ReleaseProfileBlocks();
}

ColorProfile GetStandardProfile() { return gColor.standard; }
ColorProfile GetHostProfile() { return gColor.host; }
ColorProfile GetWorkingProfile() { return gColor.working; }
ColorProfile GetLinearWorkingProfile() { return gColor.linearWorking; }
int32_t GetProfileBlockCount() { return gColor.profileBlocksUsed; }

ColorProfile AcquireHostProfile(const HostProfileSource* source) {
    if (!source || !source->lock) return nullptr;

    size_t size = 0;
    const void* bytes = source->lock(source->context, &size);
    if (!bytes) {
        ReportUnexpected(__LINE__, "Could not acquire host editor-provided image color profile.");
        return nullptr;
    }

    cmsHPROFILE profile = nullptr;
    if (gColor.profileBlocksUsed >= PROFILE_BLOCK_COUNT) {
        ReportUnexpected(__LINE__,
                         "Could not allocate a cache block to store the host editor-provided image color profile.");
    } else {
        TrackedBuffer& block = gColor.profileBlocks[gColor.profileBlocksUsed];
        if (block.size < size && ReallocateBuffer(size, &block) != 0) {
            ReportUnexpected(__LINE__,
                             "Could not allocate memory to store the host editor-provided image color profile.");
        } else {
            if (size) std::memcpy(block.pointer, bytes, size);
            gColor.profileBlocksUsed++;
            // An empty profile is never read (Little CMS would be handed no bytes).
            if (size && block.pointer)
                profile = cmsOpenProfileFromMem(block.pointer, static_cast<cmsUInt32Number>(size));
            if (!profile) ReportSystemError(__LINE__, "Could not open host editor-provided image color profile.");
        }
    }

    if (source->unlock) source->unlock(source->context);
    return profile;
}

ColorProfile LoadDefaultGrayProfile() {
    const void* bytes = nullptr;
    uint32_t size = 0;
    if (!FindDefaultGrayProfileBytes(&bytes, &size)) return nullptr;
    cmsHPROFILE profile = bytes && size ? cmsOpenProfileFromMem(bytes, size) : nullptr;
    if (!profile) ReportSystemError(__LINE__, "Could not open the IDR_LINEAR_COLOR_PROFILE.");
    return profile;
}

ColorProfile DeriveProfileWithGamma(ColorProfile profile, double gamma) {
    if (gColor.profileBlocksUsed >= PROFILE_BLOCK_COUNT) {
        ReportUnexpected(__LINE__, "Ran out of room in the ProfileBlock table.");
        return nullptr;
    }

    // Little CMS 2.14 leaks part of a profile it was saving when one of its
    // allocations fails in the save: the walk that fails every allocation
    // leaves these two calls alone (their failure is still handled).
    cmsUInt32Number size = 0;
    bool sized;
    {
        const AllocationFailuresPaused paused;
        sized = profile && cmsSaveProfileToMem(profile, nullptr, &size);
    }
    if (!sized || size == 0) {
        ReportUnexpected(__LINE__,
                         "Could not retrieve required input profile memory size from cmsSaveProfileToMem().");
        return nullptr;
    }

    // The block must hold the whole profile before anything is read from it;
    // when it cannot be grown there is no copy to make.
    TrackedBuffer& block = gColor.profileBlocks[gColor.profileBlocksUsed];
    if (block.size < size && ReallocateBuffer(size, &block) != 0) {
        ReportUnexpected(__LINE__, "DeriveProfileWithGamma() - Could not allocate memory for the profile copy.");
        return nullptr;
    }
    bool saved;
    {
        const AllocationFailuresPaused paused;
        saved = cmsSaveProfileToMem(profile, block.pointer, &size);
    }
    if (!saved) {
        ReportUnexpected(__LINE__, "Could not save profile to memory via cmsSaveProfileToMem().");
        return nullptr;
    }

    cmsHPROFILE derived = cmsOpenProfileFromMem(block.pointer, size);
    if (!derived) {
        ReportUnexpected(__LINE__, "DeriveProfileWithGamma() - Could not open the profile copy.");
        return nullptr;
    }
    gColor.profileBlocksUsed++;

    // A copy with one of its curves left as it was is another colour space:
    // it is not handed out.
    bool written = true;
    if (IsGrayProfile(derived)) {
        cmsToneCurve* curve = NewToneCurve(gamma);
        if (!curve || !cmsWriteTag(derived, cmsSigGrayTRCTag, curve)) {
            ReportUnexpected(__LINE__, "Could not write new grayscale tone curve.");
            written = false;
        }
        if (curve) cmsFreeToneCurve(curve);
    } else {
        const struct {
            cmsTagSignature tag;
            const char* failure;
        } curves[3] = {
            {cmsSigRedTRCTag, "Could not write new red tone curve."},
            {cmsSigGreenTRCTag, "Could not write new green tone curve."},
            {cmsSigBlueTRCTag, "Could not write new blue tone curve."},
        };
        for (const auto& entry : curves) {
            cmsToneCurve* curve = NewToneCurve(gamma);
            if (!curve || !cmsWriteTag(derived, entry.tag, curve)) {
                ReportUnexpected(__LINE__, "%s", entry.failure);
                written = false;
            }
            if (curve) cmsFreeToneCurve(curve);
        }
    }
    if (!written) {
        CloseColorProfile(derived);
        return nullptr;
    }
    return derived;
}

cmsToneCurve* NewToneCurve(double gamma) {
    cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
    if (!curve)
        DebugEvent(__LINE__).Report(OS_MB_ICONERROR, kCaptionUnexpectedErrorLower,
                                    "NewToneCurve() - Could not create new tone curve.");
    return curve;
}

double EstimateProfileGamma(ColorProfile profile) {
    // Without a profile there is no curve to look at.
    if (!profile) return kDefaultGamma;
    {
        GammaEstimateGuard guard;
        for (int32_t i = 0; i < gGammaEstimateCount; i++)
            if (gGammaEstimates[i].profile == profile) return gGammaEstimates[i].gamma;
    }

    double gamma = kDefaultGamma;
    cmsTagSignature tag = IsGrayProfile(profile) ? cmsSigGrayTRCTag : cmsSigGreenTRCTag;
    const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, tag));
    if (curve) {
        gamma = cmsEstimateGamma(curve, 0.1);
        if (gamma == -1.0) gamma = cmsEstimateGamma(curve, 1.0);
        if (gamma == -1.0) gamma = kDefaultGamma;
    } else if (MemoryRanShort() && cmsIsTag(profile, tag)) {
        // The curve is there but memory ran out reading it: a guessed gamma
        // would change the picture without a word. The run ends instead, and
        // the guess is not kept. (A curve that cannot be read for what it
        // holds keeps the default gamma, as it always did.)
        ReportUnexpected(__LINE__, "EstimateProfileGamma() - No memory to read the profile's tone curve.");
        SetGlobalErrorCode(RUN_OUT_OF_MEMORY);
        return gamma;
    }

    GammaEstimateGuard guard;
    for (int32_t i = 0; i < gGammaEstimateCount; i++)
        if (gGammaEstimates[i].profile == profile) return gGammaEstimates[i].gamma;  // another thread was first
    if (gGammaEstimateCount < GAMMA_ESTIMATE_CACHE_SIZE) gGammaEstimates[gGammaEstimateCount++] = {profile, gamma};
    return gamma;
}

void CloseColorProfile(ColorProfile profile) {
    if (!profile) return;
    {
        GammaEstimateGuard guard;
        for (int32_t i = 0; i < gGammaEstimateCount; i++) {
            if (gGammaEstimates[i].profile != profile) continue;
            gGammaEstimates[i] = gGammaEstimates[--gGammaEstimateCount];
            break;
        }
    }
    cmsCloseProfile(profile);
}
