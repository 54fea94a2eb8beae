// Objects of one kind used in turn between threads: one is handed out again
// once nobody else holds it, so a steady stream allocates only while the set
// fills (or when every one is still held).
#pragma once

#include <array>
#include <atomic>
#include <memory>

namespace viewer {

template <typename T>
class Recycler {
  public:
    // `make` makes a new object, or null when memory runs out.
    template <typename Make>
    std::shared_ptr<T> next(Make make) {
        for (auto& slot : held) {
            if (!slot) slot = make();
            if (slot && slot.use_count() == 1) {
                // The last holder's reads happen before this thread writes.
                std::atomic_thread_fence(std::memory_order_acquire);
                return slot;
            }
        }
        return make();  // every one is still held: a fresh one, let go after use
    }
    std::shared_ptr<T> next() {
        return next([] { return std::make_shared<T>(); });
    }
    // Forgets the set; holders keep theirs.
    void clear() {
        for (auto& slot : held) slot.reset();
    }

  private:
    std::array<std::shared_ptr<T>, 3> held;
};

}  // namespace viewer
