// The simulated host's descriptors: an ordered list of keyed, typed values.
// One model serves the scripting descriptors a plug-in reads and writes
// through descriptorParameters, the action descriptors of the descriptor suite
// and the entries of the descriptor registry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_abi.h"

// Types beyond those the plug-in interface header names.
constexpr DescriptorTypeID kSimTypeRawData = FourCC("tdta");
constexpr DescriptorTypeID kSimTypeInteger64 = FourCC("comp");

struct SimDescriptorItem {
    DescriptorKeyID key = 0;
    DescriptorTypeID type = 0;     // 'long', 'comp', 'doub', 'UntF', 'bool', 'enum', 'tdta'
    DescriptorUnitID unit = 0;     // unit of 'UntF'
    DescriptorTypeID enumType = 0; // enumeration type of 'enum'
    int64 integer = 0;             // 'long', 'comp', 'bool', and the value of 'enum'
    real64 number = 0;             // 'doub', 'UntF'
    std::vector<uint8_t> data;     // 'tdta'
};

struct SimDescriptor {
    std::vector<SimDescriptorItem> items;

    const SimDescriptorItem* Find(DescriptorKeyID key) const;
    // Replaces the value of an existing key in place, else appends.
    void Put(const SimDescriptorItem& item);
    bool Erase(DescriptorKeyID key);

    // Convenience for tests and tools.
    SimDescriptor& Integer(DescriptorKeyID key, int32 value);
    SimDescriptor& Float(DescriptorKeyID key, real64 value);
    SimDescriptor& UnitFloat(DescriptorKeyID key, DescriptorUnitID unit, real64 value);
    SimDescriptor& Bool(DescriptorKeyID key, bool value);
    SimDescriptor& Enumerated(DescriptorKeyID key, DescriptorTypeID type, DescriptorEnumID value);
    SimDescriptor& Data(DescriptorKeyID key, const std::vector<uint8_t>& bytes);
};

bool operator==(const SimDescriptorItem& a, const SimDescriptorItem& b);
bool operator==(const SimDescriptor& a, const SimDescriptor& b);

// The host's private byte form of a descriptor: what a descriptor handle
// holds and what the registry file stores.
std::vector<uint8_t> EncodeSimDescriptor(const SimDescriptor& descriptor);
// False on bytes that are not a complete encoded descriptor.
bool DecodeSimDescriptor(const uint8_t* bytes, size_t size, SimDescriptor& descriptor);

// "'Intn' doub 50" lines, for tool output and test messages.
std::string DescribeSimDescriptor(const SimDescriptor& descriptor);
std::string FourCCText(uint32_t code);
