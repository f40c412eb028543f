// CBOR/JSON transcoding, delta-coded sample batches and the quantizer.
#include <cstdint>
#include <vector>

#include "binding/binding.hpp"
#include "trovik/codec/delta.hpp"
#include "trovik/codec/quantizer.hpp"
#include "trovik/codec/transcode.hpp"

namespace trovik::py {

const BindingSource this_source{"codec"};

namespace {

// Every failure of the core is the shared messaging error; `unwrap` raises it as
// TrovikError with its display text ("codec error: ...").
using codec::Quantizer;

Class<Quantizer> quantizer_class{
    "Quantizer",
    "Packs float readings to a fixed precision for a metered link.\n\n"
    "Creates a quantizer whose `scale` sets the precision kept.\n\n"
    "A scale of `100` keeps two decimal places. It must be positive and finite,\n"
    "and decoding must use the same scale the batch was encoded with.",
    [](auto& c) {
        c.no_borrow();  // holds its scale and never changes it
        c.init({"scale"}, [](double scale) {
            auto quantizer = Quantizer::from_double(scale);
            // A bad scale is the caller's value error, not a failure of the link.
            if (!quantizer) raise_value_error(quantizer.error().message);
            return *quantizer;
        });
        c.def("encode",
              "Quantizes and delta-encodes a batch of readings.\n\n"
              "A reading that is not a number, is infinite, or is too large for the scale is\n"
              "refused, since the format has no way to carry a missing reading.",
              {"readings"},
              // Each reading is narrowed to 32 bits on the way in: 1e300 arrives as inf and is refused.
              [](const Quantizer& self, std::vector<float> readings) { return unwrap(self.encode(readings)); });
        c.def("decode", "Decodes a batch back into readings, to within the quantizer's precision.", {"bytes"},
              [](const Quantizer& self, ByteView bytes) { return unwrap(self.decode(bytes)); });
    }};

const Function json_to_cbor_bytes_fn{"json_to_cbor_bytes",
                                     "Converts a JSON document into its CBOR encoding, which is typically smaller.",
                                     {"json"},
                                     [](ByteView json) { return unwrap(codec::json_to_cbor(json)); }};

const Function cbor_to_json_bytes_fn{
    "cbor_to_json_bytes", "Converts a CBOR document back into its JSON encoding.", {"cbor"}, [](ByteView cbor) {
        return unwrap(codec::cbor_to_json(cbor));
    }};

const Function encode_delta_samples_fn{"encode_delta_samples",
                                       "Delta-encodes a series of integer samples into a compact buffer.",
                                       {"samples"},
                                       [](std::vector<std::int64_t> samples) { return codec::encode_deltas(samples); }};

const Function decode_delta_samples_fn{"decode_delta_samples",
                                       "Decodes a delta-encoded buffer back into its integer samples.",
                                       {"bytes"},
                                       [](ByteView bytes) { return unwrap(codec::decode_deltas(bytes)); }};

}  // namespace
}  // namespace trovik::py
