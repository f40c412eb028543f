// SX126x answers: the decoders of the status byte, the IRQ word, the receive
// buffer status and the packet status, and the driver run against a chip
// whose every answer and BUSY reading comes from the input. Whatever the chip
// says, the driver never reads or writes past a buffer, never loops without
// bound, and fails only with one of its own messages.
// libFuzzer options: -max_len=4096
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "radio_script.hpp"
#include "support.hpp"
#include "trovik/radios/hal.hpp"
#include "trovik/radios/sx126x/command.hpp"
#include "trovik/radios/sx126x/driver.hpp"

using namespace trovik::radios;
using namespace trovik::radios::fuzzing;

namespace {

struct ScriptedBusy final : hal::InputPin {
    explicit ScriptedBusy(std::shared_ptr<Script> script) : script(std::move(script)) {}
    std::expected<bool, hal::PinErrorKind> is_high() override {
        // Mostly low, so operations get somewhere; a long high run ends in Busy.
        const std::uint8_t b = script->next();
        if (b == 0xFD) return std::unexpected(hal::PinErrorKind::Other);
        return b == 0xFE;
    }
    std::shared_ptr<Script> script;
};

template <class T>
void check_failure(const std::expected<T, sx126x::Error>& result) {
    if (!result) FUZZ_CHECK(!result.error().message().empty());
}

void check_decoders(std::span<const std::uint8_t> data) {
    if (data.size() < 3) return;
    const sx126x::Status status = sx126x::Status::decode(data[0]);
    FUZZ_CHECK(status.chip_mode.raw == ((data[0] >> 4) & 7) && status.command_status.raw == ((data[0] >> 1) & 7));
    // Bits 7 and 0 carry nothing.
    FUZZ_CHECK(sx126x::Status::decode(data[0] ^ 0x81) == status);
    const std::string text = sx126x::debug(status);
    FUZZ_CHECK(text.starts_with("Status { chip_mode: ") && text.ends_with(" }"));
    const std::array<std::uint8_t, 3> levels{data[0], data[1], data[2]};
    const sx126x::PacketStatus p = sx126x::decode_packet_status(levels);
    FUZZ_CHECK(p.rssi.hundredths() == -50 * data[0] && p.signal_rssi.hundredths() == -50 * data[2]);
    FUZZ_CHECK(p.snr.hundredths() >= -3200 && p.snr.hundredths() <= 3175 && p.snr.hundredths() % 25 == 0);
    const std::array<std::uint8_t, 2> pair{data[1], data[2]};
    FUZZ_CHECK(sx126x::decode_irq(pair) == (data[1] << 8 | data[2]));
    const sx126x::RxBufferStatus where = sx126x::decode_rx_buffer_status(pair);
    FUZZ_CHECK(where.payload_len == data[1] && where.start == data[2]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    check_decoders(input);
    if (size < 8) return 0;

    // The first bytes choose the board and the configuration; the rest is the chip.
    sx126x::Board board;
    board.amplifier = input[0] & 1 ? sx126x::Amplifier::LowPower : sx126x::Amplifier::HighPower;
    if (input[0] & 2) board.tcxo_voltage = input[0] >> 5;
    board.tcxo_settle_us = input[1] * 100u;
    board.llcc68 = input[0] & 4;
    RadioConfig config;
    config.frequency_hz = 150000000u + input[2] * 3500000u;
    config.band_low_hz = config.frequency_hz - input[3] * 100000u;
    config.band_high_hz = config.frequency_hz + input[3] * 100000u;
    constexpr std::uint32_t bandwidths[] = {7813,  10417,  15625,  20833,  31250, 41667,
                                            62500, 125000, 250000, 500000, 100000};
    config.link =
        trovik::lora::LinkSettings(5 + input[4] % 8, bandwidths[input[4] / 8 % 11]).with_coding_rate(input[5]);
    config.output_dbm = static_cast<std::int8_t>(input[6]);
    config.sync_word = SyncWord::from_byte(input[7]);

    auto script = std::make_shared<Script>(Script{input.subspan(8)});
    sx126x::Driver driver(std::make_unique<ScriptedSpi>(script), std::make_unique<Line>(),
                          std::make_unique<ScriptedBusy>(script), std::make_unique<NoDelay>(), board);
    check_failure(driver.start());
    check_failure(driver.configure(config));
    std::array<std::uint8_t, 40> payload{};
    check_failure(driver.transmit(std::span(payload).first(input[6] % payload.size())));
    // Buffers of several sizes: a frame the chip claims is longer must be refused, not copied.
    for (std::size_t room : {std::size_t{0}, std::size_t{16}, std::size_t{255}}) {
        std::array<std::uint8_t, 255> buffer{};
        const auto got = driver.receive(std::span(buffer).first(room), input[1] * 1000u);
        check_failure(got);
        if (got && got->kind == RxOutcome::Kind::Frame) FUZZ_CHECK(got->length <= room);
        const auto taken = driver.take_frame(std::span(buffer).first(room));
        check_failure(taken);
        if (taken && *taken && (*taken)->kind == RxOutcome::Kind::Frame) FUZZ_CHECK((*taken)->length <= room);
    }
    check_failure(driver.listen());
    check_failure(driver.detect(input[5]));
    check_failure(driver.random());
    check_failure(driver.sleep());
    check_failure(driver.standby());
    return 0;
}
