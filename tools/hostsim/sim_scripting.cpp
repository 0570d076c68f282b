// The scripting descriptor procedures behind descriptorParameters: a reader
// walks the keys of the descriptor handle the host played, a writer collects
// values and closes into a new descriptor handle the plug-in stores back.
#include "tools/hostsim/sim_state.h"

namespace {

template <class Object>
Object* LiveToken(SimState* state, const std::vector<std::unique_ptr<Object>>& objects, const void* token,
                  const char* procedure) {
    for (const auto& object : objects) {
        if (object.get() != token) continue;
        if (!object->open) {
            state->Violation("%s given a descriptor that was already closed", procedure);
            return nullptr;
        }
        return object.get();
    }
    state->Violation("%s given %p, which this host did not open", procedure, token);
    return nullptr;
}

// ---- reading ----

PIReadDescriptor OpenRead(Handle descriptor, DescriptorKeyID keys[]) {
    SimState* state = CurrentSim();
    if (!state) return nullptr;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("openReadDescriptorProc");
    SimHandle* record = state->Find(descriptor);
    if (!record || !record->alive) {
        state->Violation("openReadDescriptorProc given %s", record ? "a disposed handle" : "a handle that is not a "
                                                                                           "descriptor of this host");
        return nullptr;
    }
    if (keys) {
        // The key array must end with 0 within the 128 entries hosts accept.
        int n = 0;
        while (n < 128 && keys[n] != 0) n++;
        if (n == 128) state->Violation("openReadDescriptorProc given a key array without a terminating 0");
    }
    auto reader = std::make_unique<SimReader>();
    if (!DecodeSimDescriptor(reinterpret_cast<const uint8_t*>(record->master), static_cast<size_t>(record->size),
                             reader->descriptor)) {
        state->Violation("openReadDescriptorProc given a handle whose bytes are not a descriptor");
        return nullptr;
    }
    state->readers.push_back(std::move(reader));
    return reinterpret_cast<PIReadDescriptor>(state->readers.back().get());
}

OSErr CloseRead(PIReadDescriptor token) {
    SimState* state = CurrentSim();
    if (!state) return paramErr;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("closeReadDescriptorProc");
    SimReader* reader = LiveToken(state, state->readers, token, "closeReadDescriptorProc");
    if (!reader) return paramErr;
    reader->open = false;
    return noErr;
}

Boolean GetKey(PIReadDescriptor token, DescriptorKeyID* key, DescriptorTypeID* type, int32* flags) {
    SimState* state = CurrentSim();
    if (!state) return 0;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("getKeyProc");
    SimReader* reader = LiveToken(state, state->readers, token, "getKeyProc");
    if (!reader || reader->next >= reader->descriptor.items.size()) return 0;
    const SimDescriptorItem& item = reader->descriptor.items[reader->next];
    reader->current = static_cast<int64>(reader->next++);
    if (key) *key = item.key;
    if (type) *type = item.type;
    if (flags) *flags = 0;
    return 1;
}

// The item getKey handed out last, if its type is one of `types`.
const SimDescriptorItem* Current(SimState* state, PIReadDescriptor token, const char* procedure, const void* out,
                                 std::initializer_list<uint32> types, OSErr* error) {
    *error = paramErr;
    SimReader* reader = LiveToken(state, state->readers, token, procedure);
    if (!reader) return nullptr;
    if (!out) {
        state->Violation("%s called with a NULL result pointer", procedure);
        return nullptr;
    }
    if (reader->current < 0) {
        state->Violation("%s called before getKeyProc handed out a key", procedure);
        return nullptr;
    }
    const SimDescriptorItem& item = reader->descriptor.items[static_cast<size_t>(reader->current)];
    for (uint32 type : types)
        if (item.type == type) {
            *error = noErr;
            return &item;
        }
    return nullptr;  // wrong type: an error, not a violation (the plug-in may probe)
}

#define READ_ENTRY(procedure, out, ...)                                                          \
    SimState* state = CurrentSim();                                                              \
    if (!state) return paramErr;                                                                 \
    std::lock_guard<std::recursive_mutex> lock(state->mutex);                                    \
    state->CheckCaller(procedure);                                                               \
    OSErr error;                                                                                 \
    const SimDescriptorItem* item = Current(state, token, procedure, out, {__VA_ARGS__}, &error); \
    if (!item) return error;

OSErr GetInteger(PIReadDescriptor token, int32* value) {
    READ_ENTRY("getIntegerProc", value, typeInteger)
    *value = static_cast<int32>(item->integer);
    return noErr;
}

OSErr GetFloat(PIReadDescriptor token, real64* value) {
    READ_ENTRY("getFloatProc", value, typeFloat, typeUnitFloat)
    *value = item->number;
    return noErr;
}

OSErr GetUnitFloat(PIReadDescriptor token, DescriptorUnitID* unit, real64* value) {
    READ_ENTRY("getUnitFloatProc", value, typeUnitFloat, typeFloat)
    if (unit) *unit = item->type == typeUnitFloat ? item->unit : unitNone;
    *value = item->number;
    return noErr;
}

OSErr GetBoolean(PIReadDescriptor token, Boolean* value) {
    READ_ENTRY("getBooleanProc", value, typeBoolean)
    *value = item->integer ? 1 : 0;
    return noErr;
}

OSErr GetEnumerated(PIReadDescriptor token, DescriptorEnumID* value) {
    READ_ENTRY("getEnumeratedProc", value, typeEnumerated)
    *value = static_cast<DescriptorEnumID>(item->integer);
    return noErr;
}

#undef READ_ENTRY

// ---- writing ----

PIWriteDescriptor OpenWrite() {
    SimState* state = CurrentSim();
    if (!state) return nullptr;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("openWriteDescriptorProc");
    state->writers.push_back(std::make_unique<SimWriter>());
    return reinterpret_cast<PIWriteDescriptor>(state->writers.back().get());
}

OSErr CloseWrite(PIWriteDescriptor token, Handle* newDescriptor) {
    SimState* state = CurrentSim();
    if (!state) return paramErr;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("closeWriteDescriptorProc");
    SimWriter* writer = LiveToken(state, state->writers, token, "closeWriteDescriptorProc");
    if (!writer) return paramErr;
    writer->open = false;
    if (!newDescriptor) {
        state->Violation("closeWriteDescriptorProc called with a NULL result pointer");
        return paramErr;
    }
    const std::vector<uint8_t> bytes = EncodeSimDescriptor(writer->descriptor);
    Handle handle = state->NewHandle(static_cast<int32>(bytes.size()), true);
    std::copy(bytes.begin(), bytes.end(), *handle);
    *newDescriptor = handle;
    return noErr;
}

#define WRITE_ENTRY(procedure)                                                          \
    SimState* state = CurrentSim();                                                     \
    if (!state) return paramErr;                                                        \
    std::lock_guard<std::recursive_mutex> lock(state->mutex);                           \
    state->CheckCaller(procedure);                                                      \
    SimWriter* writer = LiveToken(state, state->writers, token, procedure);             \
    if (!writer) return paramErr;

OSErr PutInteger(PIWriteDescriptor token, DescriptorKeyID key, int32 value) {
    WRITE_ENTRY("putIntegerProc")
    writer->descriptor.Integer(key, value);
    return noErr;
}

OSErr PutFloat(PIWriteDescriptor token, DescriptorKeyID key, const real64* value) {
    WRITE_ENTRY("putFloatProc")
    if (!value) {
        state->Violation("putFloatProc called with a NULL value pointer");
        return paramErr;
    }
    writer->descriptor.Float(key, *value);
    return noErr;
}

OSErr PutUnitFloat(PIWriteDescriptor token, DescriptorKeyID key, DescriptorUnitID unit, const real64* value) {
    WRITE_ENTRY("putUnitFloatProc")
    if (!value) {
        state->Violation("putUnitFloatProc called with a NULL value pointer");
        return paramErr;
    }
    writer->descriptor.UnitFloat(key, unit, *value);
    return noErr;
}

OSErr PutBoolean(PIWriteDescriptor token, DescriptorKeyID key, Boolean value) {
    WRITE_ENTRY("putBooleanProc")
    writer->descriptor.Bool(key, value != 0);
    return noErr;
}

OSErr PutEnumerated(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type, DescriptorEnumID value) {
    WRITE_ENTRY("putEnumeratedProc")
    writer->descriptor.Enumerated(key, type, value);
    return noErr;
}

#undef WRITE_ENTRY

}  // namespace

void FillDescriptorProcs(SimState& state) {
    ReadDescriptorProcs& read = state.readProcs;
    read = ReadDescriptorProcs();
    read.version = 0;
    read.numProcs = 18;
    read.openReadDescriptorProc = OpenRead;
    read.closeReadDescriptorProc = CloseRead;
    read.getKeyProc = GetKey;
    read.getIntegerProc = GetInteger;
    read.getFloatProc = GetFloat;
    read.getUnitFloatProc = GetUnitFloat;
    read.getBooleanProc = GetBoolean;
    read.getEnumeratedProc = GetEnumerated;
    // The slots this host does not serve.
    read.getTextProc = SimTrap(kTrapReadDescriptor, 7);
    read.getAliasProc = SimTrap(kTrapReadDescriptor, 8);
    read.getClassProc = SimTrap(kTrapReadDescriptor, 10);
    read.getSimpleReferenceProc = SimTrap(kTrapReadDescriptor, 11);
    read.getObjectProc = SimTrap(kTrapReadDescriptor, 12);
    read.getCountProc = SimTrap(kTrapReadDescriptor, 13);
    read.getStringProc = SimTrap(kTrapReadDescriptor, 14);
    read.getPinnedIntegerProc = SimTrap(kTrapReadDescriptor, 15);
    read.getPinnedFloatProc = SimTrap(kTrapReadDescriptor, 16);
    read.getPinnedUnitFloatProc = SimTrap(kTrapReadDescriptor, 17);

    WriteDescriptorProcs& write = state.writeProcs;
    write = WriteDescriptorProcs();
    write.version = 0;
    write.numProcs = 16;
    write.openWriteDescriptorProc = OpenWrite;
    write.closeWriteDescriptorProc = CloseWrite;
    write.putIntegerProc = PutInteger;
    write.putFloatProc = PutFloat;
    write.putUnitFloatProc = PutUnitFloat;
    write.putBooleanProc = PutBoolean;
    write.putEnumeratedProc = PutEnumerated;
    write.putTextProc = SimTrap(kTrapWriteDescriptor, 6);
    write.putAliasProc = SimTrap(kTrapWriteDescriptor, 7);
    write.putClassProc = SimTrap(kTrapWriteDescriptor, 9);
    write.putSimpleReferenceProc = SimTrap(kTrapWriteDescriptor, 10);
    write.putObjectProc = SimTrap(kTrapWriteDescriptor, 11);
    write.putCountProc = SimTrap(kTrapWriteDescriptor, 12);
    write.putStringProc = SimTrap(kTrapWriteDescriptor, 13);
    write.putScopedClassProc = SimTrap(kTrapWriteDescriptor, 14);
    write.putScopedObjectProc = SimTrap(kTrapWriteDescriptor, 15);
}
