// SPBasic and the two small suites behind it: the property suite (the watch
// suspension property) and the error suite (texts the host would show).
// Every acquisition and release is counted per suite and version; the run
// reports what is left unbalanced at its end.
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/hostsim/sim_state.h"

namespace {

const void* OfferedSuite(SimState& state, const char* name, int32 version);

SPErr AcquireSuite(const char* name, int32 version, const void** suite) {
    SimState* state = CurrentSim();
    if (!state) return kSPSuiteNotFoundError;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("AcquireSuite");
    if (!name || !suite) {
        state->Violation("AcquireSuite called with a NULL %s", name ? "suite pointer" : "name");
        return kSPBadParameterError;
    }
    const void* table = OfferedSuite(*state, name, version);
    const SPErr result = table ? kSPNoError : kSPSuiteNotFoundError;
    state->run.suites.push_back(SuiteCall{true, name, version, result});
    if (!table) return result;  // asking is allowed; the plug-in must cope with the answer
    state->acquired[{name, version}]++;
    *suite = table;
    return kSPNoError;
}

SPErr ReleaseSuite(const char* name, int32 version) {
    SimState* state = CurrentSim();
    if (!state) return kSPBadParameterError;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("ReleaseSuite");
    if (!name) {
        state->Violation("ReleaseSuite called with a NULL name");
        return kSPBadParameterError;
    }
    int32& count = state->acquired[{name, version}];
    const SPErr result = count > 0 ? kSPNoError : kSPBadParameterError;
    state->run.suites.push_back(SuiteCall{false, name, version, result});
    if (count <= 0) {
        state->Violation("ReleaseSuite(\"%s\", %d) without a matching AcquireSuite", name, version);
        return result;
    }
    count--;
    return kSPNoError;
}

SPBoolean IsEqual(const char* a, const char* b) {
    if (SimState* state = CurrentSim()) state->CheckCaller("IsEqual");
    return a && b && std::strcmp(a, b) == 0;
}

SPErr AllocateBlock(size_t size, void** block) {
    SimState* state = CurrentSim();
    if (!state || !block) return kSPBadParameterError;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("AllocateBlock");
    void* p = std::malloc(size ? size : 1);
    if (!p) return kSPOutOfMemoryError;
    state->blocks[p] = size;
    *block = p;
    return kSPNoError;
}

SPErr FreeBlock(void* block) {
    SimState* state = CurrentSim();
    if (!state) return kSPBadParameterError;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("FreeBlock");
    if (!block) return kSPNoError;
    auto it = state->blocks.find(block);
    if (it == state->blocks.end()) {
        state->Violation("FreeBlock given %p, which AllocateBlock did not hand out (or was freed already)", block);
        return kSPBadParameterError;
    }
    std::free(block);
    state->blocks.erase(it);
    return kSPNoError;
}

SPErr ReallocateBlock(void* block, size_t size, void** newBlock) {
    SimState* state = CurrentSim();
    if (!state || !newBlock) return kSPBadParameterError;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("ReallocateBlock");
    if (!block) return AllocateBlock(size, newBlock);
    auto it = state->blocks.find(block);
    if (it == state->blocks.end()) {
        state->Violation("ReallocateBlock given %p, which AllocateBlock did not hand out", block);
        return kSPBadParameterError;
    }
    void* p = std::realloc(block, size ? size : 1);
    if (!p) return kSPOutOfMemoryError;
    state->blocks.erase(it);
    state->blocks[p] = size;
    *newBlock = p;
    return kSPNoError;
}

SPErr Undefined() {
    if (SimState* state = CurrentSim()) state->Violation("SPBasic Undefined called");
    return kSPUnimplementedError;
}

SPBasicSuite gBasicSuite = {AcquireSuite, ReleaseSuite, IsEqual, AllocateBlock, FreeBlock, ReallocateBlock, Undefined};

// ---- property suite ----

OSErr RecordProperty(bool set, OSType signature, OSType key, int32 index, intptr_t value, OSErr result) {
    SimState* state = CurrentSim();
    if (!state) return result;
    state->run.properties.push_back(PropertyCall{set, signature, key, index, value, state->selector, result});
    return result;
}

OSErr GetProperty(OSType signature, OSType key, int32 index, intptr_t* simple, Handle* complex) {
    SimState* state = CurrentSim();
    if (!state) return errPlugInPropertyUndefined;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("getPropertyProc");
    if (signature == kHostSignature && key == propWatchSuspension && simple) {
        *simple = 0;  // watch suspension resets at every host call
        return RecordProperty(false, signature, key, index, 0, noErr);
    }
    (void)complex;
    return RecordProperty(false, signature, key, index, 0, errPlugInPropertyUndefined);
}

OSErr SetProperty(OSType signature, OSType key, int32 index, intptr_t simple, Handle complex) {
    SimState* state = CurrentSim();
    if (!state) return errPlugInPropertyUndefined;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("setPropertyProc");
    (void)complex;
    if (signature == kHostSignature && key == propWatchSuspension)
        return RecordProperty(true, signature, key, index, simple, noErr);
    return RecordProperty(true, signature, key, index, simple, errPlugInPropertyUndefined);
}

PropertyProcs gPropertyProcs = {kPropertySuiteVersion1, 2, GetProperty, SetProperty};

// A host whose property procedures only say yes: nothing is written back.
OSErr StubGetProperty(OSType signature, OSType key, int32 index, intptr_t*, Handle*) {
    if (SimState* state = CurrentSim()) state->CheckCaller("getPropertyProc");
    return RecordProperty(false, signature, key, index, 0, noErr);
}
OSErr StubSetProperty(OSType signature, OSType key, int32 index, intptr_t simple, Handle) {
    if (SimState* state = CurrentSim()) state->CheckCaller("setPropertyProc");
    return RecordProperty(true, signature, key, index, simple, noErr);
}
PropertyProcs gStubPropertyProcs = {kPropertySuiteVersion1, 2, StubGetProperty, StubSetProperty};

// ---- error suite ----

SPErr SetErrorFromPString(const Str255 message) {
    SimState* state = CurrentSim();
    if (!state) return kSPBadParameterError;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("SetErrorFromPString");
    if (!message) {
        state->Violation("SetErrorFromPString called with NULL");
        return kSPBadParameterError;
    }
    state->run.errorMessages.emplace_back(reinterpret_cast<const char*>(message + 1), message[0]);
    return kSPNoError;
}

SPErr SetErrorFromCString(const char* message) {
    SimState* state = CurrentSim();
    if (!state) return kSPBadParameterError;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("SetErrorFromCString");
    if (!message) {
        state->Violation("SetErrorFromCString called with NULL");
        return kSPBadParameterError;
    }
    state->run.errorMessages.emplace_back(message);
    return kSPNoError;
}

const ErrorSuite1& ErrorSuiteTable() {
    static const ErrorSuite1 table = {SetErrorFromPString, SetErrorFromCString,
                                      ProcCast<SetErrorFromZStringProc>(SimTrap(kTrapErrorSuite, 2))};
    return table;
}

}  // namespace

namespace {
const void* OfferedSuite(SimState& state, const char* name, int32 version) {
    const HostOptions& o = state.options;
    if (std::strcmp(name, PROPERTY_SUITE_NAME) == 0)
        return o.offerPropertySuite && version == kPropertySuiteVersion1 ? SimPropertyProcs(o.stubPropertyProcs)
                                                                          : nullptr;
    if (std::strcmp(name, ERROR_SUITE_NAME) == 0)
        return o.offerErrorSuite && version == kErrorSuiteVersion1 ? &ErrorSuiteTable() : nullptr;
    if (std::strcmp(name, DESCRIPTOR_REGISTRY_SUITE_NAME) == 0)
        return o.offerRegistrySuite && version == kDescriptorRegistrySuiteVersion1 ? SimRegistrySuite() : nullptr;
    if (std::strcmp(name, ACTION_DESCRIPTOR_SUITE_NAME) == 0)
        return version >= kActionDescriptorSuiteVersion2 && version <= o.actionDescriptorVersion
                   ? SimActionDescriptorSuite(version)
                   : nullptr;
    return nullptr;
}
}  // namespace

SPBasicSuite* SimBasicSuite() { return &gBasicSuite; }
const PropertyProcs* SimPropertyProcs(bool stub) { return stub ? &gStubPropertyProcs : &gPropertyProcs; }
