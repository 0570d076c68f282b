// The descriptor registry suite: descriptors kept by the host under a text
// key between runs. Persistent entries also go to the registry file when the
// options name one, so a later simulator (a later host session) finds them.
//
// File form: "RLreg1\n", then per entry a 32-bit key length, the key, a
// 32-bit descriptor length and the encoded descriptor; little-endian.
#include <cstdio>
#include <cstring>

#include "tools/hostsim/sim_state.h"

namespace {

const char kFileMagic[] = "RLreg1\n";

bool ReadAll(const std::string& path, std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    uint8_t chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(file);
    return true;
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

void SimState::LoadRegistry() {
    registryLoaded = true;
    if (options.registryFile.empty()) return;
    std::vector<uint8_t> bytes;
    if (!ReadAll(options.registryFile, bytes)) return;  // no file yet: an empty registry
    const size_t magic = sizeof kFileMagic - 1;
    if (bytes.size() < magic || std::memcmp(bytes.data(), kFileMagic, magic) != 0) {
        // Not ours: it is neither read nor ever overwritten.
        registryForeign = true;
        Violation("host setup: %s is not a registry file; it is left as it is", options.registryFile.c_str());
        return;
    }
    size_t at = magic;
    while (at + 4 <= bytes.size()) {
        const uint64_t keyLength = Get32(&bytes[at]);
        at += 4;
        // Lengths are compared in 64 bits: a length near 2^32 must not wrap.
        if (static_cast<uint64_t>(bytes.size() - at) < keyLength + 4u) break;
        std::string key(reinterpret_cast<const char*>(&bytes[at]), keyLength);
        at += keyLength;
        const uint64_t length = Get32(&bytes[at]);
        at += 4;
        if (static_cast<uint64_t>(bytes.size() - at) < length) break;
        SimRegistryEntry entry;
        entry.persistent = true;
        if (DecodeSimDescriptor(&bytes[at], static_cast<size_t>(length), entry.descriptor)) registry[key] = entry;
        at += length;
    }
}

void SimState::SaveRegistry() {
    if (options.registryFile.empty() || registryForeign) return;
    std::vector<uint8_t> bytes(kFileMagic, kFileMagic + sizeof kFileMagic - 1);
    for (const auto& entry : registry) {
        if (!entry.second.persistent) continue;
        Put32(bytes, static_cast<uint32_t>(entry.first.size()));
        bytes.insert(bytes.end(), entry.first.begin(), entry.first.end());
        const std::vector<uint8_t> encoded = EncodeSimDescriptor(entry.second.descriptor);
        Put32(bytes, static_cast<uint32_t>(encoded.size()));
        bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    }
    std::FILE* file = std::fopen(options.registryFile.c_str(), "wb");
    if (!file) {
        Violation("host setup: cannot write the registry file %s", options.registryFile.c_str());
        return;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

namespace {

SimActionDescriptor* LiveDescriptor(SimState* state, PIActionDescriptor descriptor, const char* procedure) {
    auto* object = reinterpret_cast<SimActionDescriptor*>(descriptor);
    for (const auto& d : state->actionDescriptors)
        if (d.get() == object) {
            if (d->alive) return d.get();
            state->Violation("registry %s given an action descriptor that was already freed", procedure);
            return nullptr;
        }
    state->Violation("registry %s given %p, which is not an action descriptor of this host", procedure,
                     static_cast<void*>(descriptor));
    return nullptr;
}

int32 Register(const char* key, PIActionDescriptor descriptor, Boolean persistent) {
    SimState* state = CurrentSim();
    if (!state) return paramErr;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("registry Register");
    if (!key) {
        state->Violation("registry Register called with a NULL key");
        return paramErr;
    }
    SimActionDescriptor* object = LiveDescriptor(state, descriptor, "Register");
    if (!object) return paramErr;
    SimRegistryEntry& entry = state->registry[key];
    entry.descriptor = object->descriptor;  // a copy: the caller still frees its own
    entry.persistent = persistent != 0;
    state->SaveRegistry();
    return noErr;
}

int32 Erase(const char* key) {
    SimState* state = CurrentSim();
    if (!state) return paramErr;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("registry Erase");
    if (!key) {
        state->Violation("registry Erase called with a NULL key");
        return paramErr;
    }
    if (state->registry.erase(key)) state->SaveRegistry();
    return noErr;
}

int32 Get(const char* key, PIActionDescriptor* descriptor) {
    SimState* state = CurrentSim();
    if (!state) return paramErr;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("registry Get");
    if (!key || !descriptor) {
        state->Violation("registry Get called with a NULL %s", key ? "result pointer" : "key");
        return paramErr;
    }
    auto it = state->registry.find(key);
    if (it == state->registry.end()) {
        *descriptor = nullptr;  // no entry: no error, no descriptor
        return noErr;
    }
    state->actionDescriptors.push_back(std::make_unique<SimActionDescriptor>());
    SimActionDescriptor* object = state->actionDescriptors.back().get();
    object->descriptor = it->second.descriptor;
    object->hostMade = true;
    *descriptor = reinterpret_cast<PIActionDescriptor>(object);
    return noErr;
}

}  // namespace

const void* SimRegistrySuite() {
    static const DescriptorRegistrySuite1 suite = {ProcCast<RegistryRegisterProc>(&Register),
                                                   ProcCast<RegistryEraseProc>(&Erase),
                                                   ProcCast<RegistryGetProc>(&Get)};
    return &suite;
}
