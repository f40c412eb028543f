#pragma once
// A memory of recently seen packets, so each is acted on and relayed once.
// A flat ring of (source, id) pairs, scanned linearly: at the default 64
// entries a scan is cheaper than hashing.
#include <cstdint>
#include <optional>
#include <vector>

namespace trovik::mesh {

class DynamicSeenCache {
public:
    explicit DynamicSeenCache(std::size_t capacity) : slots_(capacity) {}

    // Records a packet; true when it was new. A repeated packet keeps its place.
    bool record(std::uint32_t src, std::uint16_t id);
    bool contains(std::uint32_t src, std::uint16_t id) const noexcept;
    std::size_t capacity() const noexcept { return slots_.size(); }

private:
    struct Key {
        std::uint32_t src;
        std::uint16_t id;
        friend bool operator==(const Key&, const Key&) = default;
    };
    std::vector<std::optional<Key>> slots_;
    std::size_t next_ = 0;
};

}  // namespace trovik::mesh
