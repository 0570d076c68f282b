// Gamma table sets (up to 32, one per gamma, under GammaTableMutex) and the
// fixed alpha tables.
#include "image/gamma_tables.h"

#include <cfenv>
#include <cmath>
#include <cstring>

#include "support/debug_log.h"
#include "support/os.h"

namespace {

constexpr int kMaxGammaSets = 32;

struct GammaTableSet {
    double gamma;
    TrackedBuffer forward8, forward16, inverse8, inverse16;
};

GammaTableSet gSets[kMaxGammaSets];
int gSetCount = 0;
OsHandle gGammaTableMutex = nullptr;
bool gFailAllocations = false;

uint32_t gAlpha8[256];
uint32_t* gAlpha16 = nullptr;
uint8_t* gAlphaInverse8 = nullptr;
uint16_t* gAlphaInverse16 = nullptr;
volatile int32_t gFixedTablesBuilt = 0;

void Release(GammaTableSet* set) {
    DeallocateBuffer(&set->forward8);
    DeallocateBuffer(&set->forward16);
    DeallocateBuffer(&set->inverse8);
    DeallocateBuffer(&set->inverse16);
}

bool Allocate(TrackedBuffer* buffer, uint64_t size) {
    if (gFailAllocations) return false;
    return ReallocateBuffer(size, buffer) == 0;
}

void Fill(GammaTableSet* set) {
    double gamma = set->gamma;
    bool linear = gamma == 1.0;
    auto* f8 = static_cast<uint32_t*>(set->forward8.pointer);
    auto* f16 = static_cast<uint32_t*>(set->forward16.pointer);
    auto* i8 = static_cast<uint8_t*>(set->inverse8.pointer);
    auto* i16 = static_cast<uint16_t*>(set->inverse16.pointer);
    for (int i = 0; i < 256; i++) {
        double v = i / 255.0;
        f8[i] = RoundToU32((linear ? v : std::pow(v, gamma)) * 16777215.0);
    }
    f8[255] = 0xFFFFFF;
    double inverse = 1.0 / gamma;
    for (int i = 0; i < 65536; i++) {
        double v = i / 65535.0;
        f16[i] = RoundToU32((linear ? v : std::pow(v, gamma)) * 16777215.0);
        double w = linear ? v : std::pow(v, inverse);
        i8[i] = static_cast<uint8_t>(RoundToU32(w * 255.0));
        i16[i] = static_cast<uint16_t>(RoundToU32(w * 65535.0));
    }
    f16[65535] = 0xFFFFFF;
}

// The set nearest to `gamma` (the first of equals), or null when there is none.
GammaTableSet* Nearest(double gamma) {
    GammaTableSet* best = nullptr;
    for (int i = 0; i < gSetCount; i++)
        if (!best || std::fabs(gSets[i].gamma - gamma) < std::fabs(best->gamma - gamma)) best = &gSets[i];
    return best;
}

void HandOut(const GammaTableSet* set, GammaTables* tables) {
    tables->forward8 = static_cast<const uint32_t*>(set->forward8.pointer);
    tables->forward16 = static_cast<const uint32_t*>(set->forward16.pointer);
    tables->inverse8 = static_cast<const uint8_t*>(set->inverse8.pointer);
    tables->inverse16 = static_cast<const uint16_t*>(set->inverse16.pointer);
}

}  // namespace

uint32_t RoundToU32(double value) {
    if (!(value > 0.0)) return 0;  // NaN and negatives
    if (value >= 9.2e18) value = 9.2e18;
    // Nearest with ties to even, as the default rounding mode does. Below
    // 2^52, adding and taking away 2^52 leaves exactly that rounding; above,
    // every double is whole. (Not nearbyint: the Windows C library's saves
    // and restores the floating-point environment on every call, and this
    // runs for every pixel of every effect.)
    constexpr double kTwo52 = 4503599627370496.0;
    if (value < kTwo52) value = (value + kTwo52) - kTwo52;
    return static_cast<uint32_t>(static_cast<uint64_t>(value));
}

void EnsureFixedAlphaTables() {
    if (__atomic_load_n(&gFixedTablesBuilt, __ATOMIC_ACQUIRE)) return;
    static uint32_t alpha16[65536];
    static uint8_t inverse8[65536];
    static uint16_t inverse16[65536];
    for (int i = 0; i < 256; i++) gAlpha8[i] = RoundToU32(i / 255.0 * 4294967294.0);
    gAlpha8[255] = 0xFFFFFFFE;
    for (int i = 0; i < 65536; i++) {
        alpha16[i] = RoundToU32(i / 65535.0 * 4294967294.0);
        inverse8[i] = static_cast<uint8_t>(RoundToU32(i / 65535.0 * 255.0));
        inverse16[i] = static_cast<uint16_t>(i);
    }
    alpha16[65535] = 0xFFFFFFFE;
    gAlpha16 = alpha16;
    gAlphaInverse8 = inverse8;
    gAlphaInverse16 = inverse16;
    __atomic_store_n(&gFixedTablesBuilt, 1, __ATOMIC_RELEASE);
}

const uint32_t* AlphaTable8() {
    EnsureFixedAlphaTables();
    return gAlpha8;
}
const uint32_t* AlphaTable16() {
    EnsureFixedAlphaTables();
    return gAlpha16;
}
const uint8_t* AlphaInverseTable8() {
    EnsureFixedAlphaTables();
    return gAlphaInverse8;
}
const uint16_t* AlphaInverseTable16() {
    EnsureFixedAlphaTables();
    return gAlphaInverse16;
}

bool InitializeGammaTables() {
    EnsureFixedAlphaTables();
    if (gGammaTableMutex) return true;
    gGammaTableMutex = OsCreateMutex(false);
    if (!gGammaTableMutex) {
        DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "CreateMutex for GammaTableMutex failed");
        return false;
    }
    return true;
}

bool GetGammaTables(double gamma, GammaTables* tables) {
    std::memset(tables, 0, sizeof(*tables));
    if (!gGammaTableMutex) {
        ReportUnexpected(__LINE__, "Attempt to wait for gamma tables access failed.");
        return false;
    }
    uint32_t wait = OsWaitForSingleObject(gGammaTableMutex, OS_INFINITE);
    if (wait != OS_WAIT_OBJECT_0) {
        // The sets are never touched without the lock: the caller gets none.
        if (wait == OS_WAIT_ABANDONED_0) {
            ReportUnexpected(__LINE__, "Wait for gamma tables access failed since the owning thread exited:  WAIT_ABANDONED");
            OsReleaseMutex(gGammaTableMutex);
        } else if (wait == OS_WAIT_TIMEOUT) {
            ReportUnexpected(__LINE__, "Wait for gamma tables access timed out:  WAIT_TIMEOUT");
        } else {
            DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
                .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Attempt to wait for gamma tables access failed.");
        }
        return false;
    }
    const GammaTableSet* chosen = nullptr;
    for (int i = 0; i < gSetCount && !chosen; i++)
        if (gSets[i].gamma == gamma) chosen = &gSets[i];
    if (!chosen && gSetCount == kMaxGammaSets) chosen = Nearest(gamma);
    if (!chosen) {
        GammaTableSet* set = &gSets[gSetCount];
        *set = GammaTableSet{gamma, {}, {}, {}, {}};
        if (Allocate(&set->forward8, 1024) && Allocate(&set->forward16, 0x40000) &&
            Allocate(&set->inverse8, 0x10000) && Allocate(&set->inverse16, 0x20000)) {
            Fill(set);
            gSetCount++;
            chosen = set;
        } else {
            Release(set);
            chosen = Nearest(gamma);
            if (!chosen) ReportUnexpected(__LINE__, "GetGammaTables() - No gamma table set could be allocated.");
        }
    }
    if (chosen) HandOut(chosen, tables);
    OsReleaseMutex(gGammaTableMutex);
    return chosen != nullptr;
}

void ReleaseGammaTables() {
    for (int i = 0; i < gSetCount; i++) Release(&gSets[i]);
    gSetCount = 0;
    if (gGammaTableMutex) OsCloseHandle(gGammaTableMutex);
    gGammaTableMutex = nullptr;
}

int GetGammaTableSetCount() { return gSetCount; }

void SetGammaTableAllocationFailureForTesting(bool fail) { gFailAllocations = fail; }
