// rlhost: a console host for the real plug-in module. It finds the filter the
// way an image editor does (the PIPL resource, its 'kind' and '8664'
// properties), then drives selectors through PluginMain.
//
//   rlhost PLUGIN.8bf info     print the property list and the factory parameters
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "host/host_abi.h"
#include "host/resource_description.h"

namespace {

typedef void (*PluginMainProc)(int16 selector, void* block, intptr_t* data, int16* result);

// ---- handles: a pointer to a pointer, as hosts hand them out ----
struct HostHandle {
    char* pointer;
    int32 size;
    int locks;
};
std::map<Handle, HostHandle*> gHandles;

Handle NewHandle(int32 size) {
    if (size < 0) return nullptr;
    auto* h = new HostHandle{static_cast<char*>(std::calloc(1, size ? size : 1)), size, 0};
    Handle handle = reinterpret_cast<Handle>(h);  // first member is the pointer
    gHandles[handle] = h;
    return handle;
}
void DisposeHandle(Handle handle) {
    auto it = gHandles.find(handle);
    if (it == gHandles.end()) return;
    std::free(it->second->pointer);
    delete it->second;
    gHandles.erase(it);
}
int32 GetHandleSize(Handle handle) {
    auto it = gHandles.find(handle);
    return it == gHandles.end() ? 0 : it->second->size;
}
OSErr SetHandleSize(Handle handle, int32 size) {
    auto it = gHandles.find(handle);
    if (it == gHandles.end() || size < 0) return -50;
    char* grown = static_cast<char*>(std::realloc(it->second->pointer, size ? size : 1));
    if (!grown) return -108;
    it->second->pointer = grown;
    it->second->size = size;
    return 0;
}
Ptr LockHandle(Handle handle, Boolean) {
    auto it = gHandles.find(handle);
    if (it == gHandles.end()) return nullptr;
    it->second->locks++;
    return it->second->pointer;
}
void UnlockHandle(Handle handle) {
    auto it = gHandles.find(handle);
    if (it != gHandles.end() && it->second->locks > 0) it->second->locks--;
}
void RecoverSpace(int32) {}

std::string CodeText(uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) text += static_cast<char>((code >> shift) & 0xFF);
    return text;
}

std::string PropertyText(const PiplProperty& p) {
    char buffer[64];
    const auto& d = p.data;
    if ((p.key == kPiplName || p.key == kPiplCategory) && !d.empty()) {
        size_t n = d[0] < d.size() ? d[0] : d.size() - 1;
        return "\"" + std::string(reinterpret_cast<const char*>(d.data() + 1), n) + "\"";
    }
    if ((p.key == kPiplCodeX64 || p.key == kPiplEnableInfo) && !d.empty())
        return "\"" + std::string(reinterpret_cast<const char*>(d.data())) + "\"";
    if ((p.key == kPiplKind) && d.size() >= 4) {
        uint32_t v = d[0] | d[1] << 8 | d[2] << 16 | static_cast<uint32_t>(d[3]) << 24;
        return "'" + CodeText(v) + "'";
    }
    if (p.key == kPiplVersion && d.size() >= 4) {
        uint32_t v = d[0] | d[1] << 8 | d[2] << 16 | static_cast<uint32_t>(d[3]) << 24;
        std::snprintf(buffer, sizeof(buffer), "%u.%u", v >> 16, v & 0xFFFF);
        return buffer;
    }
    if (p.key == kPiplMaxSize32 && d.size() >= 8) {
        int32_t a, b;
        std::memcpy(&a, d.data(), 4);
        std::memcpy(&b, d.data() + 4, 4);
        std::snprintf(buffer, sizeof(buffer), "%d x %d", a, b);
        return buffer;
    }
    if (p.key == kPiplHasTerminology && d.size() >= 15) {
        uint32_t cls = d[4] | d[5] << 8 | d[6] << 16 | static_cast<uint32_t>(d[7]) << 24;
        uint32_t evt = d[8] | d[9] << 8 | d[10] << 16 | static_cast<uint32_t>(d[11]) << 24;
        int id = d[12] | d[13] << 8;
        return "class '" + CodeText(cls) + "' event '" + CodeText(evt) + "' terminology " + std::to_string(id) +
               " \"" + std::string(reinterpret_cast<const char*>(d.data() + 14)) + "\"";
    }
    std::string hex;
    for (uint8_t b : d) {
        std::snprintf(buffer, sizeof(buffer), "%02X ", b);
        hex += buffer;
    }
    if (!hex.empty()) hex.pop_back();
    return hex;
}

const char* const kSlotNames[18] = {
    "Major Version", "Minor Version", "Revision", "Build", "Intensity", "Length", "Angle",
    "Number of Points", "Spike Sharpness", "Color Saturation", "Rainbow Intensity", "Rainbow Frequency",
    "Secondary Spike Intensity", "Soft Flare Intensity", "Effects Only", "Quantity", "Color Hue",
    "Ring Flare Intensity"};

bool ReadPipl(HMODULE module, std::vector<PiplProperty>& properties) {
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(kPiplResourceId), "PIPL");
    if (!resource) return false;
    HGLOBAL loaded = LoadResource(module, resource);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    DWORD size = SizeofResource(module, resource);
    return bytes && ParsePiplResource(static_cast<const uint8_t*>(bytes), size, properties);
}

int RunInfo(const char* path) {
    HMODULE module = LoadLibraryA(path);
    if (!module) {
        std::printf("error: cannot load '%s' (error %lu)\n", path, GetLastError());
        return 2;
    }
    std::printf("Plug-in module: %s\n", path);
    std::vector<PiplProperty> properties;
    if (!ReadPipl(module, properties)) {
        std::printf("error: no readable PIPL 16000 resource\n");
        return 3;
    }
    std::printf("PIPL 16000: %zu properties\n", properties.size());
    for (const auto& p : properties)
        std::printf("  '%s' '%s' %3u bytes  %s\n", CodeText(p.vendor).c_str(), CodeText(p.key).c_str(), p.length,
                    PropertyText(p).c_str());
    const PiplProperty* kind = FindPiplProperty(properties, kPiplKind);
    const PiplProperty* entry = FindPiplProperty(properties, kPiplCodeX64);
    if (!kind || kind->data.size() < 4 || std::memcmp(kind->data.data(), "MFB8", 4) != 0 || !entry) {
        std::printf("error: the module does not describe a 64-bit filter\n");
        return 3;
    }
    std::string entryName(reinterpret_cast<const char*>(entry->data.data()));
    auto pluginMain = reinterpret_cast<PluginMainProc>(GetProcAddress(module, entryName.c_str()));
    std::printf("Entry point: %s %s\n", entryName.c_str(), pluginMain ? "(found)" : "(MISSING)");
    if (!pluginMain) return 4;

    HandleProcs handleProcs = {};
    handleProcs.version = 1;
    handleProcs.numHandleProcs = 8;
    handleProcs.newProc = NewHandle;
    handleProcs.disposeProc = DisposeHandle;
    handleProcs.getSizeProc = GetHandleSize;
    handleProcs.setSizeProc = SetHandleSize;
    handleProcs.lockProc = LockHandle;
    handleProcs.unlockProc = UnlockHandle;
    handleProcs.recoverSpaceProc = RecoverSpace;
    handleProcs.disposeRegularHandleProc = DisposeHandle;
    PlatformData platform = {};
    auto* record = static_cast<FilterRecord*>(std::calloc(1, sizeof(FilterRecord)));
    record->handleProcs = &handleProcs;
    record->platformData = &platform;
    record->hostSig = FourCC("8BIM");
    record->imageMode = plugInModeRGBColor;
    intptr_t data = 0;
    int16 result = 0;
    pluginMain(filterSelectorParameters, record, &data, &result);
    std::printf("parameters selector: result %d\n", result);
    int status = result == 0 ? 0 : 5;
    if (result == 0 && record->parameters && GetHandleSize(record->parameters) >= 36) {
        int16_t slots[18];
        std::memcpy(slots, *record->parameters, sizeof(slots));
        std::printf("Factory parameters (version %d.%d.%d.%d):\n", slots[0], slots[1], slots[2], slots[3]);
        for (int i = 4; i < 18; i++) std::printf("  %-26s %6d\n", kSlotNames[i], slots[i]);
        std::printf("Show-dialog flag: %d\n", data ? **reinterpret_cast<Handle>(data) : -1);
    } else {
        status = 5;
    }
    result = 0;
    pluginMain(filterSelectorFinish, record, &data, &result);
    std::printf("finish selector: result %d\n", result);
    if (result != 0) status = 5;
    for (auto& h : gHandles) {
        if (h.second->locks != 0) {
            std::printf("error: a handle was left locked %d time(s)\n", h.second->locks);
            status = 6;
        }
    }
    std::free(record);
    FreeLibrary(module);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 3) {
        std::fprintf(stderr, "usage: rlhost PLUGIN.8bf info\n");
        return 1;
    }
    if (std::strcmp(argv[2], "info") == 0) return RunInfo(argv[1]);
    std::fprintf(stderr, "rlhost: unknown scenario '%s'\n", argv[2]);
    return 1;
}
