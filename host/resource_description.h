// The two resources that describe the filter to its host: the plug-in
// property list (PIPL 16000) and the scripting terminology (AETE 16000).
// Both are produced byte for byte from the one description in
// resource_description.cpp; the build writes them to files with resource_gen
// and embeds the files unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/host_abi.h"

// The filter's unique scripting string. Stored in the property list's
// terminology property and used as the key of the host's descriptor registry.
inline constexpr char kFilterUniqueString[] = "5f0d6c1e-3b7a-4e21-9c84-2a6e1d0b7f35";

// Name of the exported entry point, as written in the '8664' property.
inline constexpr char kEntryPointName[] = "PluginMain";

inline constexpr int16_t kPiplResourceId = 16000;
inline constexpr int16_t kAeteResourceId = 16000;

// Scripting class and event of the filter (both 'CVA1').
inline constexpr uint32_t kScriptingClassId = FourCC("CVA1");
inline constexpr uint32_t kScriptingEventId = FourCC("CVA1");

// Vendor code of every property in the list.
inline constexpr uint32_t kPiplVendor = FourCC("8BIM");

// Property keys.
inline constexpr uint32_t kPiplKind = FourCC("kind");
inline constexpr uint32_t kPiplName = FourCC("name");
inline constexpr uint32_t kPiplCategory = FourCC("catg");
inline constexpr uint32_t kPiplVersion = FourCC("vers");
inline constexpr uint32_t kPiplCodeX64 = FourCC("8664");
inline constexpr uint32_t kPiplSupportedModes = FourCC("mode");
inline constexpr uint32_t kPiplHasTerminology = FourCC("hstm");
inline constexpr uint32_t kPiplEnableInfo = FourCC("enbl");
inline constexpr uint32_t kPiplMaxSize32 = FourCC("ms32");
inline constexpr uint32_t kPiplFilterLayerSupport = FourCC("flly");
inline constexpr uint32_t kPiplFilterCaseInfo = FourCC("fici");
// Value of the 'kind' property for filters.
inline constexpr uint32_t kPiplKindFilter = FourCC("8BFM");

// One property of a parsed list. `length` is the length as stored; `data`
// holds that many bytes.
struct PiplProperty {
    uint32_t vendor;
    uint32_t key;
    int32_t id;
    uint32_t length;
    std::vector<uint8_t> data;
};

// The complete PIPL resource: header and the 11 properties, little-endian,
// every property's data zero-padded to a multiple of 4 with the padded length
// written.
std::vector<uint8_t> BuildPiplResource();

// The complete AETE resource in its Windows form (no padding after strings).
std::vector<uint8_t> BuildAeteResource();

// Splits a PIPL resource into its properties. False when the header is not a
// Windows property list or a property runs past the end; `properties` is then
// empty. A last property whose padding is missing is accepted.
bool ParsePiplResource(const uint8_t* bytes, size_t size, std::vector<PiplProperty>& properties);

// The first property with the key (any vendor), or nullptr.
const PiplProperty* FindPiplProperty(const std::vector<PiplProperty>& properties, uint32_t key);
