// The action descriptor suite: keyed values a plug-in builds and reads, used
// with the descriptor registry. Version 3 is version 2 with the 64-bit
// integer slots added; a plug-in holding the version-2 table finds traps in
// those slots.
//
// The procedures answer int32 error codes: callers reading a 16-bit OSErr see
// the same negative value.
#include <array>
#include <cstring>

#include "tools/hostsim/sim_state.h"

namespace {

constexpr int32 kMissingKey = errMissingParameter;
constexpr int32 kWrongType = paramErr;

SimActionDescriptor* Live(SimState* state, PIActionDescriptor descriptor, const char* procedure) {
    auto* object = reinterpret_cast<SimActionDescriptor*>(descriptor);
    for (const auto& d : state->actionDescriptors) {
        if (d.get() != object) continue;
        if (!d->alive) {
            state->Violation("action descriptor %s given a descriptor that was already freed", procedure);
            return nullptr;
        }
        return d.get();
    }
    state->Violation("action descriptor %s given %p, which is not a descriptor of this host", procedure,
                     static_cast<void*>(descriptor));
    return nullptr;
}

// Common entry of every procedure: the state, locked, and the live descriptor.
#define DESCRIPTOR_ENTRY(procedure)                                        \
    SimState* state = CurrentSim();                                        \
    if (!state) return paramErr;                                           \
    std::lock_guard<std::recursive_mutex> lock(state->mutex);              \
    state->CheckCaller("action descriptor " procedure);                    \
    SimActionDescriptor* object = Live(state, descriptor, procedure);      \
    if (!object) return paramErr;                                          \
    SimDescriptor& d = object->descriptor;

int32 Make(PIActionDescriptor* descriptor) {
    SimState* state = CurrentSim();
    if (!state) return paramErr;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("action descriptor Make");
    if (!descriptor) {
        state->Violation("action descriptor Make called with NULL");
        return paramErr;
    }
    state->actionDescriptors.push_back(std::make_unique<SimActionDescriptor>());
    *descriptor = reinterpret_cast<PIActionDescriptor>(state->actionDescriptors.back().get());
    return noErr;
}

int32 Free(PIActionDescriptor descriptor) {
    DESCRIPTOR_ENTRY("Free")
    (void)d;
    object->alive = false;
    object->descriptor.items.clear();
    return noErr;
}

int32 GetType(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorTypeID* type) {
    DESCRIPTOR_ENTRY("GetType")
    const SimDescriptorItem* item = d.Find(key);
    if (!item) return kMissingKey;
    if (type) *type = item->type;
    return noErr;
}

int32 GetKey(PIActionDescriptor descriptor, uint32 index, DescriptorKeyID* key) {
    DESCRIPTOR_ENTRY("GetKey")
    if (index >= d.items.size()) return paramErr;
    if (key) *key = d.items[index].key;
    return noErr;
}

int32 HasKey(PIActionDescriptor descriptor, DescriptorKeyID key, Boolean* hasKey) {
    DESCRIPTOR_ENTRY("HasKey")
    if (!hasKey) return paramErr;
    *hasKey = d.Find(key) ? 1 : 0;
    return noErr;
}

int32 GetCount(PIActionDescriptor descriptor, uint32* count) {
    DESCRIPTOR_ENTRY("GetCount")
    if (!count) return paramErr;
    *count = static_cast<uint32>(d.items.size());
    return noErr;
}

int32 Erase(PIActionDescriptor descriptor, DescriptorKeyID key) {
    DESCRIPTOR_ENTRY("Erase")
    return d.Erase(key) ? noErr : kMissingKey;
}

int32 Clear(PIActionDescriptor descriptor) {
    DESCRIPTOR_ENTRY("Clear")
    d.items.clear();
    return noErr;
}

int32 PutInteger(PIActionDescriptor descriptor, DescriptorKeyID key, int32 value) {
    DESCRIPTOR_ENTRY("PutInteger")
    d.Integer(key, value);
    return noErr;
}

int32 PutFloat(PIActionDescriptor descriptor, DescriptorKeyID key, real64 value) {
    DESCRIPTOR_ENTRY("PutFloat")
    d.Float(key, value);
    return noErr;
}

int32 PutUnitFloat(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorUnitID unit, real64 value) {
    DESCRIPTOR_ENTRY("PutUnitFloat")
    d.UnitFloat(key, unit, value);
    return noErr;
}

int32 PutBoolean(PIActionDescriptor descriptor, DescriptorKeyID key, Boolean value) {
    DESCRIPTOR_ENTRY("PutBoolean")
    d.Bool(key, value != 0);
    return noErr;
}

int32 PutEnumerated(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorTypeID type,
                    DescriptorEnumID value) {
    DESCRIPTOR_ENTRY("PutEnumerated")
    d.Enumerated(key, type, value);
    return noErr;
}

int32 PutInteger64(PIActionDescriptor descriptor, DescriptorKeyID key, int64 value) {
    DESCRIPTOR_ENTRY("PutInteger64")
    SimDescriptorItem item;
    item.key = key;
    item.type = kSimTypeInteger64;
    item.integer = value;
    d.Put(item);
    return noErr;
}

int32 PutData(PIActionDescriptor descriptor, DescriptorKeyID key, int32 length, void* data) {
    DESCRIPTOR_ENTRY("PutData")
    if (length < 0 || (length > 0 && !data)) {
        state->Violation("action descriptor PutData given length %d and data %p", length, data);
        return paramErr;
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    d.Data(key, std::vector<uint8_t>(bytes, bytes + length));
    return noErr;
}

// The item of the key when it has one of the types, else an error code.
const SimDescriptorItem* Item(const SimDescriptor& d, DescriptorKeyID key, std::initializer_list<uint32> types,
                              int32* error) {
    const SimDescriptorItem* item = d.Find(key);
    if (!item) {
        *error = kMissingKey;
        return nullptr;
    }
    for (uint32 type : types)
        if (item->type == type) return item;
    *error = kWrongType;
    return nullptr;
}

#define GET_ITEM(key, out, ...)                                                                  \
    if (!out) {                                                                                  \
        state->Violation("action descriptor get procedure called with a NULL result pointer");  \
        return paramErr;                                                                         \
    }                                                                                            \
    int32 error = noErr;                                                                         \
    const SimDescriptorItem* item = Item(d, key, {__VA_ARGS__}, &error);                         \
    if (!item) return error;

int32 GetInteger(PIActionDescriptor descriptor, DescriptorKeyID key, int32* value) {
    DESCRIPTOR_ENTRY("GetInteger")
    GET_ITEM(key, value, typeInteger)
    *value = static_cast<int32>(item->integer);
    return noErr;
}

int32 GetInteger64(PIActionDescriptor descriptor, DescriptorKeyID key, int64* value) {
    DESCRIPTOR_ENTRY("GetInteger64")
    GET_ITEM(key, value, kSimTypeInteger64, typeInteger)
    *value = item->integer;
    return noErr;
}

int32 GetFloat(PIActionDescriptor descriptor, DescriptorKeyID key, real64* value) {
    DESCRIPTOR_ENTRY("GetFloat")
    GET_ITEM(key, value, typeFloat)
    *value = item->number;
    return noErr;
}

int32 GetUnitFloat(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorUnitID* unit, real64* value) {
    DESCRIPTOR_ENTRY("GetUnitFloat")
    GET_ITEM(key, value, typeUnitFloat)
    if (unit) *unit = item->unit;
    *value = item->number;
    return noErr;
}

int32 GetBoolean(PIActionDescriptor descriptor, DescriptorKeyID key, Boolean* value) {
    DESCRIPTOR_ENTRY("GetBoolean")
    GET_ITEM(key, value, typeBoolean)
    *value = item->integer ? 1 : 0;
    return noErr;
}

int32 GetEnumerated(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorTypeID* type,
                    DescriptorEnumID* value) {
    DESCRIPTOR_ENTRY("GetEnumerated")
    GET_ITEM(key, value, typeEnumerated)
    if (type) *type = item->enumType;
    *value = static_cast<DescriptorEnumID>(item->integer);
    return noErr;
}

int32 GetDataLength(PIActionDescriptor descriptor, DescriptorKeyID key, int32* length) {
    DESCRIPTOR_ENTRY("GetDataLength")
    GET_ITEM(key, length, kSimTypeRawData)
    *length = static_cast<int32>(item->data.size());
    return noErr;
}

int32 GetData(PIActionDescriptor descriptor, DescriptorKeyID key, void* data) {
    DESCRIPTOR_ENTRY("GetData")
    GET_ITEM(key, data, kSimTypeRawData)
    if (!item->data.empty()) std::memcpy(data, item->data.data(), item->data.size());
    return noErr;
}

#undef GET_ITEM
#undef DESCRIPTOR_ENTRY

constexpr int kVersion2Slots = 46;
constexpr int kVersion3Slots = 48;

// Slot number -> procedure, for the slots this host implements.
std::array<UntypedHostProc, kVersion3Slots> ImplementedSlots() {
    std::array<UntypedHostProc, kVersion3Slots> slots{};
    auto put = [&slots](int slot, auto proc) { slots[static_cast<size_t>(slot)] = ProcCast<UntypedHostProc>(proc); };
    put(0, &Make);
    put(1, &Free);
    put(2, &GetType);
    put(3, &GetKey);
    put(4, &HasKey);
    put(5, &GetCount);
    put(7, &Erase);
    put(8, &Clear);
    put(9, &PutInteger);
    put(10, &PutFloat);
    put(11, &PutUnitFloat);
    put(13, &PutBoolean);
    put(17, &PutEnumerated);
    put(22, &GetInteger);
    put(23, &GetFloat);
    put(24, &GetUnitFloat);
    put(27, &GetBoolean);
    put(31, &GetEnumerated);
    put(43, &PutData);
    put(44, &GetDataLength);
    put(45, &GetData);
    put(46, &PutInteger64);
    put(47, &GetInteger64);
    return slots;
}

// A full 48-slot table for a version: the version's slots the host
// implements, traps for the rest (and for the slots the version lacks).
std::array<UntypedHostProc, kVersion3Slots> Table(int32 version) {
    const int offered = version >= 3 ? kVersion3Slots : kVersion2Slots;
    std::array<UntypedHostProc, kVersion3Slots> slots = ImplementedSlots();
    for (int i = 0; i < kVersion3Slots; i++)
        if (i >= offered || !slots[static_cast<size_t>(i)])
            slots[static_cast<size_t>(i)] = SimTrap(kTrapActionDescriptor, i);
    return slots;
}

static_assert(sizeof(ActionDescriptorSuite) == kVersion3Slots * sizeof(UntypedHostProc), "one pointer per slot");

}  // namespace

const void* SimActionDescriptorSuite(int32 version) {
    static const std::array<UntypedHostProc, kVersion3Slots> version2 = Table(2);
    static const std::array<UntypedHostProc, kVersion3Slots> version3 = Table(3);
    if (version == 2) return version2.data();
    if (version == 3) return version3.data();
    return nullptr;
}
