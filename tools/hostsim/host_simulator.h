// A strict stand-in for an image editor that hosts filter plug-ins. It hands
// PluginMain the records and procedure tables a real host hands out, keeps
// the plug-in's handles and data slot between runs, serves image data from an
// in-memory document, and records everything the plug-in does wrong instead
// of crashing on it: procedures the host did not offer, writes outside the
// buffers it was given, handles left locked, rectangles left set after
// finish, suites acquired and not released.
//
// Portable: no operating-system interface, builds natively and with mingw.
// One simulator drives the plug-in at a time; the host procedures reach the
// simulator constructed last.
//
//   HostSimulator host(PluginMain);
//   host.document = MakeSimDocument(plugInModeRGBColor, 64, 48);
//   RunLog run = host.RunFilter();   // parameters, prepare, start, continue..., finish
//   run.Result(filterSelectorStart), run.violations, host.Violations() ...
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/host_abi.h"
#include "tools/hostsim/sim_descriptor.h"
#include "tools/hostsim/sim_document.h"

enum FinishPolicy { FINISH_AFTER_START, FINISH_ONLY_ON_SUCCESS, FINISH_ONLY_AFTER_FAILED_CONTINUE };

struct HostOptions {
    // ---- the filter record ----
    // 608 bytes as current hosts allocate; 556 like the hosts whose record
    // ends before the 64-bit space fields (bigDocumentData is NULL there).
    uint32_t recordSize = 608;
    bool bigDocument = true;        // offer bigDocumentData (only in records that reach it)
    int16 handleProcCount = 8;      // HandleProcs slots the host fills; later slots are traps
    bool offerProgress = true;      // progressProc and abortProc
    bool offerAdvanceState = true;
    bool offerPlatformData = true;
    intptr_t hostWindow = 0;        // platformData->hwnd
    int32 maxSpace = 1 << 30;       // bytes the host says it can give
    int16 tileWidth = 512;          // inTileWidth / outTileWidth / maskTileWidth hints; 0 allowed
    int16 tileHeight = 512;
    int32 rowSlack = 0;             // unused bytes at the end of every buffer row
    bool fillOutputFromDocument = true;  // else outData starts filled with 0xCD
    bool enforceMaxSpace = false;   // advanceState fails with -108 when buffers exceed maxSpace
    bool revertOnFailure = true;    // a failed or cancelled run leaves the document as it was
    VRect filterRect = {0, 0, 0, 0};  // empty: the whole image
    // Tile hints of the whole document instead of tileWidth x tileHeight, each
    // side at most wholeImageTileLimit (0: no limit), with width and height
    // traded when wholeImageTilesSwapped (as one host does).
    bool wholeImageTiles = false;
    int16 wholeImageTileLimit = 0;
    bool wholeImageTilesSwapped = false;

    // ---- how advanceState serves the planes (hosts differ; see host_profiles.h) ----
    // The low plane is ignored: a request for n planes gets planes 0..n-1, and
    // what the plug-in writes for them lands there.
    bool planesFromZero = false;
    // A buffer is refilled only when its rectangle changes: a request for other
    // planes of the same rectangle gets the buffer as it was. The output
    // buffer is written back on every call.
    bool refillOnlyOnNewRectangle = false;
    bool reportColumnBytes = true;  // inColumnBytes / outColumnBytes set (0 otherwise)
    int16 maxPlanesPerRequest = 0;  // requests for more planes answer paramErr (0: any count)
    bool outputFromOriginal = false;  // outData starts as the image before the run, not as the output so far
    // No mask for the plug-in (haveMask 0): the filter rectangle is the
    // bounds of the selection, and the host merges the result through the
    // selection after a successful run.
    bool mergeThroughSelection = false;

    // ---- user actions ----
    // abortProc answers true once this many progress calls were made (0: from
    // the first call); advanceState then answers -128. Negative: never.
    int32 cancelAtProgressCall = -1;

    // ---- memory failures ----
    bool failNewHandle = false;     // newProc answers NULL
    bool failLockHandle = false;    // lockProc answers NULL

    // ---- suites ----
    bool offerBasicSuite = true;     // sSPBasic (NULL otherwise)
    bool offerPropertySuite = true;  // the property suite and record->propertyProcs
    bool offerErrorSuite = true;
    bool offerRegistrySuite = true;
    int32 actionDescriptorVersion = 3;  // 3 (and 2), 2 only, or 0 for none
    std::string registryFile;           // persistent registry entries; empty: kept in memory

    // ---- scripting ----
    bool offerDescriptorParameters = true;
    int16 playInfo = PLAY_INFO_DONT_DISPLAY;
    int16 recordInfo = RECORD_INFO_OPTIONAL;
    // Hand the plug-in the descriptor it wrote in the previous run (or the one
    // given with PlayDescriptor) at the start of the next.
    bool replayDescriptor = false;
    bool offerErrorString = true;
    // descriptorParameters without read and write procedures (and no descriptor).
    bool offerDescriptorProcs = true;

    // ---- procedures that answer without doing anything ----
    bool stubPropertyProcs = false;    // propertyProcs answer noErr and write nothing
    bool stubHandleSizeProcs = false;  // getSizeProc answers 0, setSizeProc answers noErr and keeps the size

    // ---- the run ----
    bool callParameters = true;  // the user asked for the dialog: parameters before prepare
    bool keepDataSlot = true;    // keep *data between runs
    bool keepParameters = true;  // keep the parameters handle between runs
    std::vector<uint8_t> iccProfile;  // handed over in iCCprofileData when not empty
    int32 maxContinueCalls = 100000;
    int16 aboutResult = noErr;  // the result the about selector starts with
    // When finish comes: after every successful start (whatever continue
    // answered or the user did), only when every selector succeeded, or only
    // after a failed continue.
    FinishPolicy finish = FINISH_AFTER_START;
};

constexpr int16 kSelectorNotCalled = 0x7FFF;

struct SelectorCall {
    int16 selector;
    int16 result;
};

struct ProgressCall {
    int32 done;
    int32 total;
    int16 selector;          // the selector running when it came
    bool hostThread;         // false: called from another thread (a violation)
    std::thread::id thread;  // the thread it came from
};

struct PropertyCall {
    bool set;
    OSType signature;
    OSType key;
    int32 index;
    intptr_t value;
    int16 selector;
    OSErr result;
};

struct SuiteCall {
    bool acquire;
    std::string name;
    int32 version;
    int32 result;
};

// What one run did.
struct RunLog {
    std::vector<SelectorCall> calls;
    std::vector<std::string> violations;
    std::vector<ProgressCall> progress;
    std::vector<PropertyCall> properties;
    std::vector<SuiteCall> suites;
    std::vector<std::string> errorMessages;  // texts given to the error suite
    std::string errorString;                 // the record's errorString after the run
    int32 abortCalls = 0;
    int32 advanceStateCalls = 0;
    int32 continueCalls = 0;
    bool cancelled = false;           // abortProc has answered true
    bool prepared = false;
    int32 bufferSpace = 0;            // as left by prepare
    int32 maxSpace = 0;               // as left by prepare
    int32 offeredMaxSpace = 0;
    bool used32BitCoordinates = false;  // PluginUsing32BitCoordinates was 1 at the end
    bool wroteDescriptor = false;
    SimDescriptor writtenDescriptor;  // what the plug-in left in descriptorParameters

    // Result of the last call of the selector, or kSelectorNotCalled.
    int16 Result(int16 selector) const;
    bool Called(int16 selector) const { return Result(selector) != kSelectorNotCalled; }
    int32 CallCount(int16 selector) const;
    int32 Acquisitions(const std::string& suiteName) const;
    int32 Releases(const std::string& suiteName) const;
};

struct SimState;

class HostSimulator {
public:
    explicit HostSimulator(PluginMainProc entry, const HostOptions& options = HostOptions());
    ~HostSimulator();
    HostSimulator(const HostSimulator&) = delete;
    HostSimulator& operator=(const HostSimulator&) = delete;

    HostOptions options;   // read at the beginning of every run
    SimDocument document;  // the image the runs work on

    // ---- whole runs ----
    // parameters (when options.callParameters), prepare, start, continue while
    // a rectangle is set, then finish after a successful or cancelled start.
    RunLog RunFilter();
    // The about selector on its own, with an AboutRecord.
    RunLog RunAbout();

    // ---- step by step ----
    void BeginRun();  // a fresh record for the document; the kept handles go in
    // One selector, with every check after it. Begins a run when none is open.
    // The result starts as `presetResult` (hosts pass 0).
    int16 Call(int16 selector, int16 presetResult = noErr);
    // Runs the continue loop as the host would after a successful start.
    void ContinueLoop();
    const RunLog& EndRun();  // the end-of-run checks; the record is released
    bool InRun() const;
    FilterRecord* Record();            // the live record (null outside a run)
    BigDocumentStruct* BigDocument();  // null when not offered
    PIDescriptorParameters* DescriptorParameters();
    const RunLog& Run() const;         // the current or last run

    // ---- state kept between runs ----
    intptr_t DataSlot() const;
    void SetDataSlot(intptr_t value);
    Handle Parameters() const;
    void SetParameters(Handle handle);
    // A host handle holding the bytes (for a test that hands one in).
    Handle NewHostHandle(const std::vector<uint8_t>& bytes);
    bool HandleAlive(Handle handle) const;
    std::vector<uint8_t> HandleBytes(Handle handle) const;
    int32 HandleLockCount(Handle handle) const;
    void PlayDescriptor(const SimDescriptor& descriptor);  // for the next run (sets replayDescriptor)
    const SimDescriptor* RecordedDescriptor() const;       // the last descriptor a run wrote
    // Registry entries (persistent ones also in options.registryFile).
    std::map<std::string, SimDescriptor> RegistryEntries() const;
    void SetRegistryEntry(const std::string& key, const SimDescriptor& descriptor, bool persistent);

    // Every violation since construction, oldest first.
    std::vector<std::string> Violations() const;

private:
    std::unique_ptr<SimState> state_;
    friend struct SimState;
};

const char* SelectorName(int16 selector);
