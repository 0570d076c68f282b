// The simulated host: the record it builds for a run, how it calls the
// selectors, the checks after each call and at the end of a run, and the
// state it keeps between runs.
#include "tools/hostsim/host_simulator.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "tools/hostsim/sim_state.h"

namespace {

SimState* gCurrent = nullptr;

int16 Clamp16(int32 v) { return static_cast<int16>(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }

Rect ToRect(const VRect& r) { return Rect{Clamp16(r.top), Clamp16(r.left), Clamp16(r.bottom), Clamp16(r.right)}; }

bool IsEmpty(const VRect& r) { return r.right <= r.left || r.bottom <= r.top; }

Fixed ToFixed(double v) { return static_cast<Fixed>(v * kFixedOne + (v < 0 ? -0.5 : 0.5)); }

// Monitor description of an sRGB display.
PlugInMonitor SrgbMonitor() {
    PlugInMonitor m;
    m.gamma = ToFixed(2.2);
    m.redX = ToFixed(0.64);
    m.redY = ToFixed(0.33);
    m.greenX = ToFixed(0.30);
    m.greenY = ToFixed(0.60);
    m.blueX = ToFixed(0.15);
    m.blueY = ToFixed(0.06);
    m.whiteX = ToFixed(0.3127);
    m.whiteY = ToFixed(0.3290);
    m.ambient = ToFixed(0.5);
    return m;
}

// The smallest rectangle inside `within` holding every selected pixel (the
// whole of `within` when nothing is selected).
VRect SelectionBounds(SimDocument& d, const VRect& within) {
    VRect b = {within.bottom, within.right, within.top, within.left};
    for (int32 y = within.top; y < within.bottom; y++)
        for (int32 x = within.left; x < within.right; x++) {
            if (d.MaskAt(x, y) == 0) continue;
            if (y < b.top) b.top = y;
            if (x < b.left) b.left = x;
            if (y + 1 > b.bottom) b.bottom = y + 1;
            if (x + 1 > b.right) b.right = x + 1;
        }
    return IsEmpty(b) ? within : b;
}

// The host's own merge of a result through the selection: every sample
// becomes before + (after - before) * mask / 255.
void MergeThroughSelection(SimDocument& after, SimDocument& before) {
    for (int32 p = 0; p < after.PlaneCount(); p++)
        for (int32 y = 0; y < after.height; y++)
            for (int32 x = 0; x < after.width; x++) {
                const uint8_t m = after.MaskAt(x, y);
                if (m == 255) continue;
                const double a = before.Get(p, x, y), b = after.Get(p, x, y);
                after.Set(p, x, y, m == 0 ? a : a + (b - a) * (m / 255.0));
            }
}

}  // namespace

SimState* CurrentSim() { return gCurrent; }

const char* SelectorName(int16 selector) {
    switch (selector) {
        case filterSelectorAbout: return "about";
        case filterSelectorParameters: return "parameters";
        case filterSelectorPrepare: return "prepare";
        case filterSelectorStart: return "start";
        case filterSelectorContinue: return "continue";
        case filterSelectorFinish: return "finish";
        default: return "unknown selector";
    }
}

// ---------------------------------------------------------------------------
// RunLog
// ---------------------------------------------------------------------------

int16 RunLog::Result(int16 selector) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it)
        if (it->selector == selector) return it->result;
    return kSelectorNotCalled;
}

int32 RunLog::CallCount(int16 selector) const {
    int32 n = 0;
    for (const auto& call : calls) n += call.selector == selector;
    return n;
}

int32 RunLog::Acquisitions(const std::string& suiteName) const {
    int32 n = 0;
    for (const auto& call : suites) n += call.acquire && call.result == kSPNoError && call.name == suiteName;
    return n;
}

int32 RunLog::Releases(const std::string& suiteName) const {
    int32 n = 0;
    for (const auto& call : suites) n += !call.acquire && call.result == kSPNoError && call.name == suiteName;
    return n;
}

// ---------------------------------------------------------------------------
// SimState helpers
// ---------------------------------------------------------------------------

void SimState::ViolationV(const char* format, va_list args) {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    std::string line = calling ? std::string(SelectorName(selector)) + ": " + text : std::string(text);
    std::lock_guard<std::recursive_mutex> lock(mutex);
    if (inRun) run.violations.push_back(line);
    allViolations.push_back(line);
}

void SimState::Violation(const char* format, ...) {
    va_list args;
    va_start(args, format);
    ViolationV(format, args);
    va_end(args);
}

void SimState::CheckCaller(const char* procedure) {
    if (!OnHostThread()) Violation("%s called from a thread other than the host's", procedure);
    if (!calling) Violation("%s called while no selector was running", procedure);
}

// ---------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------

HostSimulator::HostSimulator(PluginMainProc entry, const HostOptions& initial)
    : options(initial), state_(std::make_unique<SimState>()) {
    state_->owner = this;
    state_->entry = entry;
    state_->hostThread = std::this_thread::get_id();
    state_->previous = gCurrent;
    gCurrent = state_.get();
}

HostSimulator::~HostSimulator() {
    if (state_->inRun) EndRun();
    for (auto& block : state_->blocks) std::free(block.first);
    if (gCurrent == state_.get()) gCurrent = state_->previous;
}

bool HostSimulator::InRun() const { return state_->inRun; }
FilterRecord* HostSimulator::Record() { return state_->inRun ? state_->record : nullptr; }
BigDocumentStruct* HostSimulator::BigDocument() { return Record() ? Record()->bigDocumentData : nullptr; }
PIDescriptorParameters* HostSimulator::DescriptorParameters() {
    return Record() ? Record()->descriptorParameters : nullptr;
}
const RunLog& HostSimulator::Run() const { return state_->run; }

// ---------------------------------------------------------------------------
// The record of a run
// ---------------------------------------------------------------------------

void HostSimulator::BeginRun() {
    SimState& s = *state_;
    if (s.inRun) EndRun();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    s.options = options;
    if (!s.registryLoaded) s.LoadRegistry();
    s.runNumber++;
    s.run = RunLog();
    s.hostThread = std::this_thread::get_id();
    s.progressCalls = 0;
    s.cancelled = false;
    s.startSucceeded = false;
    s.inRun = true;
    if (!options.keepDataSlot) s.dataSlot = 0;

    // The record: zero-filled, as long as the host allocates it, guarded after its end.
    uint32_t size = options.recordSize;
    if (size < kFilterRecordMinimumSize) size = kFilterRecordMinimumSize;
    if (size > sizeof(FilterRecord)) size = sizeof(FilterRecord);
    s.options.recordSize = size;
    s.recordMemory.Allocate(size, 0);
    s.record = reinterpret_cast<FilterRecord*>(s.recordMemory.Data());
    FilterRecord& r = *s.record;
    const bool fullRecord = size >= sizeof(FilterRecord);

    const SimDocument& d = document;
    VRect filter = options.filterRect;
    if (IsEmpty(filter)) filter = VRect{0, 0, d.height, d.width};
    const bool merging = options.mergeThroughSelection && d.hasMask;
    if (merging) filter = SelectionBounds(document, filter);

    r.serialNumber = 0;
    if (options.offerProgress) {
        r.abortProc = SimAbortProc();
        r.progressProc = SimProgressProc();
    }
    r.parameters = s.parameters;
    r.imageSize = Point{Clamp16(d.height), Clamp16(d.width)};
    r.planes = static_cast<int16>(d.PlaneCount());
    r.filterRect = ToRect(filter);
    r.background = PSRGBColor{0xFFFF, 0xFFFF, 0xFFFF};
    r.foreground = PSRGBColor{0, 0, 0};
    r.maxSpace = options.maxSpace;
    std::memset(r.backColor, 255, sizeof r.backColor);
    std::memset(r.foreColor, 0, sizeof r.foreColor);
    r.haveMask = d.hasMask && !merging ? 1 : 0;
    r.hostSig = kHostSignature;
    r.hostProc = ProcCast<HostProc>(SimTrap(kTrapRecord, kTrapHostProc));
    r.imageMode = d.mode;
    r.imageHRes = r.imageVRes = d.resolution;
    r.wholeSize = r.imageSize;
    r.monitor = SrgbMonitor();
    s.platform.hwnd = options.hostWindow;
    if (options.offerPlatformData) r.platformData = &s.platform;
    r.processEvent = SimTrap(kTrapRecord, kTrapProcessEvent);
    r.displayPixels = SimTrap(kTrapRecord, kTrapDisplayPixels);
    FillHandleProcs(s);
    r.handleProcs = &s.handleProcs;
    const bool withSelection = d.hasMask && !merging;
    r.filterCase = d.transparency ? (withSelection ? filterCaseEditableTransparencyWithSelection
                                               : filterCaseEditableTransparencyNoSelection)
                                  : (withSelection ? filterCaseFlatImageWithSelection : filterCaseFlatImageNoSelection);
    if (options.offerAdvanceState) r.advanceState = SimAdvanceStateProc();
    r.getPropertyObsolete = ProcCast<GetPropertyProc>(SimTrap(kTrapRecord, kTrapGetProperty));
    r.supportsPadding = 1;
    r.samplingSupport = 1;  // integral sampling rates
    r.inputRate = r.maskRate = kFixedOne;
    r.colorServices = SimTrap(kTrapRecord, kTrapColorServices);
    r.inLayerPlanes = r.outLayerPlanes = r.absLayerPlanes = static_cast<int16>(d.ColorPlanes());
    r.inTransparencyMask = r.outTransparencyMask = r.absTransparencyMask = d.transparency ? 1 : 0;
    if (options.offerPropertySuite)
        r.propertyProcs = const_cast<PropertyProcs*>(SimPropertyProcs(options.stubPropertyProcs));
    if (options.stubPropertyProcs) r.getPropertyObsolete = SimPropertyProcs(true)->getPropertyProc;
    int16 tileWidth = options.tileWidth, tileHeight = options.tileHeight;
    if (options.wholeImageTiles) {
        const int32 limit = options.wholeImageTileLimit;
        tileWidth = Clamp16(limit > 0 && d.width > limit ? limit : d.width);
        tileHeight = Clamp16(limit > 0 && d.height > limit ? limit : d.height);
        if (options.wholeImageTilesSwapped) std::swap(tileWidth, tileHeight);
    }
    r.inTileWidth = r.outTileWidth = r.maskTileWidth = r.absTileWidth = tileWidth;
    r.inTileHeight = r.outTileHeight = r.maskTileHeight = r.absTileHeight = tileHeight;

    // Scripting: the descriptor handed to the plug-in, if one is to be played.
    FillDescriptorProcs(s);
    s.descriptorParameters = PIDescriptorParameters();
    s.descriptorParameters.playInfo = options.playInfo;
    s.descriptorParameters.recordInfo = options.recordInfo;
    if (options.offerDescriptorProcs) {
        s.descriptorParameters.readDescriptorProcs = &s.readProcs;
        s.descriptorParameters.writeDescriptorProcs = &s.writeProcs;
    }
    s.descriptorGiven = nullptr;
    const SimDescriptor* play = s.toPlay ? &*s.toPlay : s.recorded ? &*s.recorded : nullptr;
    if (options.replayDescriptor && options.offerDescriptorProcs && play) {
        const std::vector<uint8_t> bytes = EncodeSimDescriptor(*play);
        s.descriptorGiven = s.NewHandle(static_cast<int32>(bytes.size()), true);
        std::memcpy(*s.descriptorGiven, bytes.data(), bytes.size());
        s.descriptorParameters.descriptor = s.descriptorGiven;
    }
    if (options.offerDescriptorParameters) r.descriptorParameters = &s.descriptorParameters;
    s.errorString.Allocate(sizeof(Str255), 0);
    if (options.offerErrorString) r.errorString = reinterpret_cast<Str255*>(s.errorString.Data());

    if (options.offerBasicSuite) r.sSPBasic = SimBasicSuite();
    r.plugInRef = &s;
    r.depth = d.Depth();
    s.iccProfile = nullptr;
    if (!options.iccProfile.empty()) {
        s.iccProfile = s.NewHandle(static_cast<int32>(options.iccProfile.size()), true);
        std::memcpy(*s.iccProfile, options.iccProfile.data(), options.iccProfile.size());
        r.iCCprofileData = s.iccProfile;
        r.iCCprofileSize = static_cast<int32>(options.iccProfile.size());
        r.canUseICCProfiles = 1;
    }

    // Only records long enough for the 64-bit fields carry big-document data.
    s.big = BigDocumentStruct();
    s.big.imageSize32 = VPoint{d.height, d.width};
    s.big.filterRect32 = filter;
    s.big.wholeSize32 = s.big.imageSize32;
    if (options.bigDocument && fullRecord) r.bigDocumentData = &s.big;
    if (fullRecord) r.maxSpace64 = options.maxSpace;
    s.run.offeredMaxSpace = options.maxSpace;

    // The about record, for the about selector.
    s.aboutMemory.Allocate(sizeof(AboutRecord), 0);
    auto* about = reinterpret_cast<AboutRecord*>(s.aboutMemory.Data());
    if (options.offerPlatformData) about->platformData = &s.platform;
    if (options.offerBasicSuite) about->sSPBasic = SimBasicSuite();
    about->plugInRef = &s;

    s.in = SimImageBuffer();
    s.out = SimImageBuffer();
    s.mask = SimImageBuffer();
    s.outPending = false;
    s.snapshotTaken = options.revertOnFailure;
    if (s.snapshotTaken) s.snapshot = document;
}

// ---------------------------------------------------------------------------
// Calling the plug-in
// ---------------------------------------------------------------------------

int16 HostSimulator::Call(int16 selector, int16 presetResult) {
    SimState& s = *state_;
    if (!s.inRun) BeginRun();
    void* block = selector == filterSelectorAbout ? s.aboutMemory.Data() : static_cast<void*>(s.record);
    {
        std::lock_guard<std::recursive_mutex> lock(s.mutex);
        s.selector = selector;
        s.calling = true;
    }
    int16 result = presetResult;
    s.entry(selector, block, &s.dataSlot, &result);

    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    s.run.calls.push_back(SelectorCall{selector, result});

    // Checks after every call, still in the selector's name.
    size_t after = 0;
    if (!s.recordMemory.GuardsIntact(nullptr, &after)) {
        s.Violation("the plug-in wrote up to %zu bytes past the end of the %u-byte filter record", after,
                    s.options.recordSize);
        s.recordMemory.RestoreGuards();
    }
    if (!s.aboutMemory.GuardsIntact(nullptr, &after)) {
        s.Violation("the plug-in wrote up to %zu bytes past the end of the about record", after);
        s.aboutMemory.RestoreGuards();
    }
    if (!s.errorString.GuardsIntact(nullptr, &after)) {
        s.Violation("the plug-in wrote up to %zu bytes past the end of errorString (Str255)", after);
        s.errorString.RestoreGuards();
    }
    s.CheckBufferGuards();
    for (const auto& h : s.handles) {
        if (!h->alive) continue;
        size_t before = 0, past = 0;
        if (!h->memory.GuardsIntact(&before, &past)) {
            s.Violation("the plug-in wrote outside a %d-byte handle (%zu bytes before, %zu bytes past it)", h->size,
                        before, past);
            h->memory.RestoreGuards();
        }
        if (h->locks > 0)
            s.Violation("a %d-byte handle was left locked at the end of the selector (%d lock%s)", h->size, h->locks,
                        h->locks == 1 ? "" : "s");
    }
    for (const auto& reader : s.readers)
        if (reader->open) {
            s.Violation("a read descriptor was left open at the end of the selector");
            reader->open = false;
        }
    for (const auto& writer : s.writers)
        if (writer->open) {
            s.Violation("a write descriptor was left open at the end of the selector");
            writer->open = false;
        }

    if (selector != filterSelectorAbout && s.record) {
        s.parameters = s.record->parameters;  // the host keeps what the plug-in stored
        if (selector == filterSelectorPrepare) {
            s.run.prepared = true;
            s.run.bufferSpace = s.record->bufferSpace;
            s.run.maxSpace = s.record->maxSpace;
        }
        if (selector == filterSelectorStart && result == noErr) s.startSucceeded = true;
        if ((selector == filterSelectorStart || selector == filterSelectorContinue) && result == noErr)
            s.CommitOutput();
        if (selector == filterSelectorFinish && s.AnyRectangleSet())
            s.Violation("a rectangle is still set after finish (the host would go on asking for data)");
    }
    s.calling = false;
    return result;
}

void HostSimulator::ContinueLoop() {
    SimState& s = *state_;
    if (!s.inRun) return;
    while (true) {
        {
            std::lock_guard<std::recursive_mutex> lock(s.mutex);
            if (s.cancelled || !s.AnyRectangleSet()) break;
            if (s.run.continueCalls >= s.options.maxContinueCalls) {
                s.Violation("continue was called %d times and the rectangles are still set", s.run.continueCalls);
                break;
            }
            // The host serves the rectangles now set before calling continue.
            s.CheckBufferGuards();
            if (s.ServeRectangles() != noErr) break;
            s.run.continueCalls++;
        }
        if (Call(filterSelectorContinue) != noErr) break;
    }
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    s.ReleaseImageBuffers();
}

RunLog HostSimulator::RunFilter() {
    BeginRun();
    bool ok = true;
    if (options.callParameters) ok = Call(filterSelectorParameters) == noErr;
    if (ok) ok = Call(filterSelectorPrepare) == noErr;
    if (ok && Call(filterSelectorStart) == noErr) {
        ContinueLoop();
        bool continued = true;
        for (const SelectorCall& call : state_->run.calls)
            if (call.selector == filterSelectorContinue && call.result != noErr) continued = false;
        switch (options.finish) {
            case FINISH_AFTER_START:
                // Finish follows every successful start, whatever continue
                // answered and also when the user cancelled.
                Call(filterSelectorFinish);
                break;
            case FINISH_ONLY_ON_SUCCESS:
                if (continued) Call(filterSelectorFinish);
                break;
            case FINISH_ONLY_AFTER_FAILED_CONTINUE:
                if (!continued) Call(filterSelectorFinish);
                break;
        }
    }
    return EndRun();
}

RunLog HostSimulator::RunAbout() {
    BeginRun();
    Call(filterSelectorAbout, options.aboutResult);
    return EndRun();
}

// ---------------------------------------------------------------------------
// The end of a run
// ---------------------------------------------------------------------------

const RunLog& HostSimulator::EndRun() {
    SimState& s = *state_;
    if (!s.inRun) return s.run;
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    s.ReleaseImageBuffers();
    FilterRecord& r = *s.record;

    for (auto& entry : s.acquired) {
        if (entry.second > 0)
            s.Violation("AcquireSuite(\"%s\", %d) was not matched by ReleaseSuite by the end of the run (%d left)",
                        entry.first.first.c_str(), entry.first.second, entry.second);
        entry.second = 0;
    }
    for (auto& block : s.blocks) {
        s.Violation("a %zu-byte block from AllocateBlock was not freed by the end of the run", block.second);
        std::free(block.first);
    }
    s.blocks.clear();
    for (auto& d : s.actionDescriptors) {
        if (!d->alive) continue;
        s.Violation(d->hostMade ? "an action descriptor returned by the registry's Get was not freed"
                                : "an action descriptor made with Make was not freed");
        d->alive = false;
    }

    // The descriptor the plug-in leaves in descriptorParameters is the host's now.
    Handle left = s.descriptorParameters.descriptor;
    Handle given = s.descriptorGiven;
    if (left) {
        SimHandle* h = s.Find(left);
        if (!h || !h->alive) {
            s.Violation("descriptorParameters holds a handle that is %s", h ? "disposed" : "not a handle of this host");
        } else {
            if (left != given) {
                if (DecodeSimDescriptor(reinterpret_cast<const uint8_t*>(h->master), static_cast<size_t>(h->size),
                                        s.run.writtenDescriptor)) {
                    s.run.wroteDescriptor = true;
                    s.recorded = s.run.writtenDescriptor;
                } else {
                    s.Violation("descriptorParameters holds a handle that closeWriteDescriptorProc did not make");
                }
            }
            s.DisposeHandle(left, "host", true);
        }
    }
    if (given && given != left) {
        SimHandle* h = s.Find(given);
        if (h && h->alive) {
            s.Violation("the plug-in dropped the played descriptor handle without disposing of it");
            s.DisposeHandle(given, "host", true);
        }
    }
    s.toPlay.reset();

    if (s.iccProfile) {
        SimHandle* h = s.Find(s.iccProfile);
        if (h && h->alive) s.DisposeHandle(s.iccProfile, "host", true);
        else s.Violation("the plug-in disposed of the host's ICC profile handle");
    }

    // Handles made in this run that nobody holds any more.
    for (const auto& h : s.handles) {
        if (!h->alive || h->run != s.runNumber) continue;
        Handle handle = &h->master;
        if (handle == r.parameters || reinterpret_cast<intptr_t>(handle) == s.dataSlot) continue;
        if (h->hostOwned) {
            s.Violation("a descriptor handle from closeWriteDescriptorProc was neither stored nor disposed of");
        } else {
            s.Violation("a %d-byte handle made during %s was never disposed of", h->size, SelectorName(h->selector));
        }
        s.DisposeHandle(handle, "host", true);
    }

    if (r.errorString) {
        const uint8_t* text = s.errorString.Data();
        s.run.errorString.assign(reinterpret_cast<const char*>(text + 1), text[0]);
    }
    s.run.used32BitCoordinates = s.big.PluginUsing32BitCoordinates == 1;

    // A failed or cancelled run leaves the document as it was.
    bool failed = s.run.cancelled;
    for (const auto& call : s.run.calls)
        if ((call.selector == filterSelectorStart || call.selector == filterSelectorContinue) && call.result != noErr)
            failed = true;
    if (failed && s.snapshotTaken) document = s.snapshot;
    if (!failed && s.snapshotTaken && s.options.mergeThroughSelection && document.hasMask)
        MergeThroughSelection(document, s.snapshot);
    s.snapshot = SimDocument();

    s.parameters = r.parameters;
    if (!s.options.keepParameters && s.parameters) {
        SimHandle* h = s.Find(s.parameters);
        if (h && h->alive) s.DisposeHandle(s.parameters, "host", true);
        s.parameters = nullptr;
    }
    s.record = nullptr;
    s.recordMemory.Release();
    s.aboutMemory.Release();
    s.errorString.Release();
    s.inRun = false;
    return s.run;
}

// ---------------------------------------------------------------------------
// Between runs
// ---------------------------------------------------------------------------

intptr_t HostSimulator::DataSlot() const { return state_->dataSlot; }
void HostSimulator::SetDataSlot(intptr_t value) { state_->dataSlot = value; }
Handle HostSimulator::Parameters() const { return state_->parameters; }

void HostSimulator::SetParameters(Handle handle) {
    state_->parameters = handle;
    if (state_->record) state_->record->parameters = handle;
}

Handle HostSimulator::NewHostHandle(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::recursive_mutex> lock(state_->mutex);
    Handle handle = state_->NewHandle(static_cast<int32>(bytes.size()), false);
    if (!bytes.empty()) std::memcpy(*handle, bytes.data(), bytes.size());
    state_->Find(handle)->run = 0;  // not made by the plug-in in any run
    return handle;
}

bool HostSimulator::HandleAlive(Handle handle) const {
    SimHandle* h = state_->Find(handle);
    return h && h->alive;
}

std::vector<uint8_t> HostSimulator::HandleBytes(Handle handle) const {
    SimHandle* h = state_->Find(handle);
    if (!h || !h->alive) return {};
    const uint8_t* p = reinterpret_cast<const uint8_t*>(h->master);
    return std::vector<uint8_t>(p, p + h->size);
}

int32 HostSimulator::HandleLockCount(Handle handle) const {
    SimHandle* h = state_->Find(handle);
    return h && h->alive ? h->locks : 0;
}

void HostSimulator::PlayDescriptor(const SimDescriptor& descriptor) {
    state_->toPlay = descriptor;
    options.replayDescriptor = true;
}

const SimDescriptor* HostSimulator::RecordedDescriptor() const {
    return state_->recorded ? &*state_->recorded : nullptr;
}

std::map<std::string, SimDescriptor> HostSimulator::RegistryEntries() const {
    SimState& s = *state_;
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    if (!s.registryLoaded) {
        s.options.registryFile = options.registryFile;
        s.LoadRegistry();
    }
    std::map<std::string, SimDescriptor> entries;
    for (const auto& entry : s.registry) entries[entry.first] = entry.second.descriptor;
    return entries;
}

void HostSimulator::SetRegistryEntry(const std::string& key, const SimDescriptor& descriptor, bool persistent) {
    SimState& s = *state_;
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    if (!s.registryLoaded) {
        s.options.registryFile = options.registryFile;
        s.LoadRegistry();
    }
    s.registry[key] = SimRegistryEntry{descriptor, persistent};
    s.options.registryFile = options.registryFile;
    s.SaveRegistry();
}

std::vector<std::string> HostSimulator::Violations() const {
    std::lock_guard<std::recursive_mutex> lock(state_->mutex);
    return state_->allViolations;
}
