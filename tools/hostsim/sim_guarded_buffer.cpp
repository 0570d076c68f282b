// Guard patterns around host buffers.
#include "tools/hostsim/sim_guarded_buffer.h"

#include <cstring>

namespace {
// The pattern varies with the position so that a plug-in filling memory with
// one value cannot restore it by accident.
uint8_t GuardByte(size_t index) { return static_cast<uint8_t>(0xA5 ^ (index * 29)); }
}  // namespace

void GuardedBuffer::Allocate(size_t size, uint8_t fill) {
    size_ = size;
    storage_.assign(size + 2 * kSimGuardBytes, fill);
    RestoreGuards();
}

void GuardedBuffer::Release() {
    std::vector<uint8_t>().swap(storage_);
    size_ = 0;
}

void GuardedBuffer::RestoreGuards() {
    if (storage_.empty()) return;
    for (size_t i = 0; i < kSimGuardBytes; i++) {
        storage_[i] = GuardByte(i);
        storage_[kSimGuardBytes + size_ + i] = GuardByte(i + kSimGuardBytes);
    }
}

bool GuardedBuffer::GuardsIntact(size_t* before, size_t* after) const {
    size_t low = 0, high = 0;
    if (!storage_.empty()) {
        for (size_t i = 0; i < kSimGuardBytes; i++) {
            if (storage_[i] != GuardByte(i)) {
                low = kSimGuardBytes - i;  // distance before the data of the farthest changed byte
                break;
            }
        }
        for (size_t i = kSimGuardBytes; i-- > 0;) {
            if (storage_[kSimGuardBytes + size_ + i] != GuardByte(i + kSimGuardBytes)) {
                high = i + 1;  // bytes past the end up to the farthest changed one
                break;
            }
        }
    }
    if (before) *before = low;
    if (after) *after = high;
    return low == 0 && high == 0;
}
