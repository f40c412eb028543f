// COBS and SLIP framing of serial traffic: encoders, one-shot decoders, and the
// streaming decoders that reassemble frames from the chunks a port delivers.
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <tuple>

#include "binding/binding.hpp"
#include "trovik/serial/cobs.hpp"
#include "trovik/serial/slip.hpp"

namespace trovik::py {

const BindingSource this_source{"serial"};

namespace {

namespace cobs = serial::cobs;
namespace slip = serial::slip;
using serial::FramingError;

// Room for one output of at most `n` bytes: on the stack for the frames a
// serial line carries, on the heap beyond.
class Scratch {
public:
    explicit Scratch(std::size_t n) {
        if (n > local_.size()) heap_ = std::make_unique_for_overwrite<std::uint8_t[]>(n);
        span_ = {heap_ ? heap_.get() : local_.data(), n};
    }
    std::span<std::uint8_t> span() const { return span_; }

private:
    std::array<std::uint8_t, 4096> local_;
    std::unique_ptr<std::uint8_t[]> heap_;
    std::span<std::uint8_t> span_;
};

// Runs a codec into a buffer of `room` bytes and returns its output as bytes.
template <class Codec>
PyObject* coded(Codec codec, ByteView input, std::size_t room) {
    Scratch out(room);
    const std::expected<std::size_t, FramingError> n = codec(input, out.span());
    if (!n) raise_trovik(n.error().message());
    return to_py(out.span().first(*n));
}

const Function slip_encode_fn{
    "slip_encode", "Frames a payload as a SLIP packet (RFC 1055).", {"payload"}, [](ByteView payload) {
        return coded(slip::encode, payload, slip::max_encoded_len(payload.size()));
    }};

const Function slip_decode_fn{
    "slip_decode", "Reads the payload back out of a SLIP frame.", {"frame"}, [](ByteView frame) {
        return coded(slip::decode, frame, frame.size());
    }};

const Function cobs_encode_fn{
    "cobs_encode",
    "Frames a payload as a COBS packet, terminated by its zero delimiter.",
    {"payload"},
    [](ByteView payload) { return coded(cobs::encode, payload, cobs::max_encoded_len(payload.size())); }};

const Function cobs_decode_fn{
    "cobs_decode", "Reads the payload back out of a COBS frame.", {"frame"}, [](ByteView frame) {
        return coded(cobs::decode, frame, frame.size());
    }};

const Function serial_framing_bytes_fn{
    "serial_framing_bytes",
    "Returns the reserved framing bytes: SLIP end, escape, the two escape codes, and\nthe COBS delimiter.",
    {},
    [] { return std::make_tuple(slip::kEnd, slip::kEsc, slip::kEscEnd, slip::kEscEsc, cobs::kDelimiter); }};

const Function slip_max_encoded_len_fn{
    "slip_max_encoded_len",
    "Returns the largest SLIP frame a payload of this length can produce.",
    {"payload_len"},
    [](std::uint64_t payload_len) { return to_py(2 * static_cast<unsigned __int128>(payload_len) + 1); }};

const Function cobs_max_encoded_len_fn{
    "cobs_max_encoded_len",
    "Returns the largest COBS frame a payload of this length can produce.",
    {"payload_len"},
    [](std::uint64_t payload_len) {
        return to_py(static_cast<unsigned __int128>(payload_len) + payload_len / 254 + 2);
    }};

// A streaming decoder and the count of errors it met.
template <class Decoder>
struct Stream {
    Decoder decoder;
    std::uint64_t discarded = 0;
};
using SlipStream = Stream<slip::StreamDecoder>;
using CobsStream = Stream<cobs::StreamDecoder>;

template <class State>
void decoder_members(Class<State>& c) {
    c.init({}, [] { return State{}; });
    c.def("feed", "Feeds a chunk of the stream and returns every frame it completed.", {"chunk"},
          [](State& self, ByteView chunk) -> PyObject* {
              Ref frames(check(PyList_New(0)));
              self.decoder.feed(
                  chunk,
                  [&](std::span<const std::uint8_t> frame) {
                      Ref bytes(to_py(frame));
                      if (PyList_Append(frames.get(), bytes.get()) < 0) throw PendingError{};
                  },
                  [&](FramingError) { ++self.discarded; });
              return frames.release();
          });
    c.def("reset", "Discards any partly assembled frame.", [](State& self) { self.decoder.reset(); });
    c.prop("discarded", "How many corrupt frames this decoder has discarded.",
           [](const State& self) { return self.discarded; });
}

Class<SlipStream> slip_decoder_class{"SlipDecoder",
                                     "Reassembles whole SLIP frames from the chunks a serial port delivers.",
                                     [](auto& c) { decoder_members(c); }};

Class<CobsStream> cobs_decoder_class{"CobsDecoder",
                                     "Reassembles whole COBS frames from the chunks a serial port delivers.",
                                     [](auto& c) { decoder_members(c); }};

}  // namespace
}  // namespace trovik::py
