// The description of the filter's PIPL and AETE resources, and the writers
// that turn it into the bytes hosts read. All numbers are little-endian, and
// four-character codes are written as 32-bit numbers (so '8BIM' lands as the
// bytes "MIB8").
#include "host/resource_description.h"

#include <cstring>
#include <utility>

namespace {

// ---------------------------------------------------------------------------
// What the filter tells the host
// ---------------------------------------------------------------------------

const char kMenuName[] = "Raylume Pro 2...";   // the product title and an ellipsis
const char kMenuCategory[] = "Corvane Software";  // the Filter submenu

// Plug-in interface version 4.0: (major << 16) | minor. Some hosts refuse
// anything newer.
const uint32_t kInterfaceVersion = (4u << 16) | 0u;

// Modes offered by the host's menu for this filter. The enable expression
// below extends this to the 16- and 32-bit variants.
const int16 kSupportedModes[] = {plugInModeGrayScale, plugInModeRGBColor};

const char kEnableExpression[] =
    "in (PSHOP_ImageMode, RGBMode, GrayScaleMode, RGB48Mode, Gray16Mode, RGB96Mode, Gray32Mode)";

// Largest image the filter accepts, both dimensions.
const int32_t kMaxImageSize32 = 32767;

// 'flly' flag bytes.
const uint8_t kLayerSupport[4] = {0x80, 0, 0, 0};

// All seven filter cases alike: data passed as it is, the filter writes its
// whole output itself (nothing copied beforehand), works on layer masks and
// may write outside the selection.
const FilterCaseInfo kFilterCase = {
    filterDataHandlingNone,
    filterDataHandlingNone,
    static_cast<char>(filterCaseDontCopyToDestination | filterCaseFiltersLayerMask |
                      filterCaseWritesOutsideSelection),
    0,
};
const int kFilterCaseCount = 7;

// The terminology property is 56 bytes in all: version, class, event,
// terminology id, then the scope string, zero-filled to the end.
const int32_t kTerminologyVersion = 0;
const size_t kTerminologyPropertySize = 56;

// Terminology (AETE).
const uint8_t kAeteMajorVersion = 1;
const uint8_t kAeteMinorVersion = 1;
const int16_t kAeteLanguage = 0;
const int16_t kAeteScript = 0;
const char kSuiteName[] = "Corvane Software";
const char kSuiteDescription[] = "Corvane Software";
const uint32_t kSuiteId = FourCC("CVA1");
const int16_t kSuiteLevel = 1;
const int16_t kSuiteVersion = 1;
const char kEventName[] = "Raylume Pro 2";
const char kEventDescription[] = "Raylume Pro 2 filter plug-in";
const uint32_t kReplyType = typeNull;
const int16_t kReplyFlags = 0;
const uint32_t kDirectParameterType = typeImageReference;
const uint16_t kDirectParameterFlags = 0xB000;

struct TerminologyParameter {
    const char* name;
    uint32_t key;
    uint32_t type;
    const char* description;
};

// In the order hosts list them.
const TerminologyParameter kParameters[] = {
    {"output spikes only", FourCC("opsO"), typeBoolean, "Raylume output spikes only"},
    {"quantity", FourCC("qntY"), typeFloat, "Raylume quantity"},
    {"intensity", FourCC("Intn"), typeFloat, "Raylume intensity"},
    {"length", FourCC("Lngt"), typeFloat, "Raylume length"},
    {"angle", FourCC("Angl"), typeFloat, "Raylume angle"},
    {"number of points", FourCC("numP"), typeInteger, "Raylume number of points"},
    {"spike sharpness", FourCC("spsH"), typeFloat, "Raylume spike sharpness"},
    {"saturation", FourCC("Strt"), typeFloat, "Raylume color saturation"},
    {"hue", FourCC("H   "), typeFloat, "Raylume color hue"},
    {"rainbow intensity", FourCC("rbwI"), typeFloat, "Raylume rainbow intensity"},
    {"rainbow frequency", FourCC("rbwF"), typeFloat, "Raylume rainbow frequency"},
    {"secondary spike intensity", FourCC("sspI"), typeFloat, "Raylume secondary spike intensity"},
    {"soft flare brightness", FourCC("sflB"), typeFloat, "Raylume soft flare brightness"},
    {"ring flare brightness", FourCC("rflB"), typeFloat, "Raylume ring flare brightness"},
};
const int16_t kParameterFlags = 0;

// ---------------------------------------------------------------------------
// Byte writing
// ---------------------------------------------------------------------------

void PutU8(std::vector<uint8_t>& out, uint8_t value) { out.push_back(value); }

void PutU16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutI16(std::vector<uint8_t>& out, int16_t value) { PutU16(out, static_cast<uint16_t>(value)); }
void PutI32(std::vector<uint8_t>& out, int32_t value) { PutU32(out, static_cast<uint32_t>(value)); }

void PutBytes(std::vector<uint8_t>& out, const void* bytes, size_t count) {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    out.insert(out.end(), p, p + count);
}

// Length byte, then the text (at most 255 characters).
void PutPascalString(std::vector<uint8_t>& out, const char* text) {
    size_t length = std::strlen(text);
    if (length > 255) length = 255;
    PutU8(out, static_cast<uint8_t>(length));
    PutBytes(out, text, length);
}

void PutCString(std::vector<uint8_t>& out, const char* text) { PutBytes(out, text, std::strlen(text) + 1); }

void PadWithZeros(std::vector<uint8_t>& out, size_t size) {
    if (out.size() < size) out.resize(size, 0);
}

size_t RoundUp4(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

// Appends one property: header with the padded length, then the data padded
// to a multiple of 4.
void PutProperty(std::vector<uint8_t>& out, uint32_t key, std::vector<uint8_t> data) {
    PadWithZeros(data, RoundUp4(data.size()));
    PutU32(out, kPiplVendor);
    PutU32(out, key);
    PutI32(out, 0);  // id
    PutU32(out, static_cast<uint32_t>(data.size()));
    PutBytes(out, data.data(), data.size());
}

uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// ---------------------------------------------------------------------------
// Property data
// ---------------------------------------------------------------------------

std::vector<uint8_t> U32Data(uint32_t value) {
    std::vector<uint8_t> data;
    PutU32(data, value);
    return data;
}

std::vector<uint8_t> PascalStringData(const char* text) {
    std::vector<uint8_t> data;
    PutPascalString(data, text);
    return data;
}

std::vector<uint8_t> CStringData(const char* text) {
    std::vector<uint8_t> data;
    PutCString(data, text);
    return data;
}

// Mode flags, most significant bit first: mode m sets bit 7 - m % 8 of byte m / 8.
std::vector<uint8_t> ModeFlagData() {
    std::vector<uint8_t> data(4, 0);
    for (int16 mode : kSupportedModes) data[static_cast<size_t>(mode / 8)] |= static_cast<uint8_t>(0x80 >> (mode % 8));
    return data;
}

std::vector<uint8_t> TerminologyData() {
    std::vector<uint8_t> data;
    PutI32(data, kTerminologyVersion);
    PutU32(data, kScriptingClassId);
    PutU32(data, kScriptingEventId);
    PutI16(data, kAeteResourceId);
    PutCString(data, kFilterUniqueString);
    PadWithZeros(data, kTerminologyPropertySize);
    return data;
}

std::vector<uint8_t> MaxSizeData() {
    std::vector<uint8_t> data;
    PutI32(data, kMaxImageSize32);
    PutI32(data, kMaxImageSize32);
    return data;
}

std::vector<uint8_t> FilterCaseData() {
    std::vector<uint8_t> data;
    for (int i = 0; i < kFilterCaseCount; ++i) PutBytes(data, &kFilterCase, sizeof kFilterCase);
    return data;
}

}  // namespace

std::vector<uint8_t> BuildPiplResource() {
    const uint32_t propertyCount = 11;
    std::vector<uint8_t> out;
    PutI16(out, 1);  // Windows form
    PutI32(out, 0);  // list version
    PutU32(out, propertyCount);
    PutProperty(out, kPiplKind, U32Data(kPiplKindFilter));
    PutProperty(out, kPiplName, PascalStringData(kMenuName));
    PutProperty(out, kPiplCategory, PascalStringData(kMenuCategory));
    PutProperty(out, kPiplVersion, U32Data(kInterfaceVersion));
    PutProperty(out, kPiplCodeX64, CStringData(kEntryPointName));
    PutProperty(out, kPiplSupportedModes, ModeFlagData());
    PutProperty(out, kPiplHasTerminology, TerminologyData());
    PutProperty(out, kPiplEnableInfo, CStringData(kEnableExpression));
    PutProperty(out, kPiplMaxSize32, MaxSizeData());
    PutProperty(out, kPiplFilterLayerSupport, std::vector<uint8_t>(kLayerSupport, kLayerSupport + 4));
    PutProperty(out, kPiplFilterCaseInfo, FilterCaseData());
    return out;
}

std::vector<uint8_t> BuildAeteResource() {
    std::vector<uint8_t> out;
    PutI16(out, 1);  // Windows form
    PutU8(out, kAeteMajorVersion);
    PutU8(out, kAeteMinorVersion);
    PutI16(out, kAeteLanguage);
    PutI16(out, kAeteScript);
    PutI16(out, 1);  // suites

    PutPascalString(out, kSuiteName);
    PutPascalString(out, kSuiteDescription);
    PutU32(out, kSuiteId);
    PutI16(out, kSuiteLevel);
    PutI16(out, kSuiteVersion);
    PutI16(out, 1);  // events

    PutPascalString(out, kEventName);
    PutPascalString(out, kEventDescription);
    PutU32(out, kScriptingClassId);
    PutU32(out, kScriptingEventId);
    PutU32(out, kReplyType);
    PutPascalString(out, "");
    PutI16(out, kReplyFlags);
    PutU32(out, kDirectParameterType);
    PutPascalString(out, "");
    PutU16(out, kDirectParameterFlags);

    PutI16(out, static_cast<int16_t>(sizeof kParameters / sizeof kParameters[0]));
    for (const TerminologyParameter& parameter : kParameters) {
        PutPascalString(out, parameter.name);
        PutU32(out, parameter.key);
        PutU32(out, parameter.type);
        PutPascalString(out, parameter.description);
        PutI16(out, kParameterFlags);
    }

    PutI16(out, 0);  // classes
    PutI16(out, 0);  // comparison operators
    PutI16(out, 0);  // enumerations
    return out;
}

bool ParsePiplResource(const uint8_t* bytes, size_t size, std::vector<PiplProperty>& properties) {
    properties.clear();
    const size_t headerSize = 10;
    const size_t propertyHeaderSize = 16;
    if (bytes == nullptr || size < headerSize || GetU16(bytes) != 1) return false;
    const uint32_t count = GetU32(bytes + 6);

    size_t at = headerSize;
    for (uint32_t i = 0; i < count; ++i) {
        if (size - at < propertyHeaderSize) {
            properties.clear();
            return false;
        }
        PiplProperty property;
        property.vendor = GetU32(bytes + at);
        property.key = GetU32(bytes + at + 4);
        property.id = static_cast<int32_t>(GetU32(bytes + at + 8));
        property.length = GetU32(bytes + at + 12);
        at += propertyHeaderSize;
        if (property.length > size - at) {
            properties.clear();
            return false;
        }
        property.data.assign(bytes + at, bytes + at + property.length);
        at += property.length;
        // Lists written with unpadded lengths still pad the data.
        const size_t padding = RoundUp4(property.length) - property.length;
        if (padding > size - at) {
            if (i + 1 != count) {
                properties.clear();
                return false;
            }
            at = size;
        } else {
            at += padding;
        }
        properties.push_back(std::move(property));
    }
    return true;
}

const PiplProperty* FindPiplProperty(const std::vector<PiplProperty>& properties, uint32_t key) {
    for (const PiplProperty& property : properties) {
        if (property.key == key) return &property;
    }
    return nullptr;
}
