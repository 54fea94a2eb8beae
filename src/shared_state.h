// State the settings thread shares with the frame threads without a lock:
// switch bytes read once per frame, and the hand-over of objects that one
// side builds and the other takes over (staged lookup tables, the flat-field
// reference).
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace shared {

// Plain fields accessed atomically in place; relaxed unless asked otherwise.
template <typename T>
T load(T& field, std::memory_order order = std::memory_order_relaxed) {
    return std::atomic_ref<T>(field).load(order);
}
template <typename T, typename V>
void store(T& field, V value, std::memory_order order = std::memory_order_relaxed) {
    std::atomic_ref<T>(field).store(static_cast<T>(value), order);
}

// A hand-over byte. The writer builds the staged object between claimWrite
// and publish; the reader takes it over between claimCopy and finishCopy.
// Only the writer ever waits, and only while the reader is copying: the
// frame path never blocks, and the writer never touches the staged object
// while it is being copied.
enum HandOver : uint8_t {
    kIdle = 0,     // nothing staged
    kReady = 1,    // a complete staged object waits to be taken over
    kCopying = 2,  // the reader is taking it over
    kWriting = 3,  // a writer is building a new one
};

inline void claimWrite(uint8_t& state) {
    std::atomic_ref<uint8_t> flag(state);
    uint8_t seen = flag.load(std::memory_order_relaxed);
    for (;;) {
        if (seen == kCopying || seen == kWriting) {
            std::this_thread::yield();
            seen = flag.load(std::memory_order_relaxed);
            continue;
        }
        // Acquire: the reader's last copy happens before the writer rebuilds.
        if (flag.compare_exchange_weak(seen, kWriting, std::memory_order_acquire,
                                       std::memory_order_relaxed))
            return;
    }
}

// Release: the staged object is complete before the reader can see kReady.
inline void publish(uint8_t& state) {
    std::atomic_ref<uint8_t>(state).store(kReady, std::memory_order_release);
}

// True when a staged object was claimed for copying; never waits.
inline bool claimCopy(uint8_t& state) {
    uint8_t expected = kReady;
    return std::atomic_ref<uint8_t>(state).compare_exchange_strong(
        expected, kCopying, std::memory_order_acquire, std::memory_order_relaxed);
}

inline void finishCopy(uint8_t& state) {
    std::atomic_ref<uint8_t>(state).store(kIdle, std::memory_order_release);
}

// The copy could not be made: leave the object staged for a later frame.
inline void abandonCopy(uint8_t& state) {
    std::atomic_ref<uint8_t>(state).store(kReady, std::memory_order_release);
}

}  // namespace shared
