// The signed documents of the updater: manifest and delegation bodies and
// envelopes. Whatever is accepted is the one encoding of what it says, so it
// must write back to the very same bytes, and the general CBOR reader must
// read the same numbers and strings out of it.
// libFuzzer options: -max_len=512
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "support.hpp"
#include "trovik/codec/cbor.hpp"
#include "trovik/update/cbor.hpp"
#include "trovik/update/manifest.hpp"
#include "trovik/update/trust.hpp"

using namespace trovik;

namespace {

using Input = std::span<const std::uint8_t>;

// The general reader's view of a map of unsigned keys 1..n in order.
std::vector<codec::cbor::Item> general_values(Input input, std::size_t pairs) {
    auto item = codec::cbor::read(input);
    FUZZ_CHECK(item.has_value());
    auto* map = std::get_if<codec::cbor::Map>(&item->data);
    FUZZ_CHECK(map != nullptr && map->size() == pairs);
    std::vector<codec::cbor::Item> values;
    for (std::size_t i = 0; i < pairs; ++i) {
        const auto* key = std::get_if<std::uint64_t>(&(*map)[i].key.data);
        FUZZ_CHECK(key != nullptr && *key == i + 1);
        values.push_back(std::move((*map)[i].value));
    }
    return values;
}

std::uint64_t number(const codec::cbor::Item& item) {
    const auto* n = std::get_if<std::uint64_t>(&item.data);
    FUZZ_CHECK(n != nullptr);
    return *n;
}

bool same_bytes(const codec::cbor::Item& item, std::span<const std::uint8_t> expected) {
    const auto* b = std::get_if<core::Bytes>(&item.data);
    return b != nullptr && std::ranges::equal(*b, expected);
}

void manifest(Input input) {
    const auto m = update::Manifest::decode(input);
    if (!m) {
        FUZZ_CHECK(m.error() == update::UpdateError::Malformed || m.error() == update::UpdateError::UnsupportedVersion);
        return;
    }
    std::array<std::uint8_t, update::manifest_area> out;
    const auto n = m->encode(out);
    FUZZ_CHECK(n.has_value() && std::ranges::equal(std::span(out).first(*n), input));
    const auto values = general_values(input, 9);
    FUZZ_CHECK(number(values[0]) == 1 && number(values[1]) == m->sequence);
    FUZZ_CHECK(same_bytes(values[2], m->vendor_id) && same_bytes(values[3], m->class_id));
    FUZZ_CHECK(number(values[4]) == 1 && number(values[5]) == m->storage);
    FUZZ_CHECK(same_bytes(values[6], m->digest));
    FUZZ_CHECK(number(values[7]) == m->size && number(values[8]) == m->expires);
}

void delegation(Input input) {
    const auto d = update::Delegation::decode(input);
    if (!d) {
        FUZZ_CHECK(d.error() == update::UpdateError::Malformed);
        return;
    }
    std::array<std::uint8_t, update::delegation_area> out;
    const auto n = d->encode(out);
    FUZZ_CHECK(n.has_value() && std::ranges::equal(std::span(out).first(*n), input));
    const auto values = general_values(input, 3);
    FUZZ_CHECK(number(values[0]) == d->epoch && same_bytes(values[1], d->release_key));
    FUZZ_CHECK(number(values[2]) == d->expires);
}

void envelope(Input input) {
    const auto e = update::Envelope::decode(input);
    if (!e) {
        FUZZ_CHECK(e.error() == update::UpdateError::Malformed);
        return;
    }
    // Rebuilt from its parts, it is the same envelope.
    std::vector<std::uint8_t> out(input.size());
    update::cbor::Writer w(out);
    FUZZ_CHECK(w.head(update::cbor::major_map, 2) && w.head(update::cbor::major_unsigned, 1) && w.bytes(e->body) &&
               w.head(update::cbor::major_unsigned, 2) && w.bytes(e->signature));
    FUZZ_CHECK(w.length() == input.size() && out == std::vector<std::uint8_t>(input.begin(), input.end()));
    const auto values = general_values(input, 2);
    FUZZ_CHECK(same_bytes(values[0], e->body) && same_bytes(values[1], e->signature));
    // Its body goes through the other readers too.
    manifest(e->body);
    delegation(e->body);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Input input(data, size);
    manifest(input);
    delegation(input);
    envelope(input);
    return 0;
}
