// Inside the host simulator: the state its procedures work on. The plug-in
// calls the procedures without any context, so they reach the state of the
// simulator constructed last through CurrentSim().
#pragma once

#include <cstdarg>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/hostsim/host_simulator.h"
#include "tools/hostsim/sim_guarded_buffer.h"

// A host handle. `master` comes first: the Handle the plug-in holds is its
// address, so *handle is the data pointer as with real host handles.
// Records are kept after disposal, so a stale handle is recognised as one.
struct SimHandle {
    char* master = nullptr;
    GuardedBuffer memory;
    int32 size = 0;
    int32 locks = 0;
    bool alive = true;
    bool hostOwned = false;   // made by the host itself (descriptors, profile)
    int32 run = 0;            // the run it was made in
    int16 selector = -1;      // the selector it was made in
};

// One image buffer handed out by advanceState and what it was filled for.
struct SimImageBuffer {
    GuardedBuffer memory;
    bool active = false;
    VRect rect = {0, 0, 0, 0};  // in document coordinates
    int16 loPlane = 0;
    int16 hiPlane = -1;
    int32 columns = 0;
    int32 rows = 0;
    int32 rowBytes = 0;
    int32 rate = 1;             // sampling step in pixels
    size_t planeBytes = 1;      // bytes per sample
};

// Live scripting descriptor readers and writers, and action descriptors.
struct SimReader {
    SimDescriptor descriptor;
    size_t next = 0;       // index of the next key getKey hands out
    int64 current = -1;    // index of the key last handed out
    bool open = true;
};
struct SimWriter {
    SimDescriptor descriptor;
    bool open = true;
};
struct SimActionDescriptor {
    SimDescriptor descriptor;
    bool alive = true;
    bool hostMade = false;  // made by the host (Get from the registry) for the plug-in to free
};
struct SimRegistryEntry {
    SimDescriptor descriptor;
    bool persistent = false;
};

struct SimState {
    HostSimulator* owner = nullptr;
    PluginMainProc entry = nullptr;
    SimState* previous = nullptr;  // the simulator that was current before this one
    mutable std::recursive_mutex mutex;
    std::thread::id hostThread;

    // ---- the run ----
    bool inRun = false;
    int32 runNumber = 0;
    bool calling = false;      // PluginMain is running
    int16 selector = 0;        // the selector being called (when `calling`)
    HostOptions options;       // as read at BeginRun
    RunLog run;
    GuardedBuffer recordMemory;
    FilterRecord* record = nullptr;
    GuardedBuffer aboutMemory;
    BigDocumentStruct big = {};
    PlatformData platform = {};
    HandleProcs handleProcs = {};
    PropertyProcs propertyProcs = {};
    PIDescriptorParameters descriptorParameters = {};
    ReadDescriptorProcs readProcs = {};
    WriteDescriptorProcs writeProcs = {};
    GuardedBuffer errorString;  // the Str255 behind record->errorString
    Handle descriptorGiven = nullptr;  // the descriptor handle the run started with
    Handle iccProfile = nullptr;
    SimDocument snapshot;             // the document as the run found it
    bool snapshotTaken = false;

    SimImageBuffer in, out, mask;
    bool outPending = false;  // outData handed out and not yet committed
    int32 progressCalls = 0;
    bool cancelled = false;
    bool startSucceeded = false;

    // ---- between runs ----
    intptr_t dataSlot = 0;
    Handle parameters = nullptr;
    std::vector<std::unique_ptr<SimHandle>> handles;  // never shrinks; records outlive disposal
    std::map<Handle, SimHandle*> handleIndex;
    std::vector<std::string> allViolations;
    std::optional<SimDescriptor> recorded;
    std::optional<SimDescriptor> toPlay;

    // ---- suites ----
    std::map<std::pair<std::string, int32>, int32> acquired;  // balance per suite and version
    std::map<void*, size_t> blocks;                           // AllocateBlock blocks alive
    std::vector<std::unique_ptr<SimActionDescriptor>> actionDescriptors;
    std::vector<std::unique_ptr<SimReader>> readers;
    std::vector<std::unique_ptr<SimWriter>> writers;
    std::map<std::string, SimRegistryEntry> registry;
    bool registryLoaded = false;
    bool registryForeign = false;  // the registry file is not one of ours: never written

    // ---- helpers ----
    void Violation(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void ViolationV(const char* format, va_list args);
    bool OnHostThread() const { return std::this_thread::get_id() == hostThread; }
    // Records a call made from another thread or outside any selector.
    void CheckCaller(const char* procedure);
    bool UsingBig() const;
    SimHandle* Find(Handle handle);
    Handle NewHandle(int32 size, bool hostOwned);
    // `byHost`: the host drops its own or a kept handle; no lock or guard checks.
    void DisposeHandle(Handle handle, const char* procedure, bool byHost = false);

    // Image exchange (sim_image_exchange.cpp).
    OSErr AdvanceState();     // the plug-in's call
    OSErr ServeRectangles();  // commit the output, fill buffers for the rectangles now set
    void CommitOutput();
    void ReleaseImageBuffers();
    bool AnyRectangleSet() const;
    void CheckBufferGuards();

    // Registry persistence (sim_registry.cpp).
    void LoadRegistry();
    void SaveRegistry();
};

SimState* CurrentSim();

// Table procedures (each file fills its tables).
void FillHandleProcs(SimState& state);
void FillDescriptorProcs(SimState& state);
SPBasicSuite* SimBasicSuite();
// The property procedures; `stub`: the ones that answer noErr and write nothing.
const PropertyProcs* SimPropertyProcs(bool stub);
AdvanceStateProc SimAdvanceStateProc();
ProgressProc SimProgressProc();
TestAbortProc SimAbortProc();

// Traps: a procedure for a slot the host does not implement or did not offer.
// Calling it records the violation and answers an error (NULL or false for
// slots that return a pointer or a Boolean).
enum SimTrapTable {
    kTrapHandleProcs,
    kTrapReadDescriptor,
    kTrapWriteDescriptor,
    kTrapActionDescriptor,
    kTrapErrorSuite,
    kTrapRecord,
    kTrapTableCount,
};
// Record procedures: hostProc, processEvent, displayPixels, colorServices, getPropertyObsolete.
enum SimRecordTrap { kTrapHostProc, kTrapProcessEvent, kTrapDisplayPixels, kTrapColorServices, kTrapGetProperty };
UntypedHostProc SimTrap(SimTrapTable table, int slot);
// The action descriptor table for a version (2 or 3): slots beyond it are traps.
const void* SimActionDescriptorSuite(int32 version);
const void* SimRegistrySuite();

// Cast a typed procedure to a table slot type and back (through the untyped
// procedure type, which every function pointer converts to without warning).
template <class To, class From>
To ProcCast(From proc) {
    return reinterpret_cast<To>(reinterpret_cast<UntypedHostProc>(proc));
}
