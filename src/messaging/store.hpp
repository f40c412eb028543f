#pragma once
// The Python `Store`: a slot holding one store's shared handle until a ladder
// takes it. Shared by the `sync` and `ladder` binding sources.
#include <memory>
#include <mutex>
#include <optional>

#include "trovik/sync/shared.hpp"

namespace trovik::py {

inline constexpr const char* kStoreSpent = "this store was already given to a ladder";
inline constexpr const char* kStorePoisoned = "this store is poisoned";

// Full from construction until a ladder takes the handle; never refilled.
// The lock is held only to look at the slot, never across an await.
struct StoreSlot {
    explicit StoreSlot(sync::SharedStore held) : store(std::move(held)) {}

    std::mutex lock;
    std::optional<sync::SharedStore> store;  // guarded by `lock`
    bool poisoned = false;                   // guarded by `lock`
};

// The Python `Store`. As a parameter type, `In<PyStore>`.
struct PyStore {
    std::shared_ptr<StoreSlot> slot;
};

// Moves the handle out, leaving the store spent. Raises TrovikError
// kStorePoisoned or kStoreSpent. GIL held.
sync::SharedStore take_store(StoreSlot& slot);

}  // namespace trovik::py
