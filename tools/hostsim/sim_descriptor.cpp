// Descriptor values, their byte form and their text form.
#include "tools/hostsim/sim_descriptor.h"

#include <cstdio>
#include <cstring>

const SimDescriptorItem* SimDescriptor::Find(DescriptorKeyID key) const {
    for (const auto& item : items)
        if (item.key == key) return &item;
    return nullptr;
}

void SimDescriptor::Put(const SimDescriptorItem& item) {
    for (auto& existing : items) {
        if (existing.key == item.key) {
            existing = item;
            return;
        }
    }
    items.push_back(item);
}

bool SimDescriptor::Erase(DescriptorKeyID key) {
    for (auto it = items.begin(); it != items.end(); ++it) {
        if (it->key == key) {
            items.erase(it);
            return true;
        }
    }
    return false;
}

SimDescriptor& SimDescriptor::Integer(DescriptorKeyID key, int32 value) {
    SimDescriptorItem item;
    item.key = key;
    item.type = typeInteger;
    item.integer = value;
    Put(item);
    return *this;
}

SimDescriptor& SimDescriptor::Float(DescriptorKeyID key, real64 value) {
    SimDescriptorItem item;
    item.key = key;
    item.type = typeFloat;
    item.number = value;
    Put(item);
    return *this;
}

SimDescriptor& SimDescriptor::UnitFloat(DescriptorKeyID key, DescriptorUnitID unit, real64 value) {
    SimDescriptorItem item;
    item.key = key;
    item.type = typeUnitFloat;
    item.unit = unit;
    item.number = value;
    Put(item);
    return *this;
}

SimDescriptor& SimDescriptor::Bool(DescriptorKeyID key, bool value) {
    SimDescriptorItem item;
    item.key = key;
    item.type = typeBoolean;
    item.integer = value ? 1 : 0;
    Put(item);
    return *this;
}

SimDescriptor& SimDescriptor::Enumerated(DescriptorKeyID key, DescriptorTypeID type, DescriptorEnumID value) {
    SimDescriptorItem item;
    item.key = key;
    item.type = typeEnumerated;
    item.enumType = type;
    item.integer = value;
    Put(item);
    return *this;
}

SimDescriptor& SimDescriptor::Data(DescriptorKeyID key, const std::vector<uint8_t>& bytes) {
    SimDescriptorItem item;
    item.key = key;
    item.type = kSimTypeRawData;
    item.data = bytes;
    Put(item);
    return *this;
}

bool operator==(const SimDescriptorItem& a, const SimDescriptorItem& b) {
    return a.key == b.key && a.type == b.type && a.unit == b.unit && a.enumType == b.enumType &&
           a.integer == b.integer && a.number == b.number && a.data == b.data;
}

bool operator==(const SimDescriptor& a, const SimDescriptor& b) { return a.items == b.items; }

namespace {

const uint32_t kEncodingMagic = FourCC("RLds");

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put64(std::vector<uint8_t>& out, uint64_t v) {
    for (int i = 0; i < 8; i++) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

struct Reader {
    const uint8_t* at;
    const uint8_t* end;
    bool ok = true;
    uint32_t Get32() {
        if (end - at < 4) {
            ok = false;
            return 0;
        }
        uint32_t v = 0;
        for (int i = 0; i < 4; i++) v |= static_cast<uint32_t>(at[i]) << (8 * i);
        at += 4;
        return v;
    }
    uint64_t Get64() {
        uint64_t low = Get32();
        uint64_t high = Get32();
        return low | (high << 32);
    }
};

}  // namespace

std::vector<uint8_t> EncodeSimDescriptor(const SimDescriptor& descriptor) {
    std::vector<uint8_t> out;
    Put32(out, kEncodingMagic);
    Put32(out, static_cast<uint32_t>(descriptor.items.size()));
    for (const auto& item : descriptor.items) {
        Put32(out, item.key);
        Put32(out, item.type);
        Put32(out, item.unit);
        Put32(out, item.enumType);
        Put64(out, static_cast<uint64_t>(item.integer));
        uint64_t bits;
        std::memcpy(&bits, &item.number, 8);
        Put64(out, bits);
        Put32(out, static_cast<uint32_t>(item.data.size()));
        out.insert(out.end(), item.data.begin(), item.data.end());
    }
    return out;
}

bool DecodeSimDescriptor(const uint8_t* bytes, size_t size, SimDescriptor& descriptor) {
    descriptor.items.clear();
    if (!bytes) return false;
    Reader in{bytes, bytes + size};
    if (in.Get32() != kEncodingMagic) return false;
    const uint32_t count = in.Get32();
    for (uint32_t i = 0; i < count && in.ok; i++) {
        SimDescriptorItem item;
        item.key = in.Get32();
        item.type = in.Get32();
        item.unit = in.Get32();
        item.enumType = in.Get32();
        item.integer = static_cast<int64>(in.Get64());
        uint64_t bits = in.Get64();
        std::memcpy(&item.number, &bits, 8);
        const uint32_t length = in.Get32();
        if (!in.ok || static_cast<size_t>(in.end - in.at) < length) return false;
        item.data.assign(in.at, in.at + length);
        in.at += length;
        descriptor.items.push_back(std::move(item));
    }
    return in.ok && in.at == in.end;
}

std::string FourCCText(uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        char c = static_cast<char>((code >> shift) & 0xFF);
        text += (c >= 32 && c < 127) ? c : '?';
    }
    return text;
}

std::string DescribeSimDescriptor(const SimDescriptor& descriptor) {
    std::string text;
    char buffer[160];
    for (const auto& item : descriptor.items) {
        const std::string key = FourCCText(item.key), type = FourCCText(item.type);
        if (item.type == typeFloat)
            std::snprintf(buffer, sizeof buffer, "'%s' %s %g", key.c_str(), type.c_str(), item.number);
        else if (item.type == typeUnitFloat)
            std::snprintf(buffer, sizeof buffer, "'%s' %s %g '%s'", key.c_str(), type.c_str(), item.number,
                          FourCCText(item.unit).c_str());
        else if (item.type == typeEnumerated)
            std::snprintf(buffer, sizeof buffer, "'%s' %s '%s' '%s'", key.c_str(), type.c_str(),
                          FourCCText(item.enumType).c_str(), FourCCText(static_cast<uint32_t>(item.integer)).c_str());
        else if (item.type == kSimTypeRawData)
            std::snprintf(buffer, sizeof buffer, "'%s' %s %zu bytes", key.c_str(), type.c_str(), item.data.size());
        else
            std::snprintf(buffer, sizeof buffer, "'%s' %s %lld", key.c_str(), type.c_str(),
                          static_cast<long long>(item.integer));
        text += buffer;
        text += '\n';
    }
    return text;
}
