// A LoRa radio and how a reception ended.
#include "radio/lora_radio.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "binding/binding.hpp"
#include "binding/blocking.hpp"
#include "lora/region.hpp"
#include "radio/args.hpp"
#include "trovik/radios/opening.hpp"

namespace trovik::py {

const BindingSource this_source{"lora_radio"};

namespace radio {

namespace {

using radios::Radio;
using radios::RxOutcome;

// The radio behind its own mutex. Every chip call releases the interpreter
// lock first and then takes the mutex, so a long reception holds back other
// calls on this radio but never the interpreter. `radio` is empty once closed.
struct RadioCell {
    std::mutex mutex;
    std::optional<Radio> radio;
};

struct LoraRadioValue {
    std::shared_ptr<RadioCell> cell;
    radios::Family family;
};

struct LoraReceptionValue {
    RxOutcome::Kind outcome;
    std::optional<double> rssi_dbm;
    std::optional<double> snr_db;
    std::optional<double> signal_rssi_dbm;
    std::optional<std::vector<std::uint8_t>> payload;
};

// Runs `op` on the radio with the interpreter lock released and the radio's
// mutex held; its failure, or a closed radio, raises TrovikError.
template <class Op>
auto drive(const LoraRadioValue& self, Op op) {
    using Result = std::invoke_result_t<Op&, Radio&>;
    using T = typename Result::value_type;
    std::expected<T, std::string> outcome = without_gil([&]() -> std::expected<T, std::string> {
        std::lock_guard lock(self.cell->mutex);
        if (!self.cell->radio) return std::unexpected(std::string("the radio is closed"));
        Result result = op(*self.cell->radio);
        if (!result) return std::unexpected(result.error().message());
        if constexpr (std::is_void_v<T>)
            return {};
        else
            return std::move(*result);
    });
    if (!outcome) raise_trovik(outcome.error());
    if constexpr (!std::is_void_v<T>) return std::move(*outcome);
}

// A frame arrived into the first bytes of a receive buffer, or nothing did.
struct Heard {
    RxOutcome outcome;
    std::array<std::uint8_t, 255> buffer{};
};

LoraReceptionValue reception(const Heard& heard) {
    const RxOutcome& o = heard.outcome;
    if (o.kind != RxOutcome::Kind::Frame) return {o.kind, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
    return {
        o.kind, o.rssi.to_db(), o.snr.to_db(), o.signal_rssi.to_db(),
        std::vector<std::uint8_t>(heard.buffer.begin(), heard.buffer.begin() + static_cast<std::ptrdiff_t>(o.length))};
}

const char* outcome_name(RxOutcome::Kind kind) {
    switch (kind) {
        case RxOutcome::Kind::Frame: return "Frame";
        case RxOutcome::Kind::Timeout: return "Timeout";
        case RxOutcome::Kind::Corrupt: return "Corrupt";
    }
    return "";
}

Class<LoraReceptionValue> lora_reception_class{
    "LoraReception", "How a reception ended, with the frame and its signal levels when one arrived.", [](auto& c) {
        c.no_borrow();  // never changes after it is made
        c.prop("outcome", "How it ended: `\"Frame\"`, `\"Timeout\"`, or `\"Corrupt\"`.",
               [](const LoraReceptionValue& r) { return outcome_name(r.outcome); });
        c.prop("rssi_dbm", "The received signal strength averaged over the frame, in dBm, or `None` without a frame.",
               [](const LoraReceptionValue& r) { return r.rssi_dbm; });
        c.prop("snr_db", "The estimated signal-to-noise ratio, in dB, or `None` without a frame.",
               [](const LoraReceptionValue& r) { return r.snr_db; });
        c.prop("signal_rssi_dbm",
               "The estimated strength of the LoRa signal itself, in dBm, or `None` without a frame.",
               [](const LoraReceptionValue& r) { return r.signal_rssi_dbm; });
        c.prop("payload", "The frame's payload, or `None` without a frame.",
               [](const LoraReceptionValue& r) { return r.payload; });
    }};

// Takes the radio out and drops it, releasing its hardware. Waiting for a
// call in progress happens without the interpreter lock, and so does the drop.
void close(const LoraRadioValue& self) {
    without_gil([&] {
        std::optional<Radio> taken;
        std::lock_guard lock(self.cell->mutex);
        taken.swap(self.cell->radio);
    });
}

radios::SyncWord sync_word_of(std::optional<std::uint16_t> value) {
    if (!value) return radios::SyncWord::private_network();
    if (*value > 255) raise_value_error("a sync word is one byte, not " + std::to_string(*value));
    return radios::SyncWord::from_byte(static_cast<std::uint8_t>(*value));
}

// Opens a module with the interpreter lock released: resetting a chip takes
// a few tens of milliseconds.
template <class Open>
PyObject* open_module(Open open) {
    auto radio = without_gil(open);
    if (!radio) opened(radio.error());
    return make_lora_radio(std::move(*radio));
}

Class<LoraRadioValue> lora_radio_class{
    "LoraRadio", "A LoRa radio opened on a Linux board or wired to a simulated chip.", [](auto& c) {
        c.no_borrow();  // the radio sits behind its own mutex
        c.def_static(
            "open_sx126x",
            "Opens an SX1261, SX1262, SX1268, or LLCC68 module and resets it, which takes a few tens of "
            "milliseconds.\n\n"
            "Raises `TrovikError` when the platform is not Linux, a device cannot be opened, or no chip answers, "
            "and `ValueError` for an amplifier name or a TCXO voltage the chip has no setting for.",
            {"spi", "gpio_chip", "busy_line", "reset_line", "amplifier", kw_only, arg("spi_hz").none(),
             arg("tcxo_volts").none(), arg("tcxo_settle_us").none(), arg("dio2_rf_switch").def(false),
             arg("dc_dc").def(false), arg("llcc68").def(false)},
            [](std::string_view spi, std::string_view gpio_chip, std::uint32_t busy_line, std::uint32_t reset_line,
               std::string_view amplifier, std::optional<std::uint32_t> spi_hz, std::optional<double> tcxo_volts,
               std::optional<std::uint32_t> tcxo_settle_us, bool dio2_rf_switch, bool dc_dc, bool llcc68) {
                const auto board = sx126x_board(amplifier, tcxo_volts, tcxo_settle_us, dio2_rf_switch, dc_dc, llcc68);
                auto wiring = radios::on_linux::Wiring::make(spi, gpio_chip, reset_line);
                if (spi_hz) wiring.spi_hz = *spi_hz;
                wiring.busy_line = busy_line;
                return open_module([&] { return radios::on_linux::open_sx126x(wiring, board); });
            });
        c.def_static(
            "open_sx127x",
            "Opens an SX1276, SX1277, SX1278, or SX1279 module, such as an RFM95W, and resets it into LoRa mode.\n\n"
            "Raises `TrovikError` when the platform is not Linux, a device cannot be opened, or no chip answers, "
            "and `ValueError` for an amplifier output name the chip has no setting for.",
            {"spi", "gpio_chip", "reset_line", "output", kw_only, arg("spi_hz").none(), arg("tcxo").def(false)},
            [](std::string_view spi, std::string_view gpio_chip, std::uint32_t reset_line, std::string_view output,
               std::optional<std::uint32_t> spi_hz, bool tcxo) {
                const auto board = sx127x_board(output, tcxo);
                auto wiring = radios::on_linux::Wiring::make(spi, gpio_chip, reset_line);
                if (spi_hz) wiring.spi_hz = *spi_hz;
                return open_module([&] { return radios::on_linux::open_sx127x(wiring, board); });
            });
        c.prop("family", "The family of the radio's chip: `\"Sx126x\"` or `\"Sx127x\"`.",
               [](const LoraRadioValue& r) { return std::string(radios::name(r.family)); });
        c.def(
            "configure",
            "Tunes the radio to a carrier, a link, and an output power.\n\n"
            "The sync word is one byte, `0x34` for a public network such as LoRaWAN and `0x12`, the default, "
            "for a private one. An SX126x calibrates its receiver for the carrier alone unless a band is given.",
            {"frequency_hz", "link", "output_dbm", kw_only, arg("sync_word").none(), arg("band_low_hz").none(),
             arg("band_high_hz").none(), arg("invert_iq_transmit").def(false), arg("invert_iq_receive").def(false)},
            [](const LoraRadioValue& self, std::uint32_t frequency_hz, In<LoraLinkValue> link, std::int32_t output_dbm,
               std::optional<std::uint16_t> sync_word, std::optional<std::uint32_t> band_low_hz,
               std::optional<std::uint32_t> band_high_hz, bool invert_iq_transmit, bool invert_iq_receive) {
                radios::RadioConfig config;
                config.sync_word = sync_word_of(sync_word);
                config.frequency_hz = frequency_hz;
                config.link = link->settings;
                // A band needs both edges; otherwise the receiver is calibrated for the carrier.
                const bool band = band_low_hz && band_high_hz;
                config.band_low_hz = band ? *band_low_hz : frequency_hz;
                config.band_high_hz = band ? *band_high_hz : frequency_hz;
                config.output_dbm = static_cast<std::int8_t>(std::clamp<std::int32_t>(output_dbm, -128, 127));
                config.invert_iq_transmit = invert_iq_transmit;
                config.invert_iq_receive = invert_iq_receive;
                drive(self, [&](Radio& r) { return r.configure(config); });
            });
        c.def("transmit", "Sends one frame and returns its airtime in microseconds once it has left.", {"payload"},
              [](const LoraRadioValue& self, ByteView payload) {
                  return drive(self, [&](Radio& r) { return r.transmit(payload); });
              });
        c.def("receive", "Listens for one frame for up to a timeout in microseconds.", {"timeout_us"},
              [](const LoraRadioValue& self, std::uint64_t timeout_us) {
                  Heard heard;
                  heard.outcome = drive(self, [&](Radio& r) { return r.receive(heard.buffer, timeout_us); });
                  return make(reception(heard));
              });
        c.def("listen", "Starts listening, frame after frame, until another call changes the mode.",
              [](const LoraRadioValue& self) { drive(self, [](Radio& r) { return r.listen(); }); });
        c.def("take_frame", "Takes the frame a listening radio has received, or `None` when nothing has arrived.",
              [](const LoraRadioValue& self) -> PyObject* {
                  Heard heard;
                  const auto taken = drive(self, [&](Radio& r) { return r.take_frame(heard.buffer); });
                  if (!taken) return none();
                  heard.outcome = *taken;
                  return make(reception(heard));
              });
        c.def("detect",
              "Listens a few symbols for a LoRa preamble and returns whether one is there, as a relay's scan does, "
              "leaving the chip in standby. An SX126x listens over 1, 2, 4, 8, or 16 symbols, rounded down to one "
              "of them, and an SX127x over one.",
              {"symbols"}, [](const LoraRadioValue& self, std::uint8_t symbols) {
                  return drive(self, [&](Radio& r) { return r.detect(symbols); });
              });
        c.def("standby", "Puts the radio in standby, which stops a transmission or a reception.",
              [](const LoraRadioValue& self) { drive(self, [](Radio& r) { return r.standby(); }); });
        c.def("sleep",
              "Puts the radio to sleep until the next call wakes it. An SX126x is configured again before its next "
              "frame; an SX127x keeps its registers.",
              [](const LoraRadioValue& self) { drive(self, [](Radio& r) { return r.sleep(); }); });
        c.def("random",
              "Draws a random number from the noise the receiver hears, leaving the chip in standby.\n\n"
              "Semtech's own drivers draw it the same way, and LoRaWAN 1.0.3 suggests this source for a join nonce "
              "on a device that has no other.",
              [](const LoraRadioValue& self) { return drive(self, [](Radio& r) { return r.random(); }); });
        c.def("read_register", "Reads one register: a 16-bit address on the SX126x, 0x00 to 0x7F on the SX127x.",
              {"address"}, [](const LoraRadioValue& self, std::uint16_t address) {
                  return drive(self, [&](Radio& r) { return r.read_register(address); });
              });
        c.def("write_register", "Writes one register: a 16-bit address on the SX126x, 0x00 to 0x7F on the SX127x.",
              {"address", "value"}, [](const LoraRadioValue& self, std::uint16_t address, std::uint8_t value) {
                  drive(self, [&](Radio& r) { return r.write_register(address, value); });
              });
        c.def("close",
              "Closes the radio's device files, after any call in progress finishes. Calls after this raise "
              "`TrovikError`.",
              [](const LoraRadioValue& self) { close(self); });
        c.def("__enter__", "Returns the radio, so it can be opened in a `with` block.",
              [](PyObject* self) { return Ref::borrow(self); });
        c.def("__exit__", "Closes the radio at the end of a `with` block, letting any exception through.",
              {arg("exception_type").none(), arg("exception").none(), arg("traceback").none()},
              [](const LoraRadioValue& self, PyObject*, PyObject*, PyObject*) {
                  close(self);
                  return false;
              });
    }};

}  // namespace

PyObject* make_lora_radio(Radio radio) {
    const radios::Family family = radio.family();
    auto cell = std::make_shared<RadioCell>();
    cell->radio.emplace(std::move(radio));
    return make(LoraRadioValue{std::move(cell), family});
}

}  // namespace radio

}  // namespace trovik::py
