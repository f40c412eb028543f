// Modbus RTU frames: the CRC, the request builders, the register replies a
// device sends, and received frames with their CRC checked.
#include <cstdint>
#include <optional>
#include <vector>

#include "binding/binding.hpp"
#include "trovik/modbus/adu.hpp"
#include "trovik/modbus/crc.hpp"
#include "trovik/modbus/pdu.hpp"
#include "trovik/modbus/response.hpp"

namespace trovik::py {

const BindingSource this_source{"modbus"};

namespace {

using modbus::Adu;
using modbus::Pdu;

// A received frame: its PDU copied out, the unit, the function byte as on the
// wire and the exception an exception reply names.
struct ReceivedFrame {
    std::vector<std::uint8_t> pdu;
    std::uint8_t address;
    std::uint8_t function_code;
    std::optional<std::uint8_t> exception;
};

ByteVec frame_bytes(const Adu& adu) { return {adu.as_bytes().begin(), adu.as_bytes().end()}; }
ByteVec frame_bytes(const Pdu& pdu, std::uint8_t address) { return frame_bytes(pdu.to_adu(address)); }

PyObject* bool_list(const modbus::Coils& bits) {
    Ref list(check(PyList_New(static_cast<Py_ssize_t>(bits.size()))));
    for (std::size_t k = 0; k < bits.size(); ++k)
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(k), check(to_py(bits[k])));
    return list.release();
}

Class<ReceivedFrame> frame_class{
    "ModbusFrame", "A received Modbus RTU frame whose CRC has been verified.", [](auto& c) {
        c.no_borrow();  // never changes
        c.prop("address", "The unit (slave) address the frame is addressed to or came from.",
               [](const ReceivedFrame& f) { return f.address; });
        c.prop("function_code",
               "The function code byte as on the wire: an exception reply shows the request's code with\nits high "
               "bit set.",
               [](const ReceivedFrame& f) { return f.function_code; });
        c.prop("exception", "The exception code of an exception reply, or `None`.",
               [](const ReceivedFrame& f) { return f.exception; });
        c.prop("pdu", "The function code and its data, without the address and the CRC.",
               [](const ReceivedFrame& f) { return f.pdu; });
        c.def("coils", "Reads `count` coils or discrete inputs out of a read-bits reply.", {"count"},
              [](const ReceivedFrame& f, std::uint16_t count) {
                  return bool_list(unwrap(modbus::response::coils(f.pdu, count)));
              });
        c.def("registers", "Reads the 16-bit registers out of a read-registers reply.",
              [](const ReceivedFrame& f) { return unwrap(modbus::response::registers(f.pdu)).to_vector(); });
    }};

const Function crc16_fn{
    "modbus_crc16", "Computes the CRC-16/MODBUS that every RTU frame ends with.", {"data"}, [](ByteView data) {
        return modbus::crc16(data);
    }};

const Function raw_fn{"modbus_raw",
                      "Builds a request frame from a raw function code and data.\n\nThis is the escape hatch for the "
                      "function codes the SDK does not name.",
                      {"address", "function_code", "data"},
                      [](std::uint8_t address, std::uint8_t function_code, ByteView data) {
                          return frame_bytes(unwrap(Pdu::raw(function_code, data)), address);
                      }};

const Function read_coils_fn{"modbus_read_coils",
                             "Builds a read-coils request frame (function `0x01`).",
                             {"address", "start", "count"},
                             [](std::uint8_t address, std::uint16_t start, std::uint16_t count) {
                                 return frame_bytes(Pdu::read_coils(start, count), address);
                             }};

const Function read_discrete_inputs_fn{"modbus_read_discrete_inputs",
                                       "Builds a read-discrete-inputs request frame (function `0x02`).",
                                       {"address", "start", "count"},
                                       [](std::uint8_t address, std::uint16_t start, std::uint16_t count) {
                                           return frame_bytes(Pdu::read_discrete_inputs(start, count), address);
                                       }};

const Function read_holding_registers_fn{"modbus_read_holding_registers",
                                         "Builds a read-holding-registers request frame (function `0x03`).",
                                         {"address", "start", "count"},
                                         [](std::uint8_t address, std::uint16_t start, std::uint16_t count) {
                                             return frame_bytes(Pdu::read_holding_registers(start, count), address);
                                         }};

const Function read_input_registers_fn{"modbus_read_input_registers",
                                       "Builds a read-input-registers request frame (function `0x04`).",
                                       {"address", "start", "count"},
                                       [](std::uint8_t address, std::uint16_t start, std::uint16_t count) {
                                           return frame_bytes(Pdu::read_input_registers(start, count), address);
                                       }};

const Function read_holding_registers_reply_fn{"modbus_read_holding_registers_reply",
                                               "Builds the reply a device sends to a read-holding-registers request.",
                                               {"address", "values"},
                                               [](std::uint8_t address, std::vector<std::uint16_t> values) {
                                                   return frame_bytes(unwrap(Pdu::read_holding_registers_reply(values)),
                                                                      address);
                                               }};

const Function read_input_registers_reply_fn{"modbus_read_input_registers_reply",
                                             "Builds the reply a device sends to a read-input-registers request.",
                                             {"address", "values"},
                                             [](std::uint8_t address, std::vector<std::uint16_t> values) {
                                                 return frame_bytes(unwrap(Pdu::read_input_registers_reply(values)),
                                                                    address);
                                             }};

const Function write_single_coil_fn{"modbus_write_single_coil",
                                    "Builds a write-single-coil request frame (function `0x05`).",
                                    {"address", "coil", "on"},
                                    [](std::uint8_t address, std::uint16_t coil, bool on) {
                                        return frame_bytes(Pdu::write_single_coil(coil, on), address);
                                    }};

const Function write_single_register_fn{"modbus_write_single_register",
                                        "Builds a write-single-register request frame (function `0x06`).",
                                        {"address", "register", "value"},
                                        [](std::uint8_t address, std::uint16_t reg, std::uint16_t value) {
                                            return frame_bytes(Pdu::write_single_register(reg, value), address);
                                        }};

const Function write_multiple_registers_fn{
    "modbus_write_multiple_registers",
    "Builds a write-multiple-registers request frame (function `0x10`).",
    {"address", "start", "values"},
    [](std::uint8_t address, std::uint16_t start, std::vector<std::uint16_t> values) {
        return frame_bytes(unwrap(Pdu::write_multiple_registers(start, values)), address);
    }};

const Function write_multiple_coils_fn{"modbus_write_multiple_coils",
                                       "Builds a write-multiple-coils request frame (function `0x0F`).",
                                       {"address", "start", "values"},
                                       [](std::uint8_t address, std::uint16_t start, std::vector<bool> values) {
                                           return frame_bytes(unwrap(Pdu::write_multiple_coils(start, values)),
                                                              address);
                                       }};

const Function parse_frame_fn{
    "modbus_parse_frame", "Parses a received RTU frame, verifying its CRC.", {"data"}, [](ByteView data) {
        const Adu adu = unwrap(Adu::parse(data));
        const auto pdu = adu.pdu();
        std::optional<std::uint8_t> exception;
        if (auto e = adu.exception()) exception = modbus::exception_code(*e);
        return make(ReceivedFrame{{pdu.begin(), pdu.end()}, adu.unit(), pdu[0], exception});
    }};

}  // namespace
}  // namespace trovik::py
