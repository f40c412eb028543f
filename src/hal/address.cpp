// I2C address frames: the bytes a controller sends for an address.
#include <cstdint>

#include "binding/binding.hpp"
#include "trovik/hal/address.hpp"

namespace trovik::py {

const BindingSource this_source{"gpio"};

namespace {

namespace address = hal::address;

const Function i2c_address_frame_fn{"i2c_address_frame",
                                    "Returns the address bytes a controller puts on the bus for a transfer.",
                                    {"address", "ten_bit", "read"},
                                    [](std::uint16_t address, bool ten_bit, bool read) {
                                        address::Frame frame = unwrap(address::frame(address, ten_bit, read));
                                        return std::vector<std::uint8_t>(frame.view().begin(), frame.view().end());
                                    }};

const Function i2c_address_frame_len_fn{
    "i2c_address_frame_len",
    "Returns how many bytes an address frame occupies.",
    {"address", "ten_bit"},
    [](std::uint16_t address, bool ten_bit) { return unwrap(address::frame_len(address, ten_bit)); }};

const Function i2c_address_is_reserved_fn{
    "i2c_address_is_reserved",
    "Reports whether a 7-bit address falls in a range the I2C specification reserves.",
    {"address", "ten_bit"},
    [](std::uint16_t address, bool ten_bit) { return unwrap(address::is_reserved(address, ten_bit)); }};

const Function i2c_address_is_general_call_fn{
    "i2c_address_is_general_call",
    "Reports whether an address is the general call address `0x00`.",
    {"address", "ten_bit"},
    [](std::uint16_t address, bool ten_bit) { return unwrap(address::is_general_call(address, ten_bit)); }};

}  // namespace
}  // namespace trovik::py
