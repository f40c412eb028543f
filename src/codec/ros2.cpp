// ROS 2 names, DDS topic and type names, type hashes, rmw_zenoh entity keys,
// and the CDR encoder and decoder with the twist as a worked message.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "binding/binding.hpp"
#include "binding/guarded.hpp"
#include "trovik/ros2/cdr.hpp"
#include "trovik/ros2/entity_key.hpp"
#include "trovik/ros2/name.hpp"
#include "trovik/ros2/twist.hpp"
#include "trovik/ros2/type_hash.hpp"

namespace trovik::py {

const BindingSource this_source{"ros2"};

namespace {

// One velocity of a twist as it crosses from Python: an (x, y, z) tuple.
struct Triple {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

}  // namespace

// A tuple (a list is refused, as the triple is a value rather than a
// collection) of exactly three numbers.
template <>
struct Caster<Triple> {
    Triple v;
    explicit Caster(PyObject* o) {
        if (!PyTuple_Check(o)) raise_not_instance(o, "tuple");
        const Py_ssize_t n = PyTuple_Size(o);
        if (n < 0) throw PendingError{};
        if (n != 3) raise_value_error("expected tuple of length 3, but got tuple of length " + std::to_string(n));
        v.x = to_double(PyTuple_GetItem(o, 0));
        v.y = to_double(PyTuple_GetItem(o, 1));
        v.z = to_double(PyTuple_GetItem(o, 2));
    }
    Triple get() const { return v; }
};

namespace {

using ros2::EntityKind;

// The writer and the reader are documented to refuse with `RuntimeError`
// once poisoned.
template <class T>
using Cell = Guarded<T, raise_runtime_error>;

// ---- names, kinds and types ---------------------------------------------------------

EntityKind kind_of(std::string_view name) {
    auto kind = ros2::entity_kind_from_name(name);
    if (!kind) raise_value_error(kind.error().message());
    return *kind;
}

const Function ros2_is_valid_name_fn{"ros2_is_valid_name",
                                     "Reports whether a string is a valid ROS 2 topic or service name.",
                                     {"name"},
                                     [](std::string_view name) { return ros2::is_valid_name(name); }};

const Function ros2_is_fully_qualified_fn{
    "ros2_is_fully_qualified",
    "Reports whether a name is fully qualified, so it resolves with no namespace.",
    {"name"},
    [](std::string_view name) { return ros2::is_fully_qualified(name); }};

const Function ros2_entity_kind_prefix_fn{
    "ros2_entity_kind_prefix", "Returns the DDS topic prefix a subsystem uses.", {"kind"}, [](std::string_view kind) {
        return ros2::dds_prefix(kind_of(kind));
    }};

const Function ros2_entity_kind_suffix_fn{
    "ros2_entity_kind_suffix",
    "Returns what the middleware appends to a name for a subsystem: nothing for a topic,\n`Request` for a service "
    "request, and `Reply` for a service response.",
    {"kind"},
    [](std::string_view kind) { return ros2::dds_suffix(kind_of(kind)); }};

const Function ros2_dds_topic_fn{
    "ros2_dds_topic",
    "Returns the DDS topic a fully qualified name maps onto, or `None` if the\nname is not fully qualified.",
    {"fqn", "kind"},
    [](std::string_view fqn, std::string_view kind) {
        // The kind is read first, so a bad kind raises whatever the name.
        const EntityKind k = kind_of(kind);
        return ros2::dds_topic(fqn, k);
    }};

const Function ros2_percent_mangle_fn{
    "ros2_percent_mangle",
    "Percent-mangles a name as `rmw_zenoh` writes it in a liveliness token, each `/` as `%`.",
    {"name"},
    [](std::string_view name) { return ros2::percent_mangle(name); }};

const Function ros2_dds_type_name_fn{
    "ros2_dds_type_name",
    "Returns the DDS type name an interface type maps onto, or `None` if the type\nis not a valid "
    "`package/namespace/Type`.",
    {"ros_type"},
    [](std::string_view ros_type) { return ros2::dds_type_name(ros_type); }};

const Function ros2_type_hash_digest_fn{
    "ros2_type_hash_digest",
    "Returns the 32-byte digest a RIHS01 hash string carries, or `None` if the\nstring is malformed.",
    {"text"},
    [](std::string_view text) -> std::optional<std::vector<std::uint8_t>> {
        const auto hash = ros2::TypeHash::parse(text);
        if (!hash) return std::nullopt;
        return std::vector<std::uint8_t>(hash->digest.begin(), hash->digest.end());
    }};

const Function ros2_entity_key_fn{
    "ros2_entity_key",
    "Builds the Zenoh key an `rmw_zenoh` peer publishes an entity on, or `None`\nif the name, type, or hash is not "
    "usable.",
    {"domain_id", "fqn", "ros_type", "type_hash"},
    [](std::uint32_t domain_id, std::string_view fqn, std::string_view ros_type,
       std::string_view type_hash) -> std::optional<std::string> {
        const auto hash = ros2::TypeHash::parse(type_hash);
        if (!hash) return std::nullopt;
        return ros2::entity_key(domain_id, fqn, ros_type, *hash);
    }};

// ---- the twist ----------------------------------------------------------------------

using PyTriple = std::tuple<double, double, double>;

PyTriple triple_of(const ros2::Vector3& v) { return {v.x, v.y, v.z}; }

const Function ros2_twist_to_cdr_fn{
    "ros2_twist_to_cdr",
    "Encodes a twist into its CDR representation.\n\nThe linear and angular velocities each cross as an `(x, y, z)` "
    "triple.",
    {"linear", "angular"},
    [](Triple linear, Triple angular) {
        const ros2::Twist twist{{linear.x, linear.y, linear.z}, {angular.x, angular.y, angular.z}};
        return twist.to_cdr();
    }};

const Function ros2_twist_from_cdr_fn{
    "ros2_twist_from_cdr",
    "Decodes a twist from its CDR representation, or `None` if the bytes are not\na well-formed twist.\n\nReturns "
    "the linear and angular velocities as two `(x, y, z)` triples.",
    {"data"},
    [](ByteView data) -> PyObject* {
        // Built by hand: an optional tuple has no conversion of its own.
        const auto twist = ros2::Twist::from_cdr(data);
        if (!twist) return none();
        return to_py(std::tuple{triple_of(twist->linear), triple_of(twist->angular)});
    }};

// ---- CdrWriter ----------------------------------------------------------------------

struct Writer {
    std::unique_ptr<Cell<ros2::CdrWriter>> state;
};

Class<Writer> writer_class{
    "CdrWriter", "A CDR encoder, which writes primitives with the alignment the wire format\nrequires.", [](auto& c) {
        c.init({}, "Creates an encoder with the encapsulation header already written.",
               [] { return Writer{std::make_unique<Cell<ros2::CdrWriter>>("this writer is poisoned")}; });
        c.def("write_i32", "Appends a 32-bit signed integer.", {"value"}, [](const Writer& self, std::int32_t value) {
            self.state->with([&](ros2::CdrWriter& w) { w.write_i32(value); });
        });
        c.def("write_u32", "Appends a 32-bit unsigned integer.", {"value"},
              [](const Writer& self, std::uint32_t value) {
                  self.state->with([&](ros2::CdrWriter& w) { w.write_u32(value); });
              });
        // The float arrives as a double and is narrowed here, to infinity when
        // it lies beyond single precision.
        c.def("write_f32", "Appends a 32-bit float.", {"value"}, [](const Writer& self, float value) {
            self.state->with([&](ros2::CdrWriter& w) { w.write_f32(value); });
        });
        c.def("write_f64", "Appends a 64-bit float.", {"value"}, [](const Writer& self, double value) {
            self.state->with([&](ros2::CdrWriter& w) { w.write_f64(value); });
        });
        c.prop("bytes", "The bytes written so far.",
               [](const Writer& self) { return self.state->with([](ros2::CdrWriter& w) { return w.bytes(); }); });
    }};

// ---- CdrReader ----------------------------------------------------------------------

// The encoded bytes, header included, and a reader positioned after the reads
// that succeeded. A read works on a copy of the reader and keeps it only on
// success, so a failed read consumes nothing, not even its alignment padding,
// and every read costs the same however many came before it.
class Cursor {
public:
    explicit Cursor(std::vector<std::uint8_t> data) : data_(std::move(data)), reader_(*ros2::CdrReader::open(data_)) {}
    // The reader borrows `data_`, so the cursor stays where it was built.
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    template <class Read>
    auto read(Read read_one) {
        ros2::CdrReader attempt = reader_;
        auto value = read_one(attempt);
        if (value) reader_ = attempt;
        return value;
    }

private:
    std::vector<std::uint8_t> data_;
    ros2::CdrReader reader_;
};

struct Reader {
    std::unique_ptr<Cell<Cursor>> state;
};

Class<Reader> reader_class{
    "CdrReader",
    "A CDR decoder, which reads primitives back in the order they were written.\n\nReading past the end returns "
    "`None` rather than raising, because a short\nbuffer is a wire condition rather than a programming error.",
    [](auto& c) {
        c.init({"data"},
               "Creates a decoder over encoded bytes.\n\nRaises `ValueError` if the bytes carry no valid CDR "
               "encapsulation header.",
               [](ByteVec data) {
                   if (!ros2::CdrReader::open(data))
                       raise_value_error("the bytes carry no valid CDR encapsulation header");
                   return Reader{std::make_unique<Cell<Cursor>>("this reader is poisoned", std::move(data))};
               });
        c.def("read_i32", "Reads the next 32-bit signed integer, or `None` once exhausted.", [](const Reader& self) {
            return self.state->with([](Cursor& c) { return c.read([](ros2::CdrReader& r) { return r.read_i32(); }); });
        });
        c.def("read_u32", "Reads the next 32-bit unsigned integer, or `None` once exhausted.", [](const Reader& self) {
            return self.state->with([](Cursor& c) { return c.read([](ros2::CdrReader& r) { return r.read_u32(); }); });
        });
        c.def("read_f32", "Reads the next 32-bit float, or `None` once exhausted.", [](const Reader& self) {
            return self.state->with([](Cursor& c) { return c.read([](ros2::CdrReader& r) { return r.read_f32(); }); });
        });
        c.def("read_f64", "Reads the next 64-bit float, or `None` once exhausted.", [](const Reader& self) {
            return self.state->with([](Cursor& c) { return c.read([](ros2::CdrReader& r) { return r.read_f64(); }); });
        });
    }};

}  // namespace
}  // namespace trovik::py
