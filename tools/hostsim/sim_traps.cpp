// Trap procedures: what the simulated host puts in every table slot it does
// not implement or did not offer. A plug-in that calls one is reported, and
// gets an error back instead of a crash.
//
// A trap takes no arguments and returns an integer: on x64 the caller passes
// arguments in registers and removes nothing from the stack, so a trap can
// stand in for any slot, and the integer reads back as a NULL pointer, a
// false Boolean or an error code as the slot's real type requires.
#include <array>
#include <cstdint>
#include <utility>

#include "tools/hostsim/sim_state.h"

namespace {

const char* const kHandleProcNames[] = {"newProc", "disposeProc", "getSizeProc", "setSizeProc",
                                        "lockProc", "unlockProc", "recoverSpaceProc", "disposeRegularHandleProc"};

const char* const kReadProcNames[] = {
    "openReadDescriptorProc", "closeReadDescriptorProc", "getKeyProc", "getIntegerProc", "getFloatProc",
    "getUnitFloatProc", "getBooleanProc", "getTextProc", "getAliasProc", "getEnumeratedProc", "getClassProc",
    "getSimpleReferenceProc", "getObjectProc", "getCountProc", "getStringProc", "getPinnedIntegerProc",
    "getPinnedFloatProc", "getPinnedUnitFloatProc"};

const char* const kWriteProcNames[] = {
    "openWriteDescriptorProc", "closeWriteDescriptorProc", "putIntegerProc", "putFloatProc", "putUnitFloatProc",
    "putBooleanProc", "putTextProc", "putAliasProc", "putEnumeratedProc", "putClassProc",
    "putSimpleReferenceProc", "putObjectProc", "putCountProc", "putStringProc", "putScopedClassProc",
    "putScopedObjectProc"};

const char* const kActionDescriptorNames[] = {
    "Make", "Free", "GetType", "GetKey", "HasKey", "GetCount", "IsEqual", "Erase", "Clear", "PutInteger",
    "PutFloat", "PutUnitFloat", "PutString", "PutBoolean", "PutList", "PutObject", "PutGlobalObject",
    "PutEnumerated", "PutReference", "PutClass", "PutGlobalClass", "PutAlias", "GetInteger", "GetFloat",
    "GetUnitFloat", "GetStringLength", "GetString", "GetBoolean", "GetList", "GetObject", "GetGlobalObject",
    "GetEnumerated", "GetReference", "GetClass", "GetGlobalClass", "GetAlias", "HasKeys", "PutIntegers",
    "GetIntegers", "AsHandle", "HandleToDescriptor", "PutZString", "GetZString", "PutData", "GetDataLength",
    "GetData", "PutInteger64", "GetInteger64"};

const char* const kErrorSuiteNames[] = {"SetErrorFromPString", "SetErrorFromCString", "SetErrorFromZString"};

const char* const kRecordProcNames[] = {"hostProc", "processEvent", "displayPixels", "colorServices",
                                        "getPropertyObsolete"};

constexpr int kSlotsPerTable = 48;

const char* SlotName(int table, int slot) {
    auto pick = [slot](const char* const* names, int count) { return slot < count ? names[slot] : "?"; };
    switch (table) {
        case kTrapHandleProcs: return pick(kHandleProcNames, 8);
        case kTrapReadDescriptor: return pick(kReadProcNames, 18);
        case kTrapWriteDescriptor: return pick(kWriteProcNames, 16);
        case kTrapActionDescriptor: return pick(kActionDescriptorNames, 48);
        case kTrapErrorSuite: return pick(kErrorSuiteNames, 3);
        case kTrapRecord: return pick(kRecordProcNames, 5);
        default: return "?";
    }
}

const char* TableName(int table) {
    switch (table) {
        case kTrapHandleProcs: return "HandleProcs";
        case kTrapReadDescriptor: return "ReadDescriptorProcs";
        case kTrapWriteDescriptor: return "WriteDescriptorProcs";
        case kTrapActionDescriptor: return "action descriptor suite";
        case kTrapErrorSuite: return "error suite";
        case kTrapRecord: return "FilterRecord";
        default: return "?";
    }
}

// What the slot's caller reads back: NULL for pointers, false for Booleans,
// nothing for procedures without a result, -50 for error codes.
intptr_t TrapAnswer(int table, int slot) {
    if (table == kTrapHandleProcs && slot != 3) return 0;  // only setSizeProc returns an error
    if ((table == kTrapReadDescriptor || table == kTrapWriteDescriptor) && slot == 0) return 0;  // open
    if (table == kTrapReadDescriptor && slot == 2) return 0;  // getKeyProc: no more keys
    if (table == kTrapRecord && (slot == kTrapHostProc || slot == kTrapProcessEvent)) return 0;
    return paramErr;
}

intptr_t TrapCalled(int table, int slot) {
    if (SimState* state = CurrentSim()) {
        if (table == kTrapActionDescriptor && slot >= 46)
            state->Violation("%s slot %d (%s) called: that slot exists only from version 3 of the suite, "
                             "and the plug-in holds an older version",
                             TableName(table), slot, SlotName(table, slot));
        else
            state->Violation("%s slot %d (%s) called: the host did not offer it", TableName(table), slot,
                             SlotName(table, slot));
    }
    return TrapAnswer(table, slot);
}

template <int Table, int Slot>
intptr_t Trap() {
    return TrapCalled(Table, Slot);
}

template <int Table, size_t... Slots>
std::array<UntypedHostProc, kSlotsPerTable> TrapRow(std::index_sequence<Slots...>) {
    return {{reinterpret_cast<UntypedHostProc>(&Trap<Table, static_cast<int>(Slots)>)...}};
}

template <size_t... Tables>
std::array<std::array<UntypedHostProc, kSlotsPerTable>, kTrapTableCount> TrapTables(std::index_sequence<Tables...>) {
    return {{TrapRow<static_cast<int>(Tables)>(std::make_index_sequence<kSlotsPerTable>())...}};
}

const std::array<std::array<UntypedHostProc, kSlotsPerTable>, kTrapTableCount>& AllTraps() {
    static const auto traps = TrapTables(std::make_index_sequence<kTrapTableCount>());
    return traps;
}

}  // namespace

UntypedHostProc SimTrap(SimTrapTable table, int slot) {
    if (table < 0 || table >= kTrapTableCount || slot < 0 || slot >= kSlotsPerTable) return nullptr;
    return AllTraps()[static_cast<size_t>(table)][static_cast<size_t>(slot)];
}
