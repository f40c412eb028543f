// Simulated LoRa chips: what arrives on the air, what the chip was tuned to,
// what it sent.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding.hpp"
#include "binding/blocking.hpp"
#include "lora/region.hpp"
#include "radio/args.hpp"
#include "radio/lora_radio.hpp"
#include "trovik/radios/sim/chip.hpp"

namespace trovik::py {

const BindingSource this_source{"lora_radio"};

namespace radio {

namespace {

using radios::sim::Chip;

struct SimulatedChipValue {
    Chip chip;  // a handle; the chip's state sits behind its own mutex
};

struct LoraTuningValue {
    radios::sim::Tuning tuning;
};

struct LoraSentFrameValue {
    Ref tuning;  // a LoraTuning, made once so every access returns the same object
    std::vector<std::uint8_t> payload;
};

Class<LoraTuningValue> lora_tuning_class{
    "LoraTuning", "What a simulated chip is tuned to, as read from its registers.", [](auto& c) {
        c.no_borrow();  // a copy taken when it was made
        c.prop("frequency_hz",
               "The carrier frequency in hertz as the chip's synthesizer steps it: within a hertz of the one asked\n"
               "for on an SX126x, and within 61 Hz on an SX127x.",
               [](const LoraTuningValue& t) { return t.tuning.frequency_hz; });
        c.prop("link", "The spreading factor, bandwidth, coding rate, preamble, header, and CRC.",
               [](const LoraTuningValue& t) { return make_lora_link(t.tuning.link); });
        c.prop("output_dbm", "The output power the amplifier was asked for, in dBm.",
               [](const LoraTuningValue& t) { return t.tuning.output_dbm; });
        c.prop("sync_word", "The sync word byte.", [](const LoraTuningValue& t) { return t.tuning.sync_word.byte(); });
    }};

Class<LoraSentFrameValue> lora_sent_frame_class{
    "LoraSentFrame", "A frame a simulated chip put on the air, with what the chip was tuned to.", [](auto& c) {
        c.no_borrow();  // never changes after it is made
        c.prop("tuning", "What the chip was tuned to when the frame went out.",
               [](const LoraSentFrameValue& f) { return Ref::borrow(f.tuning.get()); });
        c.prop("payload", "The frame's payload.", [](const LoraSentFrameValue& f) { return f.payload; });
    }};

Class<SimulatedChipValue> simulated_chip_class{
    "SimulatedLoraChip",
    "A simulated LoRa chip that a `LoraRadio` drives with no radio attached.\n\n"
    "The program says what arrives on the air with `hear` and reads back what\n"
    "the chip was tuned to and what it sent with `tuning` and `sent`. Nothing\n"
    "is timed: a transmission is done as soon as it starts, and a reception\n"
    "with a timeout ends at once when nothing is waiting.",
    [](auto& c) {
        c.no_borrow();  // the chip guards its state with its own mutex
        c.def_static("sx126x", "A simulated SX1261, SX1262, SX1268, or LLCC68, out of reset.",
                     {"amplifier", kw_only, arg("tcxo_volts").none(), arg("tcxo_settle_us").none(),
                      arg("dio2_rf_switch").def(false), arg("dc_dc").def(false), arg("llcc68").def(false)},
                     [](std::string_view amplifier, std::optional<double> tcxo_volts,
                        std::optional<std::uint32_t> tcxo_settle_us, bool dio2_rf_switch, bool dc_dc, bool llcc68) {
                         const auto board =
                             sx126x_board(amplifier, tcxo_volts, tcxo_settle_us, dio2_rf_switch, dc_dc, llcc68);
                         return make(SimulatedChipValue{Chip::sx126x(board)});
                     });
        c.def_static("sx127x", "A simulated SX1276, SX1277, SX1278, or SX1279, out of reset.",
                     {"output", kw_only, arg("tcxo").def(false)}, [](std::string_view output, bool tcxo) {
                         const auto board = sx127x_board(output, tcxo);
                         return make(SimulatedChipValue{
                             Chip::sx127x(board.output == radios::sx127x::Output::PaBoost, board.tcxo)});
                     });
        c.def("radio",
              "A `LoraRadio` wired to the chip, reset as opening a module resets it.\n\n"
              "Every radio made from one chip drives that same chip; frames waiting on\n"
              "the air and the frames sent so far are kept across the reset.",
              [](const SimulatedChipValue& self) {
                  radios::Radio radio = self.chip.radio();
                  const auto started = without_gil([&] { return radio.start(); });
                  if (!started) raise_trovik(started.error().message());
                  return make_lora_radio(std::move(radio));
              });
        c.def("hear",
              "Puts a frame on the air for the chip to receive the next time it listens,\n"
              "heard at `rssi_dbm` and `snr_db`; a payload past 255 bytes is cut to 255.",
              {"payload", "rssi_dbm", "snr_db"},
              [](const SimulatedChipValue& self, ByteView payload, double rssi_dbm, double snr_db) {
                  const lora::Decibels rssi = level("rssi_dbm", rssi_dbm);
                  const lora::Decibels snr = level("snr_db", snr_db);
                  self.chip.hear(payload, rssi, snr);
              });
        c.def("hear_corrupt", "Puts a frame whose CRC fails on the air, which the chip reports and drops.",
              {"rssi_dbm", "snr_db"}, [](const SimulatedChipValue& self, double rssi_dbm, double snr_db) {
                  const lora::Decibels rssi = level("rssi_dbm", rssi_dbm);
                  const lora::Decibels snr = level("snr_db", snr_db);
                  self.chip.hear_corrupt(rssi, snr);
              });
        c.def("tuning", "What the chip is tuned to now.",
              [](const SimulatedChipValue& self) { return make(LoraTuningValue{self.chip.tuning()}); });
        c.def("sent", "Every frame the chip has sent since it was made, oldest first.",
              [](const SimulatedChipValue& self) {
                  std::vector<Ref> frames;
                  for (radios::sim::Sent& sent : self.chip.sent()) {
                      Ref tuning(make(LoraTuningValue{sent.tuning}));
                      frames.emplace_back(make(LoraSentFrameValue{std::move(tuning), std::move(sent.payload)}));
                  }
                  return frames;
              });
        c.prop("family", "The family of the chip: `\"Sx126x\"` or `\"Sx127x\"`.",
               [](const SimulatedChipValue& self) { return std::string(radios::name(self.chip.family())); });
        c.prop("waiting", "How many frames wait on the air for the chip to receive.",
               [](const SimulatedChipValue& self) { return self.chip.waiting(); });
    }};

}  // namespace

}  // namespace radio

}  // namespace trovik::py
