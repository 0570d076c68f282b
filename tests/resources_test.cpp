// The PIPL and AETE bytes hosts read, checked against hand-written expected
// bytes, and the record layouts the plug-in shares with its hosts.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_abi.h"
#include "host/resource_description.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// The bytes of a text, optionally followed by `zeros` zero bytes.
Bytes Text(const std::string& text, size_t zeros = 0) {
    Bytes out(text.begin(), text.end());
    out.insert(out.end(), zeros, 0);
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A four-character code as it lies in a resource: the characters reversed.
Bytes Code(const char (&code)[5]) { return Bytes{uint8_t(code[3]), uint8_t(code[2]), uint8_t(code[1]), uint8_t(code[0])}; }

Bytes Pascal(const std::string& text) {
    Bytes out(text.size() + 1);
    out[0] = static_cast<uint8_t>(text.size());
    for (size_t i = 0; i < text.size(); i++) out[i + 1] = static_cast<uint8_t>(text[i]);
    return out;
}

Bytes Slice(const Bytes& bytes, size_t from, size_t count) {
    if (from > bytes.size()) return Bytes();
    if (count > bytes.size() - from) count = bytes.size() - from;
    return Bytes(bytes.begin() + static_cast<ptrdiff_t>(from), bytes.begin() + static_cast<ptrdiff_t>(from + count));
}

std::vector<PiplProperty> ParsedPipl() {
    const Bytes pipl = BuildPiplResource();
    std::vector<PiplProperty> properties;
    EXPECT_TRUE(ParsePiplResource(pipl.data(), pipl.size(), properties));
    return properties;
}

// The data of the property with the key, or empty.
Bytes PropertyData(const char (&key)[5]) {
    const std::vector<PiplProperty> properties = ParsedPipl();
    const PiplProperty* property = FindPiplProperty(properties, FourCC(key));
    if (property == nullptr) {
        ADD_FAILURE() << "no property " << key;
        return Bytes();
    }
    EXPECT_EQ(property->length, property->data.size()) << key;
    return property->data;
}

const char kGuid[] = "5f0d6c1e-3b7a-4e21-9c84-2a6e1d0b7f35";

// ---------------------------------------------------------------------------
// PIPL
// ---------------------------------------------------------------------------

TEST(PiplResource, HeaderIsWindowsFormWithElevenProperties) {
    const Bytes pipl = BuildPiplResource();
    const Bytes expected = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0B, 0x00, 0x00, 0x00};
    EXPECT_EQ(Slice(pipl, 0, 10), expected);
}

TEST(PiplResource, FirstPropertyHeaderBytes) {
    const Bytes pipl = BuildPiplResource();
    // vendor "MIB8", key "dnik", id 0, length 4, then "MFB8".
    const Bytes expected = Concat({Text("MIB8"), Text("dnik"), Bytes(4, 0), Bytes{4, 0, 0, 0}, Text("MFB8")});
    EXPECT_EQ(Slice(pipl, 10, 20), expected);
}

TEST(PiplResource, PropertiesInOrderAllFromVendor8BIMWithIdZero) {
    const std::vector<PiplProperty> properties = ParsedPipl();
    const char* const keys[] = {"kind", "name", "catg", "vers", "8664", "mode",
                                "hstm", "enbl", "ms32", "flly", "fici"};
    ASSERT_EQ(properties.size(), 11u);
    for (size_t i = 0; i < 11; ++i) {
        const uint32_t key = properties[i].key;
        const std::string text = {char(key >> 24), char(key >> 16), char(key >> 8), char(key)};
        EXPECT_EQ(text, keys[i]) << "property " << i;
        EXPECT_EQ(properties[i].vendor, 0x3842494Du) << keys[i];
        EXPECT_EQ(properties[i].id, 0) << keys[i];
    }
}

TEST(PiplResource, EveryLengthIsPaddedAndTheListHasNoSlack) {
    const Bytes pipl = BuildPiplResource();
    const std::vector<PiplProperty> properties = ParsedPipl();
    size_t total = 10;
    for (const PiplProperty& property : properties) {
        EXPECT_EQ(property.length % 4, 0u) << "key " << std::hex << property.key;
        total += 16 + property.length;
    }
    EXPECT_EQ(total, pipl.size());
}

TEST(PiplResource, KindIsFilter) { EXPECT_EQ(PropertyData("kind"), Text("MFB8")); }

TEST(PiplResource, MenuNameIsPaddedPascalString) {
    const Bytes expected = Concat({Bytes{16}, Text("Raylume Pro 2..."), Bytes(3, 0)});
    EXPECT_EQ(PropertyData("name"), expected);
}

TEST(PiplResource, CategoryIsPaddedPascalString) {
    const Bytes expected = Concat({Bytes{16}, Text("Corvane Software"), Bytes(3, 0)});
    EXPECT_EQ(PropertyData("catg"), expected);
}

TEST(PiplResource, InterfaceVersionIsFourPointZero) {
    EXPECT_EQ(PropertyData("vers"), (Bytes{0x00, 0x00, 0x04, 0x00}));
}

TEST(PiplResource, EntryPointIsPluginMainInTwelveBytes) {
    EXPECT_EQ(PropertyData("8664"), Text("PluginMain", 2));
}

TEST(PiplResource, ModesAreGrayscaleAndRgb) { EXPECT_EQ(PropertyData("mode"), (Bytes{0x50, 0, 0, 0})); }

TEST(PiplResource, TerminologyPropertyIs56Bytes) {
    const Bytes expected = Concat({Bytes(4, 0), Text("1AVC"), Text("1AVC"), Bytes{0x80, 0x3E}, Text(kGuid, 6)});
    ASSERT_EQ(expected.size(), 56u);
    EXPECT_EQ(PropertyData("hstm"), expected);
}

TEST(PiplResource, UniqueStringIsTheGuidInTheTerminologyProperty) {
    EXPECT_STREQ(kFilterUniqueString, kGuid);
    EXPECT_EQ(std::strlen(kFilterUniqueString), 36u);
}

TEST(PiplResource, EnableExpression) {
    const Bytes data = PropertyData("enbl");
    const Bytes expected = Text(
        "in (PSHOP_ImageMode, RGBMode, GrayScaleMode, RGB48Mode, Gray16Mode, RGB96Mode, Gray32Mode)", 2);
    EXPECT_EQ(data.size(), 92u);
    EXPECT_EQ(data, expected);
}

TEST(PiplResource, MaximumSizeIs32767Square) {
    EXPECT_EQ(PropertyData("ms32"), (Bytes{0xFF, 0x7F, 0, 0, 0xFF, 0x7F, 0, 0}));
}

TEST(PiplResource, LayerSupportFlags) { EXPECT_EQ(PropertyData("flly"), (Bytes{0x80, 0, 0, 0})); }

TEST(PiplResource, SevenFilterCasesPassDataAsItIs) {
    Bytes expected;
    for (int i = 0; i < 7; ++i) expected.insert(expected.end(), {0x01, 0x01, 0x0D, 0x00});
    EXPECT_EQ(PropertyData("fici"), expected);
}

TEST(PiplResource, EntryPointPropertyNamesTheExportedFunction) {
    const Bytes data = PropertyData("8664");
    ASSERT_FALSE(data.empty());
    EXPECT_STREQ(reinterpret_cast<const char*>(data.data()), kEntryPointName);
    EXPECT_STREQ(kEntryPointName, "PluginMain");
}

// ---------------------------------------------------------------------------
// Parser
// ---------------------------------------------------------------------------

TEST(PiplParser, RoundTripRebuildsTheSameBytes) {
    const Bytes pipl = BuildPiplResource();
    std::vector<PiplProperty> properties;
    ASSERT_TRUE(ParsePiplResource(pipl.data(), pipl.size(), properties));
    Bytes rebuilt = Slice(pipl, 0, 10);
    for (const PiplProperty& property : properties) {
        for (uint32_t value : {property.vendor, property.key, static_cast<uint32_t>(property.id), property.length}) {
            for (int shift = 0; shift < 32; shift += 8) rebuilt.push_back(static_cast<uint8_t>(value >> shift));
        }
        rebuilt.insert(rebuilt.end(), property.data.begin(), property.data.end());
    }
    EXPECT_EQ(rebuilt, pipl);
}

TEST(PiplParser, RejectsEveryTruncation) {
    const Bytes pipl = BuildPiplResource();
    std::vector<PiplProperty> properties;
    // The last property's data is 28 bytes with no padding to lose, so any
    // shorter buffer cuts a property.
    for (size_t size = 0; size < pipl.size(); ++size) {
        properties.assign(1, PiplProperty());
        EXPECT_FALSE(ParsePiplResource(pipl.data(), size, properties)) << "size " << size;
        EXPECT_TRUE(properties.empty()) << "size " << size;
    }
}

TEST(PiplParser, RejectsOtherHeaderWordAndNull) {
    Bytes pipl = BuildPiplResource();
    std::vector<PiplProperty> properties;
    pipl[0] = 2;
    EXPECT_FALSE(ParsePiplResource(pipl.data(), pipl.size(), properties));
    EXPECT_FALSE(ParsePiplResource(nullptr, 100, properties));
}

TEST(PiplParser, RejectsLengthRunningPastTheEnd) {
    Bytes pipl = BuildPiplResource();
    std::vector<PiplProperty> properties;
    pipl[10 + 12] = 0xFF;  // first property's length
    pipl[10 + 15] = 0x7F;
    EXPECT_FALSE(ParsePiplResource(pipl.data(), pipl.size(), properties));
}

TEST(PiplParser, ReadsUnpaddedLengthsOverPaddedData) {
    // Two properties written by an older tool: lengths 5 and 1, data padded to 8 and 4.
    const Bytes list = Concat({Bytes{1, 0, 0, 0, 0, 0, 2, 0, 0, 0},
                               Text("MIB8"), Code("name"), Bytes(4, 0), Bytes{5, 0, 0, 0},
                               Bytes{4}, Text("Blur"), Bytes(3, 0),
                               Text("MIB8"), Code("flly"), Bytes(4, 0), Bytes{1, 0, 0, 0},
                               Bytes{0x80}});  // last property stops without padding
    std::vector<PiplProperty> properties;
    ASSERT_TRUE(ParsePiplResource(list.data(), list.size(), properties));
    ASSERT_EQ(properties.size(), 2u);
    EXPECT_EQ(properties[0].key, FourCC("name"));
    EXPECT_EQ(properties[0].length, 5u);
    EXPECT_EQ(properties[0].data, Concat({Bytes{4}, Text("Blur")}));
    EXPECT_EQ(properties[1].key, FourCC("flly"));
    EXPECT_EQ(properties[1].data, Bytes{0x80});
    EXPECT_EQ(FindPiplProperty(properties, FourCC("flly")), &properties[1]);
    EXPECT_EQ(FindPiplProperty(properties, FourCC("kind")), nullptr);
}

TEST(PiplParser, MissingPaddingBeforeAnotherPropertyIsRejected) {
    const Bytes list = Concat({Bytes{1, 0, 0, 0, 0, 0, 2, 0, 0, 0},
                               Text("MIB8"), Code("flly"), Bytes(4, 0), Bytes{1, 0, 0, 0}, Bytes{0x80},
                               Text("MIB8"), Code("flly"), Bytes(4, 0), Bytes{1, 0, 0, 0}, Bytes{0x80}});
    std::vector<PiplProperty> properties;
    EXPECT_FALSE(ParsePiplResource(list.data(), list.size(), properties));
}

// ---------------------------------------------------------------------------
// AETE
// ---------------------------------------------------------------------------

TEST(AeteResource, HeaderSuiteAndEvent) {
    const Bytes aete = BuildAeteResource();
    const Bytes expected = Concat({
        Bytes{0x01, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00},  // form, 1.1, language, script, 1 suite
        Pascal("Corvane Software"), Pascal("Corvane Software"), Text("1AVC"),
        Bytes{0x01, 0x00, 0x01, 0x00, 0x01, 0x00},  // level 1, version 1, 1 event
        Pascal("Raylume Pro 2"), Pascal("Raylume Pro 2 filter plug-in"), Text("1AVC"), Text("1AVC"),
        Text("llun"), Bytes{0x00}, Bytes{0x00, 0x00},  // reply
        Text("RmI#"), Bytes{0x00}, Bytes{0x00, 0xB0},  // direct parameter
        Bytes{0x0E, 0x00},                             // 14 parameters
        Pascal("output spikes only"), Text("Ospo"), Text("loob"), Pascal("Raylume output spikes only"),
        Bytes{0x00, 0x00},
    });
    EXPECT_EQ(Slice(aete, 0, expected.size()), expected);
}

TEST(AeteResource, EndsWithLastParameterAndSixZeros) {
    const Bytes aete = BuildAeteResource();
    const Bytes expected = Concat({Pascal("ring flare brightness"), Text("Blfr"), Text("buod"),
                                   Pascal("Raylume ring flare brightness"), Bytes{0x00, 0x00}, Bytes(6, 0)});
    ASSERT_GE(aete.size(), expected.size());
    EXPECT_EQ(Slice(aete, aete.size() - expected.size(), expected.size()), expected);
}

TEST(AeteResource, ParametersInOrder) {
    struct Expected {
        const char* name;
        const char* key;
        const char* type;
        const char* description;
    };
    const Expected parameters[] = {
        {"output spikes only", "opsO", "bool", "Raylume output spikes only"},
        {"quantity", "qntY", "doub", "Raylume quantity"},
        {"intensity", "Intn", "doub", "Raylume intensity"},
        {"length", "Lngt", "doub", "Raylume length"},
        {"angle", "Angl", "doub", "Raylume angle"},
        {"number of points", "numP", "long", "Raylume number of points"},
        {"spike sharpness", "spsH", "doub", "Raylume spike sharpness"},
        {"saturation", "Strt", "doub", "Raylume color saturation"},
        {"hue", "H   ", "doub", "Raylume color hue"},
        {"rainbow intensity", "rbwI", "doub", "Raylume rainbow intensity"},
        {"rainbow frequency", "rbwF", "doub", "Raylume rainbow frequency"},
        {"secondary spike intensity", "sspI", "doub", "Raylume secondary spike intensity"},
        {"soft flare brightness", "sflB", "doub", "Raylume soft flare brightness"},
        {"ring flare brightness", "rflB", "doub", "Raylume ring flare brightness"},
    };
    Bytes expected = Bytes{0x0E, 0x00};
    for (const Expected& p : parameters) {
        Bytes key = Text(p.key), type = Text(p.type);
        expected = Concat({expected, Pascal(p.name), Bytes(key.rbegin(), key.rend()), Bytes(type.rbegin(), type.rend()),
                           Pascal(p.description), Bytes{0x00, 0x00}});
    }
    expected.insert(expected.end(), 6, 0);

    const Bytes aete = BuildAeteResource();
    const size_t start = 10 + 17 + 17 + 4 + 6 + 14 + 29 + 4 + 4 + 7 + 7;  // up to the parameter count
    EXPECT_EQ(aete.size(), start + expected.size());
    EXPECT_EQ(Slice(aete, start, expected.size()), expected);
}

// ---------------------------------------------------------------------------
// Records shared with hosts
// ---------------------------------------------------------------------------

TEST(HostAbi, FourCharacterCodes) {
    EXPECT_EQ(FourCC("8BIM"), 0x3842494Du);
    const uint32_t code = FourCC("8BIM");
    uint8_t stored[4];
    std::memcpy(stored, &code, 4);  // the plug-in only runs on little-endian machines
    EXPECT_EQ(Bytes(stored, stored + 4), Text("MIB8"));
}

TEST(HostAbi, RecordSizes) {
    EXPECT_EQ(sizeof(Boolean), 1u);
    EXPECT_EQ(sizeof(SPBoolean), 4u);
    EXPECT_EQ(sizeof(FilterRecord), 608u);
    EXPECT_EQ(sizeof(AboutRecord), 272u);
    EXPECT_EQ(sizeof(BigDocumentStruct), 92u);
    EXPECT_EQ(sizeof(HandleProcs), 72u);
    EXPECT_EQ(sizeof(PIDescriptorParameters), 32u);
    EXPECT_EQ(sizeof(SPBasicSuite), 56u);
    EXPECT_EQ(sizeof(ActionDescriptorSuite), 384u);
}

// A record filled the way a host fills it, byte by byte, reads back through
// the declarations.
TEST(HostAbi, FilterRecordReadsHostBytes) {
    alignas(8) uint8_t raw[608] = {};
    auto put16 = [&](size_t at, uint16_t v) { raw[at] = uint8_t(v); raw[at + 1] = uint8_t(v >> 8); };
    auto put32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) raw[at + i] = uint8_t(v >> (8 * i)); };
    auto put64 = [&](size_t at, uint64_t v) { for (int i = 0; i < 8; ++i) raw[at + i] = uint8_t(v >> (8 * i)); };
    put32(0, 77);                                  // serialNumber
    put64(4, 0x1122334455667788ull);               // abortProc
    put16(32, 3);                                  // planes
    put16(34 + 6, 640);                            // filterRect.right
    put32(56, 1000000);                            // maxSpace
    put16(156, 3);                                 // imageMode
    put64(256, 0x0102030405060708ull);             // handleProcs
    put16(268, 2);                                 // filterCase
    put32(312, 0x10000);                           // inputRate
    put64(464, 0xA1A2A3A4A5A6A7A8ull);             // sSPBasic
    put32(480, 16);                                // depth
    put64(504, 0xB1B2B3B4B5B6B7B8ull);             // bigDocumentData
    put64(552, 0x0000000100000000ull);             // maxSpace64

    FilterRecord record;
    std::memcpy(&record, raw, sizeof record);
    EXPECT_EQ(record.serialNumber, 77);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(record.abortProc), uintptr_t(0x1122334455667788ull));
    EXPECT_EQ(record.planes, 3);
    EXPECT_EQ(record.filterRect.right, 640);
    EXPECT_EQ(record.maxSpace, 1000000);
    EXPECT_EQ(record.imageMode, plugInModeRGBColor);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(record.handleProcs), uintptr_t(0x0102030405060708ull));
    EXPECT_EQ(record.filterCase, filterCaseFlatImageWithSelection);
    EXPECT_EQ(record.inputRate, kFixedOne);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(record.sSPBasic), uintptr_t(0xA1A2A3A4A5A6A7A8ull));
    EXPECT_EQ(record.depth, 16);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(record.bigDocumentData), uintptr_t(0xB1B2B3B4B5B6B7B8ull));
    EXPECT_EQ(record.maxSpace64, int64_t(1) << 32);
}

TEST(HostAbi, BigDocumentReadsHostBytes) {
    int32_t raw[23] = {};
    raw[0] = 1;              // PluginUsing32BitCoordinates
    raw[3 + 3] = 70000;      // filterRect32.right (filterRect32 at byte 12)
    raw[21 + 1] = 90000;     // wholeSize32.h (wholeSize32 at byte 84)
    BigDocumentStruct big;
    std::memcpy(&big, raw, sizeof big);
    EXPECT_EQ(big.PluginUsing32BitCoordinates, 1);
    EXPECT_EQ(big.filterRect32.right, 70000);
    EXPECT_EQ(big.wholeSize32.h, 90000);
}

}  // namespace
