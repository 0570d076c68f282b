// The filter's scripting descriptor and its descriptor registry entry.
#include "host/scripting.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "host/resource_description.h"
#include "params/filter_parameters.h"
#include "support/debug_log.h"

const ScriptingKey kScriptingKeys[15] = {
    {FourCC("opsO"), FourCC("bool"), 0, SLOT_EFFECTS_ONLY},
    {FourCC("qntY"), FourCC("doub"), FourCC("#Prc"), SLOT_QUANTITY},
    {FourCC("Intn"), FourCC("doub"), FourCC("#Prc"), SLOT_INTENSITY},
    {FourCC("Lngt"), FourCC("doub"), FourCC("#Prc"), SLOT_LENGTH},
    {FourCC("Angl"), FourCC("doub"), FourCC("#Ang"), SLOT_ANGLE},
    {FourCC("numP"), FourCC("long"), 0, SLOT_NUMBER_OF_POINTS},
    {FourCC("spsH"), FourCC("doub"), FourCC("#Prc"), SLOT_SPIKE_SHARPNESS},
    {FourCC("Strt"), FourCC("doub"), FourCC("#Prc"), SLOT_COLOR_SATURATION},
    {FourCC("H   "), FourCC("doub"), FourCC("#Prc"), SLOT_COLOR_HUE},
    {FourCC("rbwI"), FourCC("doub"), FourCC("#Prc"), SLOT_RAINBOW_INTENSITY},
    {FourCC("rbwF"), FourCC("doub"), FourCC("#Prc"), SLOT_RAINBOW_FREQUENCY},
    {FourCC("sspI"), FourCC("doub"), FourCC("#Prc"), SLOT_SECONDARY_SPIKE_INTENSITY},
    {FourCC("sflB"), FourCC("doub"), FourCC("#Prc"), SLOT_SOFT_FLARE_INTENSITY},
    {FourCC("rflB"), FourCC("doub"), FourCC("#Prc"), SLOT_RING_FLARE_INTENSITY},
    {0, FourCC("null"), 0, 0},
};

namespace {

constexpr int kKeyCount = 14;
constexpr int kMaxKeysRead = 24;
const DescriptorKeyID kParameterBlockKey = FourCC("PBlk");
const char kIncompleteSettings[] =
    "The settings provided by the editor do not match the expected set.  Some settings may have been set to defaults.";

int16_t* Slots(void* block) { return static_cast<int16_t*>(block); }

// Doubles become 16-bit values truncated toward zero; the angle is in tenths.
int16_t FromDouble(double value, int slot) {
    if (slot == SLOT_ANGLE) value *= 10.0;
    if (!(value == value)) return 0;  // NaN
    if (value > 32767.0) value = 32767.0;
    if (value < -32768.0) value = -32768.0;
    return static_cast<int16_t>(std::trunc(value));
}

double ToDouble(int16_t value, int slot) { return slot == SLOT_ANGLE ? value / 10.0 : static_cast<double>(value); }

bool HostIsOneOf(const char* path) {
    if (!path) return false;
    return std::strstr(path, "\\CorelDRAW Graphics Suite X6\\Programs\\CorelPP.exe") ||
           std::strstr(path, "\\PhotoImpact X3\\Iedit_.dat");
}

void WriteErrorString(FilterRecord* record, const char* text) {
    if (!record->errorString) return;
    unsigned char* pascal = *record->errorString;
    size_t n = std::strlen(text);
    if (n > 112) n = 112;  // the message is stored with its first 112 characters
    pascal[0] = static_cast<unsigned char>(n);
    std::memcpy(pascal + 1, text, n);
}

struct Suites;
void ReleaseSuites(Suites* s);

// The suites of one registry access; given back however the access ends
// (memory may run out half-way).
struct Suites {
    SPBasicSuite* basic = nullptr;
    const DescriptorRegistrySuite1* registry = nullptr;
    const ActionDescriptorSuite* descriptors = nullptr;
    int32 descriptorVersion = 0;
    ~Suites() { ReleaseSuites(this); }
};

// A host descriptor freed through its suite when the scope ends.
struct HostDescriptor {
    const ActionDescriptorSuite* suite;
    PIActionDescriptor descriptor = nullptr;
    ~HostDescriptor() {
        if (descriptor && suite->Free) suite->Free(descriptor);
    }
};

bool AcquireSuites(FilterRecord* record, Suites* s) {
    s->basic = record ? record->sSPBasic : nullptr;
    if (!s->basic || !s->basic->AcquireSuite || !s->basic->ReleaseSuite) return false;
    const void* suite = nullptr;
    if (s->basic->AcquireSuite(DESCRIPTOR_REGISTRY_SUITE_NAME, kDescriptorRegistrySuiteVersion1, &suite) != 0 || !suite)
        return false;
    s->registry = static_cast<const DescriptorRegistrySuite1*>(suite);
    for (int32 version : {kActionDescriptorSuiteVersion3, kActionDescriptorSuiteVersion2}) {
        suite = nullptr;
        if (s->basic->AcquireSuite(ACTION_DESCRIPTOR_SUITE_NAME, version, &suite) == 0 && suite) {
            s->descriptors = static_cast<const ActionDescriptorSuite*>(suite);
            s->descriptorVersion = version;
            return true;
        }
    }
    s->basic->ReleaseSuite(DESCRIPTOR_REGISTRY_SUITE_NAME, kDescriptorRegistrySuiteVersion1);
    s->registry = nullptr;
    return false;
}

void ReleaseSuites(Suites* s) {
    if (s->descriptors) s->basic->ReleaseSuite(ACTION_DESCRIPTOR_SUITE_NAME, s->descriptorVersion);
    if (s->registry) s->basic->ReleaseSuite(DESCRIPTOR_REGISTRY_SUITE_NAME, kDescriptorRegistrySuiteVersion1);
    s->descriptors = nullptr;
    s->registry = nullptr;
}

}  // namespace

int16 ReadScriptingDescriptor(FilterRecord* record, uint8_t* showDialog, const char* hostExecutablePath) {
    void* block = reinterpret_cast<void*>(ParameterBlockProc(PARAMETER_OP_NEW_DEFAULTS, nullptr));
    if (!block) {
        DebugEvent(__LINE__).Report(OS_MB_ICONERROR, "Scripting Error", "Could not get factory parameter block.");
        return kScriptingNoBlock;
    }
    PIDescriptorParameters* parameters = record ? record->descriptorParameters : nullptr;
    if (!parameters) {
        FreeParameterBlock(block);
        return 0;
    }
    ReadDescriptorProcs* procs = parameters->readDescriptorProcs;
    if (!procs || !parameters->descriptor || procs->numProcs < 10 || !procs->openReadDescriptorProc ||
        !procs->closeReadDescriptorProc || !procs->getKeyProc) {
        FreeParameterBlock(block);
        return 0;
    }
    DescriptorKeyID keys[kKeyCount + 1];
    for (int i = 0; i <= kKeyCount; i++) keys[i] = kScriptingKeys[i].key;
    PIReadDescriptor reader = procs->openReadDescriptorProc(parameters->descriptor, keys);
    bool unexpected = false;
    int seen = 0;
    if (reader) {
        DescriptorKeyID key = 0;
        DescriptorTypeID type = 0;
        int32 flags = 0;
        while (seen < kMaxKeysRead && procs->getKeyProc(reader, &key, &type, &flags)) {
            seen++;
            const ScriptingKey* row = nullptr;
            for (int i = 0; i < kKeyCount && !row; i++)
                if (kScriptingKeys[i].key == key) row = &kScriptingKeys[i];
            if (!row) {
                unexpected = true;
                continue;
            }
            int16_t* slot = &Slots(block)[row->slot];
            OSErr error = -1;
            if (row->type == FourCC("bool") && procs->getBooleanProc) {
                Boolean value = 0;
                error = procs->getBooleanProc(reader, &value);
                if (error == 0) *slot = static_cast<int16_t>(value);
            } else if (row->type == FourCC("doub") && row->unit && procs->getUnitFloatProc) {
                DescriptorUnitID unit = 0;
                real64 value = 0;
                error = procs->getUnitFloatProc(reader, &unit, &value);
                if (error == 0) *slot = FromDouble(value, row->slot);
            } else if (row->type == FourCC("doub") && procs->getFloatProc) {
                real64 value = 0;
                error = procs->getFloatProc(reader, &value);
                if (error == 0) *slot = FromDouble(value, row->slot);
            } else if (row->type == FourCC("enum") && procs->getEnumeratedProc) {
                DescriptorEnumID value = 0;
                error = procs->getEnumeratedProc(reader, &value);
                if (error == 0) *slot = static_cast<int16_t>(value);
            } else if (row->type == FourCC("long") && procs->getIntegerProc) {
                int32 value = 0;
                error = procs->getIntegerProc(reader, &value);
                if (error == 0) *slot = static_cast<int16_t>(value);
            }
            if (error != 0) unexpected = true;
        }
    }
    int16 end = 0;
    if (unexpected || seen != kKeyCount) {
        if (HostIsOneOf(hostExecutablePath)) {
            *showDialog = 1;
            end = kScriptingNoHostSupport;
        } else {
            if (seen > 0)
                DebugEvent(__LINE__, USER_MESSAGE).Report(OS_MB_ICONWARNING, "Incomplete Settings", "%s", kIncompleteSettings);
            if (parameters->playInfo == PLAY_INFO_SILENT) {
                *showDialog = 0;
                WriteErrorString(record, kIncompleteSettings);
            } else {
                *showDialog = 1;
            }
        }
    } else {
        *showDialog = parameters->playInfo == PLAY_INFO_DISPLAY ? 1 : 0;
    }
    if (reader) procs->closeReadDescriptorProc(reader);
    if (end == 0) ParameterBlockProc(PARAMETER_OP_APPLY, block);
    FreeParameterBlock(block);
    return 0;
}

int16 WriteScriptingDescriptor(FilterRecord* record) {
    void* block = reinterpret_cast<void*>(ParameterBlockProc(PARAMETER_OP_NEW_COPY, nullptr));
    if (!block) {
        DebugEvent(__LINE__).Report(OS_MB_ICONERROR, "Scripting Error", "Could not get current parameter block.");
        return kScriptingNoBlock;
    }
    PIDescriptorParameters* parameters = record ? record->descriptorParameters : nullptr;
    WriteDescriptorProcs* procs = parameters ? parameters->writeDescriptorProcs : nullptr;
    if (!parameters || !procs || procs->numProcs < 9 || !procs->openWriteDescriptorProc ||
        !procs->closeWriteDescriptorProc) {
        FreeParameterBlock(block);
        return kScriptingNoHostSupport;
    }
    PIWriteDescriptor writer = procs->openWriteDescriptorProc();
    if (!writer) {
        FreeParameterBlock(block);
        return kScriptingNoHostSupport;
    }
    OSErr error = 0;
    for (int i = 0; i < kKeyCount && error == 0; i++) {
        const ScriptingKey& row = kScriptingKeys[i];
        int16_t value = Slots(block)[row.slot];
        if (row.type == FourCC("bool") && procs->putBooleanProc) {
            error = procs->putBooleanProc(writer, row.key, static_cast<Boolean>(value & 0xFF));
        } else if (row.type == FourCC("doub") && row.unit && procs->putUnitFloatProc) {
            real64 number = ToDouble(value, row.slot);
            error = procs->putUnitFloatProc(writer, row.key, row.unit, &number);
        } else if (row.type == FourCC("doub") && procs->putFloatProc) {
            real64 number = ToDouble(value, row.slot);
            error = procs->putFloatProc(writer, row.key, &number);
        } else if (row.type == FourCC("enum") && procs->putEnumeratedProc) {
            error = procs->putEnumeratedProc(writer, row.key, row.type, static_cast<DescriptorEnumID>(value));
        } else if (row.type == FourCC("long") && procs->putIntegerProc) {
            error = procs->putIntegerProc(writer, row.key, value);
        } else {
            error = static_cast<OSErr>(FourCC("Parm"));  // truncated to 16 bits like every OSErr
        }
    }
    if (error != 0) {
        Handle discard = nullptr;
        procs->closeWriteDescriptorProc(writer, &discard);
        if (discard && record->handleProcs && record->handleProcs->numHandleProcs >= 2 &&
            record->handleProcs->disposeProc)
            record->handleProcs->disposeProc(discard);
        DebugEvent(__LINE__, USER_MESSAGE)
            .Report(OS_MB_ICONERROR, "Scripting Error", "The Photoshop scripting parameters could not be saved.");
        FreeParameterBlock(block);
        return error;
    }
    if (parameters->descriptor && record->handleProcs && record->handleProcs->numHandleProcs >= 2 &&
        record->handleProcs->disposeProc)
        record->handleProcs->disposeProc(parameters->descriptor);
    parameters->descriptor = nullptr;
    Handle written = nullptr;
    procs->closeWriteDescriptorProc(writer, &written);
    parameters->descriptor = written;
    FreeParameterBlock(block);
    return 0;
}

int16 ReadRegistryParameters(FilterRecord* record) {
    Suites s;
    if (!AcquireSuites(record, &s)) return kScriptingNoHostSupport;
    const ActionDescriptorSuite* d = s.descriptors;
    int16 result = kScriptingNoHostSupport;
    HostDescriptor held{d};
    PIActionDescriptor& entry = held.descriptor;
    if (s.registry->Get && s.registry->Get(kFilterUniqueString, &entry) == 0 && entry) {
        int32 length = 0;
        if (!d->GetDataLength || d->GetDataLength(entry, kParameterBlockKey, &length) != 0 || length <= 0 ||
            length < static_cast<int32>(PARAMETER_RECORD_SIZE)) {
            ReportUnexpected(__LINE__,
                             "ReadRegistryParameters() couldn't get the parameter block length or it was zero.");
        } else {
            // At least a whole block, so that the tail is zero whatever the host stored.
            size_t size = static_cast<size_t>(length) > PARAMETER_BLOCK_SIZE ? static_cast<size_t>(length)
                                                                             : PARAMETER_BLOCK_SIZE;
            std::unique_ptr<void, void (*)(void*)> block(std::calloc(1, size), std::free);
            void* data = block.get();
            if (!data || !d->GetData || d->GetData(entry, kParameterBlockKey, data) != 0) {
                ReportUnexpected(__LINE__, "ReadRegistryParameters() couldn't read parameter data from the registry.");
            } else if (ParameterBlockVersionMatches(data)) {
                ParameterBlockProc(PARAMETER_OP_APPLY, data);
                result = 0;
            } else if (void* converted = reinterpret_cast<void*>(ParameterBlockProc(PARAMETER_OP_CONVERT, data))) {
                ParameterBlockProc(PARAMETER_OP_APPLY, converted);
                FreeParameterBlock(converted);
                result = 0;
            } else {
                const int16_t* stored = Slots(data);
                const int16_t* current = CURRENT_PARAMETER_VERSION;
                DebugEvent(__LINE__).Report(OS_MB_ICONERROR, DEBUG_CAPTION_WARNING,
                                            "No parameter conversion could be done, using defaults.  Stored version = "
                                            "%d.%d.%d.%d, current version = %d.%d.%d.%d\n",
                                            stored[0], stored[1], stored[2], stored[3], current[0], current[1],
                                            current[2], current[3]);
                result = kScriptingUnconvertible;
            }
        }
    }
    return result;
}

int16 WriteRegistryParameters(FilterRecord* record) {
    if (!record || !record->sSPBasic) return kScriptingNoHostSupport;
    Suites s;
    if (!AcquireSuites(record, &s)) return kScriptingNoHostSupport;
    const ActionDescriptorSuite* d = s.descriptors;
    int16 result = kScriptingNoHostSupport;
    HostDescriptor held{d};
    PIActionDescriptor& descriptor = held.descriptor;
    if (d->Make && d->Make(&descriptor) == 0 && descriptor) {
        void* copy = reinterpret_cast<void*>(ParameterBlockProc(PARAMETER_OP_NEW_COPY, nullptr));
        if (copy && d->PutData &&
            d->PutData(descriptor, kParameterBlockKey, static_cast<int32>(PARAMETER_BLOCK_SIZE), copy) == 0) {
            if (s.registry->Register && s.registry->Register(kFilterUniqueString, descriptor, 1) == 0)
                result = 0;
            else
                ReportUnexpected(__LINE__, "WriteRegistryParameters() failed to register the data.");
        }
        FreeParameterBlock(copy);
    }
    return result;
}
