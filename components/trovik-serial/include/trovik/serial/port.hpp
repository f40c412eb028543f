#pragma once
// The one handle through which the system talks to a serial line: a UART of
// the board, a USB adapter, or a line that exists only inside the program.
// Every user of a line holds a copy of the same handle and sees one shared
// state; each operation holds the port's mutex from start to end, so
// operations on one port never interleave.
//
// The lines inside the program never sleep: a read that finds nothing returns
// at once and a wait returns at once, each adding the time it stood for to the
// waited-time counter, so tests run at full speed and can still check the
// timing a protocol asked for. A kernel device really waits, and counts too.
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "trovik/serial/duration.hpp"
#include "trovik/serial/peer.hpp"
#include "trovik/serial/port_error.hpp"
#include "trovik/serial/settings.hpp"

namespace trovik::serial {

enum class PortKind : std::uint8_t { Device, Looped, Paired, Simulated, Scripted };
// "Device", "Looped", "Paired", "Simulated", "Scripted".
std::string_view kind_name(PortKind kind) noexcept;

// One step of a scripted line: a write the program must make, in one call, or
// bytes the far end sends, readable once every step before them has happened.
struct PortStep {
    enum class Kind : std::uint8_t { Write, Read };
    Kind kind;
    std::vector<std::uint8_t> bytes;

    static PortStep write(std::vector<std::uint8_t> bytes) { return {Kind::Write, std::move(bytes)}; }
    static PortStep read(std::vector<std::uint8_t> bytes) { return {Kind::Read, std::move(bytes)}; }
    friend bool operator==(const PortStep&, const PortStep&) = default;
};

class SerialPort {
public:
    // Every byte written is waiting to be read on the same port.
    static SerialPort looped(Settings settings);
    // The two ends of a null-modem pair: what one writes, the other reads.
    // Each end keeps its own counters.
    static std::pair<SerialPort, SerialPort> pair(Settings settings);
    // Checks each write against the next step; read steps that stand before
    // the first write step are readable at once.
    static SerialPort scripted(Settings settings, std::vector<PortStep> steps);
    // Every write is handed to `peer`, whose reply becomes readable before the
    // write returns.
    static SerialPort simulated(Settings settings, std::unique_ptr<Peer> peer);
    // A kernel terminal device, opened raw with `settings` (Linux only). The
    // speed must be a standard rate from 1200 to 921600.
    static std::expected<SerialPort, OpenError> open(std::string_view path, Settings settings);

    // Writes `data` whole, returning once the bytes have left the UART.
    std::expected<void, PortError> write(std::span<const std::uint8_t> data) const;
    // Fills the front of `buffer` with what has arrived and returns how many
    // bytes it filled. When nothing has arrived a device waits up to `timeout`
    // for the first byte; every other kind returns 0 at once. Either way a read
    // of at least one byte that gets nothing counts `timeout` as waited.
    std::expected<std::size_t, PortError> read(std::span<std::uint8_t> buffer, Duration timeout) const;
    // The same read, returning up to `size` bytes in a buffer sized to what
    // arrived, however large `size` is.
    std::expected<std::vector<std::uint8_t>, PortError> read_up_to(std::uint64_t size, Duration timeout) const;
    // Counts `duration` as waited; a device also sleeps it.
    void wait(Duration duration) const;
    // Drops whatever has arrived and not been read.
    std::expected<void, PortError> discard_input() const;

    PortKind kind() const noexcept;
    Settings settings() const noexcept;
    // Bytes accepted by successful writes, and handed out by reads.
    std::uint64_t written() const noexcept;
    std::uint64_t received() const noexcept;
    // Time counted as waited, in microseconds, rounded down.
    std::uint64_t waited_micros() const noexcept;
    // Script steps not yet consumed; nothing for a port that is not scripted.
    std::optional<std::size_t> remaining() const;

    struct Shared;

private:
    explicit SerialPort(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
    std::shared_ptr<Shared> shared_;
};

}  // namespace trovik::serial
