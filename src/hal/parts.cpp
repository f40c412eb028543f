// Simulated I2C parts: byte registers, word registers and command replies.
#include "hal/parts.hpp"

#include <string>
#include <vector>

#include "binding/binding.hpp"
#include "binding/forms.hpp"

namespace trovik::py {

const BindingSource this_source{"hal"};

namespace {

using hal::sim::CommandPart;
using hal::sim::I2cPart;
using hal::sim::WordPart;

Class<I2cPart> i2c_part_class{
    "I2cPart",
    "A simulated I2C part with 256 byte registers behind an auto-incrementing\n"
    "register pointer.\n\n"
    "A write names a register in its first byte and fills registers from there;\n"
    "a read continues from wherever the last write or read left the pointer.\n"
    "Everything wraps from register 255 to 0. A read before any write named a\n"
    "register is refused.",
    [](auto& c) {
        c.init({"address"}, "A part answering at `address`, every register reading zero.",
               [](std::uint8_t address) { return I2cPart(address); });
        c.def("load",
              "Puts `data` into the registers from `first` on, wrapping past the last\n"
              "register to the first. The pointer and the transfer count stay as they are.",
              {"first", "data"}, [](I2cPart& self, std::uint8_t first, ByteView data) { self.load(first, data); });
        c.def("register", "What one register holds now.", {"register"},
              [](const I2cPart& self, std::uint8_t reg) { return self.registers[reg]; });
        c.def("read",
              "What `length` consecutive registers hold from `first` on, wrapping from\n"
              "255 to 0. The pointer and the transfer count stay as they are.",
              {"first", "length"}, [](const I2cPart& self, std::uint8_t first, std::uint64_t length) {
                  std::vector<std::uint8_t> out(checked_length(length));
                  std::uint8_t reg = first;
                  for (std::uint8_t& byte : out)
                      byte = self.registers[reg++];
                  return out;
              });
        c.prop("address", "The address the part answers to.", [](const I2cPart& self) { return self.address; });
        c.prop("transfers", "How many transactions the part has served.",
               [](const I2cPart& self) { return self.transfers; });
    }};

Class<WordPart> word_part_class{
    "WordPart",
    "A simulated I2C part with 256 sixteen-bit registers, most significant byte\n"
    "first.\n\n"
    "A write's first byte sets the register pointer and the byte pairs after it\n"
    "fill registers from there; every read starts at the register the last write\n"
    "named. Bits marked read-only are the part's own: a write leaves them as\n"
    "they are.",
    [](auto& c) {
        c.init({"address"}, "A part answering at `address`, every register and mask zero.",
               [](std::uint8_t address) { return WordPart(address); });
        c.def("set", "Stores `value` in the register, read-only bits included.", {"register", "value"},
              [](WordPart& self, std::uint8_t reg, std::uint16_t value) { self.set(reg, value); });
        c.def("word", "What the register holds now.", {"register"},
              [](const WordPart& self, std::uint8_t reg) { return self.word(reg); });
        c.def("read_only", "Marks the bits of `mask` in the register as the part's own.", {"register", "mask"},
              [](WordPart& self, std::uint8_t reg, std::uint16_t mask) { self.mark_read_only(reg, mask); });
        c.prop("address", "The address the part answers to.", [](const WordPart& self) { return self.address; });
        c.prop("transfers", "How many transactions the part has served.",
               [](const WordPart& self) { return self.transfers; });
    }};

Class<CommandPart> command_part_class{
    "CommandPart",
    "A simulated I2C part that answers commands with the replies it was given.\n\n"
    "The first `width` bytes of a write are its command. A command with a reply\n"
    "leaves the reply waiting for exactly one read, padded with 0xff; a read with\n"
    "no reply waiting is refused, the way such a part fails to acknowledge.",
    [](auto& c) {
        c.init({"address", arg("width").def(2)}, "A part with no replies yet; a width of 0 is taken as 1.",
               [](std::uint8_t address, std::uint64_t width) { return CommandPart(address, width); });
        c.def("answer", "Answers `command` with `reply` from now on, in place of any earlier reply.",
              {"command", "reply"},
              [](CommandPart& self, ByteView command, ByteView reply) { self.answer(command, reply); });
        c.prop("received", "Every write the part has received, oldest first.", [](const CommandPart& self) {
            std::vector<Ref> out;
            out.reserve(self.received.size());
            for (const auto& write : self.received)
                out.emplace_back(to_py(write));
            return out;
        });
        c.prop("address", "The address the part answers to.", [](const CommandPart& self) { return self.address; });
        c.prop("transfers", "How many transactions the part has served.",
               [](const CommandPart& self) { return self.transfers; });
    }};

// "TypeError: failed to extract field AnyPart::Bytes.0, caused by TypeError: ..."
template <class T>
std::string form_reason(PyObject* o, const char* field) {
    try {
        ClassOf<T>::cls->instance_of(o);
    } catch (const PendingError&) {
    }
    return take_form_reason("AnyPart", field);
}

template <class T>
bool copy_if(PyObject* o, hal::sim::Part& out) {
    PyTypeObject* type = ClassOf<T>::cls->type();
    if (!type) throw PendingError{};
    if (!PyObject_TypeCheck(o, type)) return false;
    SharedBorrow borrow(o, ClassOf<T>::cls->borrow_checked());
    out = Class<T>::value_of(o);
    return true;
}

}  // namespace

Caster<AnyPart>::Caster(PyObject* o) : v(I2cPart(0)) {
    if (copy_if<I2cPart>(o, v) || copy_if<WordPart>(o, v) || copy_if<CommandPart>(o, v)) return;
    std::string bytes = form_reason<I2cPart>(o, "Bytes");
    std::string words = form_reason<WordPart>(o, "Words");
    std::string commands = form_reason<CommandPart>(o, "Commands");
    raise_no_form("AnyPart", {"Bytes", "Words", "Commands"}, {bytes, words, commands});
}

PyObject* held_part(const hal::sim::Part& part) {
    if (const I2cPart* bytes = part.bytes()) return make(*bytes);
    if (const WordPart* words = part.words()) return make(*words);
    return make(*part.commands());
}

std::size_t checked_length(std::uint64_t length) {
    if (length > kMaxTransferLen)
        raise_value_error("a length of " + std::to_string(length) + " is more than the " +
                          std::to_string(kMaxTransferLen) + " bytes an I2C message carries");
    return static_cast<std::size_t>(length);
}

}  // namespace trovik::py
