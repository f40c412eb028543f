// CDR read back: the input's last bytes choose a sequence of reads, the rest
// is the CDR. Whatever reads before the first failure writes back to the same
// values at the same offsets, and a twist reads and writes back unchanged.
// libFuzzer options: -max_len=512
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "support.hpp"
#include "trovik/ros2/cdr.hpp"
#include "trovik/ros2/twist.hpp"

using namespace trovik::ros2;

namespace {

enum class Read : std::uint8_t { I32, U32, F32, F64 };

struct Value {
    Read read;
    std::uint64_t bits;  // floats by their bits, so NaNs compare
    std::size_t end;     // the position after the read
};

std::optional<Value> read_one(CdrReader& reader, Read read) {
    std::optional<std::uint64_t> bits;
    switch (read) {
        case Read::I32:
            if (const auto v = reader.read_i32()) bits = static_cast<std::uint32_t>(*v);
            break;
        case Read::U32:
            if (const auto v = reader.read_u32()) bits = *v;
            break;
        case Read::F32:
            if (const auto v = reader.read_f32()) bits = std::bit_cast<std::uint32_t>(*v);
            break;
        case Read::F64:
            if (const auto v = reader.read_f64()) bits = std::bit_cast<std::uint64_t>(*v);
            break;
    }
    if (!bits) return std::nullopt;
    return Value{read, *bits, reader.position()};
}

void write_one(CdrWriter& writer, const Value& value) {
    switch (value.read) {
        case Read::I32: writer.write_i32(static_cast<std::int32_t>(static_cast<std::uint32_t>(value.bits))); break;
        case Read::U32: writer.write_u32(static_cast<std::uint32_t>(value.bits)); break;
        case Read::F32: writer.write_f32(std::bit_cast<float>(static_cast<std::uint32_t>(value.bits))); break;
        case Read::F64: writer.write_f64(std::bit_cast<double>(value.bits)); break;
    }
}

std::size_t width(Read read) { return read == Read::F64 ? 8 : 4; }

void check_twist(std::span<const std::uint8_t> bytes) {
    const auto twist = Twist::from_cdr(bytes);
    FUZZ_CHECK(twist.has_value() == (bytes.size() >= 52 && bytes[0] == 0x00 && bytes[1] == 0x01));
    if (!twist) return;
    const auto written = twist->to_cdr();
    FUZZ_CHECK(written.size() == 52);
    FUZZ_CHECK(written[0] == 0x00 && written[1] == 0x01 && written[2] == 0x00 && written[3] == 0x00);
    FUZZ_CHECK(std::ranges::equal(std::span(written).subspan(4), bytes.subspan(4, 48)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check_twist({data, size});

    FuzzedDataProvider provider(data, size);
    std::vector<Read> reads(provider.ConsumeIntegralInRange<std::size_t>(0, 32));
    for (auto& read : reads)
        read = provider.PickValueInArray({Read::I32, Read::U32, Read::F32, Read::F64});
    const std::vector<std::uint8_t> bytes = provider.ConsumeRemainingBytes<std::uint8_t>();

    auto reader = CdrReader::open(bytes);
    FUZZ_CHECK(reader.has_value() == (bytes.size() >= 4 && bytes[0] == 0x00 && bytes[1] == 0x01));
    if (!reader) return 0;
    std::vector<Value> values;
    bool failed = false;
    for (const Read read : reads) {
        const std::size_t before = reader->position();
        const auto value = read_one(*reader, read);
        const std::size_t aligned = (before + width(read) - 1) / width(read) * width(read);
        if (value) {
            FUZZ_CHECK(value->end == aligned + width(read) && value->end <= bytes.size() - 4);
            if (!failed) values.push_back(*value);
        } else {
            // The aligned position is kept even when the value does not fit.
            FUZZ_CHECK(reader->position() == aligned && aligned + width(read) > bytes.size() - 4);
            failed = true;
        }
    }

    CdrWriter writer;
    for (const Value& value : values) {
        write_one(writer, value);
        FUZZ_CHECK(writer.bytes().size() == 4 + value.end);
        const std::size_t w = width(value.read);
        FUZZ_CHECK(
            std::ranges::equal(std::span(writer.bytes()).last(w), std::span(bytes).subspan(4 + value.end - w, w)));
    }
    auto again = CdrReader::open(writer.bytes());
    FUZZ_CHECK(again.has_value());
    for (const Value& value : values) {
        const auto reread = read_one(*again, value.read);
        FUZZ_CHECK(reread.has_value() && reread->bits == value.bits && reread->end == value.end);
    }
    FUZZ_CHECK(!read_one(*again, Read::I32).has_value());
    return 0;
}
