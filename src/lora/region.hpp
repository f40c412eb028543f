#pragma once
// The Python faces of LoRa link settings and channel plans that other binding
// sources share: the C++ values the Python objects hold, and the functions
// that make such objects.
//
// Each Python class holds one of the small structs below (a struct of its own
// per class, so that a bound C++ type names exactly one Python class). Take
// one as an argument with `In<LoraChannelBlockValue>` and so on; the record
// inside is already the plan's own record, so handing it to the core needs no
// further conversion and cannot fail.
#include <cstdint>
#include <string_view>

#include "binding/convert.hpp"
#include "trovik/lora/channel_plan.hpp"
#include "trovik/lora/link.hpp"
#include "trovik/lora/link_budget.hpp"
#include "trovik/lora/owned_channel_plan.hpp"

namespace trovik::py {

// ---- LoraLink ----------------------------------------------------------------

// What a Python `LoraLink` holds: the six values of one link, kept exactly as
// given (no clamping beyond what `LinkSettings` itself did).
struct LoraLinkValue {
    lora::LinkSettings settings;
};

// A new Python `LoraLink` holding `settings` unchanged.
PyObject* make_lora_link(const lora::LinkSettings& settings);

// What a Python `LinkBudget` holds; it never changes after construction.
struct LinkBudgetValue {
    lora::LinkBudget budget;
};

// ---- ChannelPlan -------------------------------------------------------------

// What a Python `ChannelPlan` holds: its own copy of the plan, and for a
// published plan the constant it was copied from, which alone can answer the
// join-plan questions (an owned copy has no join plans).
struct ChannelPlanValue {
    lora::OwnedChannelPlan plan;
    const lora::ChannelPlan* published = nullptr;  // null for a built plan
};

// A new Python `ChannelPlan` holding a privately built plan (no published
// plan behind it, so no join plans).
PyObject* make_channel_plan(lora::OwnedChannelPlan plan);

// A new Python `ChannelPlan` holding a copy of a published constant (one of
// `lora::plans::*`) and a reference to it.
PyObject* make_published_channel_plan(const lora::ChannelPlan& published);

// ---- value classes a plan hands out and a builder takes back ------------------

// `LoraDataRate`: one table slot; nothing for kind "reserved". The four static
// methods make every object, so each one converts back to its slot as is.
struct LoraDataRateValue {
    lora::DataRateEntry entry;
};
struct LoraMaxPayloadValue {
    lora::MaxPayload value;
};
struct LoraChannelBlockValue {
    lora::ChannelBlock value;
};
struct LoraSubBandValue {
    lora::SubBand value;
};
struct LoraRelayChannelValue {
    lora::RelayChannel value;
};
struct LoraBeaconValue {
    lora::Beacon value;
};
// `LoraMaskControl`: the variant and only the data of its kind, as
// `lora::MaskControl`'s static makers leave it.
struct LoraMaskControlValue {
    lora::MaskControl value;
};

// ---- text choices ---------------------------------------------------------------
// Three arguments are spelled as text: lower-cased (ASCII only) and compared
// exactly. A refusal raises ValueError quoting the lower-cased text, e.g.
// "sideways is not a direction; expected uplink or downlink". Declare a
// parameter of type `lora::Direction`, `lora::PayloadTable` or
// `lora::ChannelSet` and the text is converted with the other arguments, in
// argument order (a `str` is required; anything else is a TypeError).
lora::Direction direction_arg(std::string_view text);
lora::PayloadTable payload_table_arg(std::string_view text);
lora::ChannelSet channel_set_arg(std::string_view text);

template <>
struct Caster<lora::Direction> {
    lora::Direction v;
    explicit Caster(PyObject* o) : v(direction_arg(to_text(o))) {}
    lora::Direction get() const { return v; }
};
template <>
struct Caster<lora::PayloadTable> {
    lora::PayloadTable v;
    explicit Caster(PyObject* o) : v(payload_table_arg(to_text(o))) {}
    lora::PayloadTable get() const { return v; }
};
template <>
struct Caster<lora::ChannelSet> {
    lora::ChannelSet v;
    explicit Caster(PyObject* o) : v(channel_set_arg(to_text(o))) {}
    lora::ChannelSet get() const { return v; }
};

}  // namespace trovik::py
