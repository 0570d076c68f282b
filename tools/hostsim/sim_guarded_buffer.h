// A block of memory with guard bytes on both sides: every buffer and handle
// the simulated host gives a plug-in lives in one, and the guards are checked
// after each call to find writes outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t kSimGuardBytes = 64;  // a multiple of 16, so the data keeps malloc's alignment

class GuardedBuffer {
public:
    // `size` usable bytes, all set to `fill`; the guards get their pattern.
    void Allocate(size_t size, uint8_t fill);
    void Release();
    bool Empty() const { return storage_.empty(); }
    uint8_t* Data() { return storage_.empty() ? nullptr : storage_.data() + kSimGuardBytes; }
    const uint8_t* Data() const { return storage_.empty() ? nullptr : storage_.data() + kSimGuardBytes; }
    size_t Size() const { return size_; }
    // True when no guard byte changed. `before`/`after` receive how many bytes
    // were changed on each side (the nearest changed byte's distance).
    bool GuardsIntact(size_t* before = nullptr, size_t* after = nullptr) const;
    // Puts the pattern back, so that one overrun is reported once.
    void RestoreGuards();

private:
    std::vector<uint8_t> storage_;
    size_t size_ = 0;
};
