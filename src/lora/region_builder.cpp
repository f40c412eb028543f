// The channel plan builder: private plans assembled from Python and handed
// over as `ChannelPlan` objects answering through the same code as the
// published ones.
#include <cstdint>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/binding.hpp"
#include "lora/region.hpp"
#include "trovik/lora/builder.hpp"

namespace trovik::py {

const BindingSource this_source{"lora_region"};

namespace {

using lora::ChannelPlanBuilder;

// The builder behind the object's own mutex: present while building, taken
// by `build` (successful or not), and never touched again once a call failed
// internally half-way through an operation.
struct BuilderState {
    std::mutex mutex;
    std::optional<ChannelPlanBuilder> builder;
    bool poisoned = false;
};

struct PlanBuilderValue {
    std::unique_ptr<BuilderState> state;
};

// The eight mask controls of `mask_controls`, copied out of their Python
// objects as the sequence is read (a sequence may hand out fresh objects).
struct MaskControlList {
    std::vector<lora::MaskControl> items;
};

}  // namespace

template <>
struct Caster<MaskControlList> {
    MaskControlList v;
    explicit Caster(PyObject* o) {
        const Py_ssize_t n = sequence_length(o);
        v.items.reserve(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            Ref item(check(PySequence_GetItem(o, i)));
            v.items.push_back(Class<LoraMaskControlValue>::value_of(item.get()).value);
        }
    }
    MaskControlList get() && { return std::move(v); }
};

namespace {

template <class T, class E>
T or_value_error(std::expected<T, E>&& result) {
    if (!result) raise_value_error(result.error().message());
    return std::move(*result);
}

// Locks the builder and runs `op` on the slot holding it, or refuses once
// the builder is gone. Arguments are converted and checked before this, so a
// refused or failed argument never changes anything.
template <class Op>
void with_slot(const PlanBuilderValue& self, Op&& op) {
    const char* refusal = nullptr;
    {
        BuilderState& state = *self.state;
        std::lock_guard lock(state.mutex);
        if (state.poisoned) {
            refusal = "the builder is poisoned";
        } else if (!state.builder) {
            refusal = "this builder has already been built";
        } else {
            try {
                op(state.builder);
            } catch (...) {
                // Whatever the operation left behind is not to be trusted.
                state.poisoned = true;
                throw;
            }
        }
    }
    if (refusal) raise_value_error(refusal);
}

template <class Op>
void apply(const PlanBuilderValue& self, Op&& op) {
    with_slot(self, [&](std::optional<ChannelPlanBuilder>& slot) { op(*slot); });
}

Class<PlanBuilderValue> channel_plan_builder_class{
    "ChannelPlanBuilder",
    "A channel plan under construction.\n\n"
    "Tables are indexed by position: entries are added in data-rate order, and\n"
    "a data-rate number the plan does not use is added as a reserved data rate.\n"
    "`build` fills in what a region would share between directions, then checks\n"
    "that the plan cannot answer a question wrongly, and either hands over the\n"
    "plan or raises `TrovikError`.",
    [](auto& c) {
        c.no_borrow();  // the builder sits behind a mutex of its own
        c.init({"name"}, [](std::string name) {
            auto state = std::make_unique<BuilderState>();
            state->builder.emplace(std::move(name));
            return PlanBuilderValue{std::move(state)};
        });
        c.def("data_rate",
              "Adds the next data rate in a direction.\n\n"
              "Data rates are numbered in the order they are added; add\n"
              "`LoraDataRate.reserved()` for a number the plan does not use. A plan\n"
              "that adds no downlink rate uses its uplink rates in both directions.",
              {"rate", arg("direction").def("uplink")},
              [](const PlanBuilderValue& self, In<LoraDataRateValue> rate, lora::Direction direction) {
                  const lora::DataRateEntry entry = rate->entry;
                  apply(self, [&](ChannelPlanBuilder& b) {
                      if (direction == lora::Direction::Uplink)
                          b.uplink_data_rate(entry);
                      else
                          b.downlink_data_rate(entry);
                  });
              });
        c.def(
            "max_payload",
            "Adds the next entry of one payload table.\n\n"
            "Entries are numbered like the data rates of the table's direction;\n"
            "`None` means the plan publishes no limit for that data rate. A downlink\n"
            "table left empty takes the entries of its uplink counterpart.",
            {arg("payload").none(), arg("table").def("uplink_direct")},
            [](const PlanBuilderValue& self, std::optional<In<LoraMaxPayloadValue>> payload, lora::PayloadTable table) {
                lora::MaxPayloadEntry entry;
                if (payload) entry = (*payload)->value;
                apply(self, [&](ChannelPlanBuilder& b) { b.max_payload(table, entry); });
            });
        c.def("channel_block",
              "Adds a run of evenly spaced channels to the `join`, `default`, or\n"
              "`downlink` set.\n\n"
              "The channels of a set are numbered consecutively across its blocks, in\n"
              "the order the blocks are added.",
              {"block", arg("which").def("default")},
              [](const PlanBuilderValue& self, In<LoraChannelBlockValue> block, lora::ChannelSet which) {
                  const lora::ChannelBlock value = block->value;
                  apply(self, [&](ChannelPlanBuilder& b) { b.channel_block(which, value); });
              });
        c.def("kind",
              "Sets whether the network creates channels (`dynamic`) or only switches\n"
              "numbered ones (`fixed`), and for a dynamic plan the numbering a type 1\n"
              "channel list is read against, `mhz800` or `mhz900`.",
              {"kind", arg("channel_list").none()},
              [](const PlanBuilderValue& self, std::string_view kind, std::optional<std::string_view> channel_list) {
                  const lora::PlanKind value = or_value_error(lora::parse_plan_kind(kind, channel_list));
                  apply(self, [&](ChannelPlanBuilder& b) { b.settings.kind = value; });
              });
        c.def("tx_param_setup", "Sets whether devices on the plan answer `TXParamSetupReq`.", {"answered"},
              [](const PlanBuilderValue& self, bool answered) {
                  apply(self, [&](ChannelPlanBuilder& b) { b.settings.tx_param_setup = answered; });
              });
        c.def("mask_controls", "Sets what each `ChMaskCntl` value does, all eight in value order.", {"controls"},
              [](const PlanBuilderValue& self, MaskControlList controls) {
                  const auto eight = or_value_error(lora::eight_mask_controls(controls.items));
                  apply(self, [&](ChannelPlanBuilder& b) { b.settings.mask_controls = eight; });
              });
        c.def("join_sequence", "Sets the order a device tries the join channels in, `random` or `octet_passes`.",
              {"sequence"}, [](const PlanBuilderValue& self, std::string_view sequence) {
                  const lora::JoinSequence value = or_value_error(lora::parse_join_sequence(sequence));
                  apply(self, [&](ChannelPlanBuilder& b) { b.settings.join_sequence = value; });
              });
        c.def("power_reference",
              "Sets what the transmit power indexes count down from, `eirp` or\n"
              "`conducted`, and for a conducted ceiling the antenna gain it allows for.",
              {"reference", arg("gain_allowance_db").def(0)},
              [](const PlanBuilderValue& self, std::string_view reference, std::uint8_t gain_allowance_db) {
                  const lora::PowerReference value =
                      or_value_error(lora::parse_power_reference(reference, gain_allowance_db));
                  apply(self, [&](ChannelPlanBuilder& b) { b.settings.power_reference = value; });
              });
        c.def("sub_band",
              "Adds a sub-band and the transmit limits inside it.\n\n"
              "Sub-bands are searched in the order they are added, and the first that\n"
              "holds a frequency applies. A sub-band on licensed spectrum takes a duty\n"
              "cycle of `1000`, which reports as unrestricted.",
              {"band"}, [](const PlanBuilderValue& self, In<LoraSubBandValue> band) {
                  const lora::SubBand value = band->value;
                  apply(self, [&](ChannelPlanBuilder& b) { b.sub_band(value); });
              });
        c.def("relay_channel",
              "Adds the next default relay channel, whose position is the index a relay\n"
              "configuration names.\n\n"
              "Its data rate must be a LoRa rate of the plan's downlink data rates.",
              {"channel"}, [](const PlanBuilderValue& self, In<LoraRelayChannelValue> channel) {
                  const lora::RelayChannel value = channel->value;
                  apply(self, [&](ChannelPlanBuilder& b) { b.relay_channel(value); });
              });
        c.def("rx1_row",
              "Adds the RX1 downlink data rates for the next uplink data rate.\n\n"
              "The row holds the downlink data rate of each RX1 offset, from 0 up to the\n"
              "highest offset `rx` allows, and a plan needs one row per uplink data\n"
              "rate. With `dwell_limited` the row goes to the mapping used under the\n"
              "dwell-time limit instead.",
              {"offsets", arg("dwell_limited").def(false)},
              [](const PlanBuilderValue& self, ByteVec offsets, bool dwell_limited) {
                  apply(self, [&](ChannelPlanBuilder& b) {
                      if (dwell_limited)
                          b.rx1_row_dwell_limited(offsets);
                      else
                          b.rx1_row(offsets);
                  });
              });
        c.def("backoff",
              "Adds the next entry of the adaptive back-off chain.\n\n"
              "Entries are numbered like the uplink data rates; `None` marks the slowest\n"
              "rate. A plan that adds no entry steps each rate down by one.",
              {arg("lower").none()}, [](const PlanBuilderValue& self, std::optional<std::uint8_t> lower) {
                  apply(self, [&](ChannelPlanBuilder& b) { b.backoff(lower); });
              });
        c.def("power",
              "Sets the transmit-power ladder.\n\n"
              "Transmit-power index i selects i times `step_db` below the ceiling, up to\n"
              "index `max_index`.",
              {"default_max_eirp_dbm", arg("step_db").def(2), arg("max_index").def(7)},
              [](const PlanBuilderValue& self, std::int8_t default_max_eirp_dbm, std::uint8_t step_db,
                 std::uint8_t max_index) {
                  apply(self, [&](ChannelPlanBuilder& b) {
                      b.settings.default_max_eirp_dbm = default_max_eirp_dbm;
                      b.settings.tx_power_step_db = step_db;
                      b.settings.max_tx_power_index = max_index;
                  });
              });
        c.def("rx",
              "Sets the receive windows.\n\n"
              "RX2 listens at `rx2_data_rate` of the downlink data rates, which `build`\n"
              "requires the plan to define. `max_rx1_offset` is the highest RX1 offset\n"
              "the plan allows, so every RX1 row needs one entry more than it.",
              {"rx2_frequency_hz", arg("rx2_data_rate").def(0), arg("max_rx1_offset").def(0)},
              [](const PlanBuilderValue& self, std::uint32_t rx2_frequency_hz, std::uint8_t rx2_data_rate,
                 std::uint8_t max_rx1_offset) {
                  apply(self, [&](ChannelPlanBuilder& b) {
                      b.settings.rx2_frequency_hz = rx2_frequency_hz;
                      b.settings.rx2_data_rate = rx2_data_rate;
                      b.settings.max_rx1_data_rate_offset = max_rx1_offset;
                  });
              });
        c.def("beacon", "Sets the Class B beacon and whether the plan limits dwell time.",
              {"beacon", arg("has_dwell_time_limit").def(false)},
              [](const PlanBuilderValue& self, In<LoraBeaconValue> beacon, bool has_dwell_time_limit) {
                  const lora::Beacon value = beacon->value;
                  apply(self, [&](ChannelPlanBuilder& b) {
                      b.settings.beacon = value;
                      b.settings.has_dwell_time_limit = has_dwell_time_limit;
                  });
              });
        c.def("build",
              "Finishes the plan.\n\n"
              "A plan that adds no downlink data rates, downlink payload tables or\n"
              "back-off chain gets them from its uplink tables first. Then every table\n"
              "must cover the data rates it is numbered by, RX2 must listen at a defined\n"
              "downlink rate and every relay channel at a LoRa downlink rate; the first\n"
              "check that fails raises `TrovikError`. The builder is used up either\n"
              "way: every later call raises `ValueError`.",
              [](const PlanBuilderValue& self) -> PyObject* {
                  std::optional<std::expected<lora::OwnedChannelPlan, lora::PlanError>> built;
                  with_slot(self, [&](std::optional<ChannelPlanBuilder>& slot) {
                      // Taken out before the checks, so a failed build leaves
                      // the builder gone too.
                      ChannelPlanBuilder builder = std::move(*slot);
                      slot.reset();
                      built = std::move(builder).build();
                  });
                  if (!*built) raise_trovik(built->error().message());
                  return make_channel_plan(std::move(**built));
              });
    }};

}  // namespace
}  // namespace trovik::py
