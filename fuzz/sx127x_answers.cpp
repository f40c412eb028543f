// SX127x answers: the driver run against a chip whose every register read
// comes from the input. Whatever the chip says, the driver never reads or
// writes past a buffer, never loops without bound, reports levels within
// what a register byte can carry, and fails only with one of its own messages.
// libFuzzer options: -max_len=4096
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "radio_script.hpp"
#include "support.hpp"
#include "trovik/radios/sx127x/driver.hpp"

using namespace trovik::radios;
using namespace trovik::radios::fuzzing;

namespace {

template <class T>
void check_failure(const std::expected<T, sx127x::Error>& result) {
    if (!result) FUZZ_CHECK(!result.error().message().empty());
}

void check_frame(const std::expected<RxOutcome, sx127x::Error>& got, std::size_t room) {
    check_failure(got);
    if (!got || got->kind != RxOutcome::Kind::Frame) return;
    FUZZ_CHECK(got->length <= room);
    // RegPktRssiValue less an offset of 157 or 164, in whole decibels.
    FUZZ_CHECK(got->rssi.hundredths() >= -16400 && got->rssi.hundredths() <= 25500 - 15700);
    FUZZ_CHECK(got->rssi.hundredths() % 100 == 0);
    FUZZ_CHECK(got->snr.hundredths() >= -3200 && got->snr.hundredths() <= 3175);
    FUZZ_CHECK(got->signal_rssi.hundredths() <= got->rssi.hundredths());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    if (size < 8) return 0;

    // The first bytes choose the board and the configuration; the rest is the chip.
    const sx127x::Board board{input[0] & 1 ? sx127x::Output::Rfo : sx127x::Output::PaBoost, (input[0] & 2) != 0};
    constexpr std::uint32_t bandwidths[] = {7813,  10417,  15625,  20833,  31250, 41667,
                                            62500, 125000, 250000, 500000, 100000};
    trovik::lora::LinkSettings link(5 + input[4] % 8, bandwidths[input[4] / 8 % 11]);
    link = link.with_coding_rate(input[5]);
    link.explicit_header = (input[0] & 4) != 0;
    link.crc = (input[0] & 8) != 0;
    sx127x::Config config;
    config.frequency_hz = 137000000u + input[2] * 4000000u + input[3] * 61u;  // up to beyond 1 GHz
    config.power = sx127x::TxPower::make(input[0] & 16 ? sx127x::Output::Rfo : sx127x::Output::PaBoost,
                                         static_cast<std::int8_t>(input[6]));
    config.link = link;
    config.sync_word = SyncWord::from_byte(input[7]);
    config.invert_iq_receive = (input[0] & 32) != 0;

    auto script = std::make_shared<Script>(Script{input.subspan(8)});
    sx127x::Driver driver(std::make_unique<ScriptedSpi>(script), std::make_unique<Line>(), std::make_unique<NoDelay>(),
                          board);
    check_failure(driver.start());
    check_failure(driver.configure(config));
    std::array<std::uint8_t, 40> payload{};
    check_failure(driver.transmit(std::span(payload).first(input[6] % payload.size())));
    for (std::size_t room : {std::size_t{0}, std::size_t{16}, std::size_t{255}}) {
        std::array<std::uint8_t, 255> buffer{};
        check_frame(driver.receive(std::span(buffer).first(room), input[1] * 1000u), room);
        const auto taken = driver.take_frame(std::span(buffer).first(room));
        check_failure(taken);
        if (taken && *taken) check_frame(**taken, room);
    }
    check_failure(driver.listen());
    check_failure(driver.detect());
    check_failure(driver.random());
    check_failure(driver.sleep());
    check_failure(driver.standby());
    return 0;
}
