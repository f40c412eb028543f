#pragma once
// What the MAVLink binding sources share: raising a MAVLink error, the
// `Dialect` object and the seed lookup a frame is read with.
#include <cstdint>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "binding/binding.hpp"
#include "binding/guarded.hpp"
#include "trovik/mavlink/dialect.hpp"
#include "trovik/mavlink/error.hpp"
#include "trovik/mavlink/frame.hpp"

namespace trovik::py {

// `ValueError` for an id past 24 bits (the caller's argument), else
// `TrovikError` with the error's text.
[[noreturn]] void raise_mavlink(const mavlink::MavlinkError& e);

template <class T>
T unwrap_mavlink(std::expected<T, mavlink::MavlinkError>&& result) {
    if (!result) raise_mavlink(result.error());
    if constexpr (!std::is_void_v<T>) return std::move(*result);
}

// The Python `Dialect`: shared by reference between its callers and the
// calls it is passed to, each of which locks it for one lookup or insertion.
class DialectCell {
public:
    DialectCell() : state_(std::make_unique<State>()) {}

    // The dialect's seed, then the registry's; the registry's alone once the
    // dialect is poisoned.
    std::optional<std::uint8_t> resolve(std::uint32_t msgid) const noexcept;
    // Raises "the dialect is poisoned", or `ValueError` for an id past 24 bits.
    void add(std::uint32_t msgid, std::uint8_t crc_extra) const;

private:
    struct State {
        std::mutex mutex;
        bool poisoned = false;
        mavlink::Dialect dialect;
    };
    std::unique_ptr<State> state_;
};

// Runs `f` with the seed lookup of a call: the dialect's when one is given,
// else the built-in registry.
template <class F>
decltype(auto) with_lookup(const std::optional<In<DialectCell>>& dialect, F&& f) {
    if (!dialect) return f(mavlink::SeedLookup(mavlink::known_crc_extra));
    const DialectCell& cell = **dialect;
    auto resolve = [&cell](std::uint32_t msgid) { return cell.resolve(msgid); };
    return f(mavlink::SeedLookup(resolve));
}

}  // namespace trovik::py
