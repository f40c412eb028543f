#include "trovik/modbus/server.hpp"

#include <array>

#include "trovik/modbus/function.hpp"
#include "trovik/modbus/request.hpp"

namespace trovik::modbus {
namespace {

constexpr std::uint8_t kFirstUnit = 1;
constexpr std::uint8_t kLastUnit = 247;

template <class V>
std::optional<V> lookup(const std::map<std::uint16_t, V>& table, std::uint16_t address) {
    auto it = table.find(address);
    if (it == table.end()) return std::nullopt;
    return it->second;
}

template <class V, class Values>
void store(std::map<std::uint16_t, V>& table, std::uint16_t start, const Values& values) {
    // Addresses stop at 65535: what would fall past it is dropped.
    const std::size_t n = std::min<std::size_t>(values.size(), 65536 - std::size_t{start});
    for (std::size_t i = 0; i < n; ++i)
        table.insert_or_assign(static_cast<std::uint16_t>(start + i), static_cast<V>(values[i]));
}

template <class V>
bool all_present(const std::map<std::uint16_t, V>& table, std::uint32_t first, std::uint32_t quantity) {
    for (std::uint32_t a = first; a < first + quantity; ++a)
        if (!table.contains(static_cast<std::uint16_t>(a))) return false;
    return true;
}

// The values of a run the device holds, in address order; an absent address
// is skipped (the range test has already refused a request that meets one).
template <class V>
std::vector<V> read(const std::map<std::uint16_t, V>& table, std::uint16_t first, std::size_t quantity) {
    std::vector<V> out;
    out.reserve(quantity);
    for (auto it = table.lower_bound(first); it != table.end() && out.size() < quantity; ++it) {
        if (it->first >= std::size_t{first} + quantity) break;
        out.push_back(it->second);
    }
    return out;
}

// A reply PDU built in place: never more than 252 bytes for a served request.
class ReplyBuilder {
public:
    explicit ReplyBuilder(std::uint8_t fc) { put(fc); }
    void put(std::uint8_t b) { bytes_[len_++] = b; }
    void put_word(std::uint16_t w) {
        put(static_cast<std::uint8_t>(w >> 8));
        put(static_cast<std::uint8_t>(w));
    }
    std::uint8_t* reserve(std::size_t n) {
        std::uint8_t* at = bytes_.data() + len_;
        len_ += n;
        return at;
    }
    Pdu done() const { return *Pdu::raw(bytes_[0], std::span(bytes_).subspan(1, len_ - 1)); }

private:
    std::array<std::uint8_t, Pdu::kMaxLen> bytes_{};
    std::size_t len_ = 0;
};

Pdu exception_reply(std::uint8_t exception_fc, Exception e) {
    ReplyBuilder r(exception_fc);
    r.put(exception_code(e));
    return r.done();
}

}  // namespace

std::expected<Server, ModbusError> Server::make(std::uint8_t unit) {
    if (unit < kFirstUnit || unit > kLastUnit) return std::unexpected(ModbusError::invalid_unit(unit));
    return Server(unit);
}

std::optional<bool> Server::coil(std::uint16_t address) const { return lookup(coils_, address); }
std::optional<bool> Server::discrete_input(std::uint16_t address) const { return lookup(discrete_inputs_, address); }
std::optional<std::uint16_t> Server::holding_register(std::uint16_t address) const {
    return lookup(holding_registers_, address);
}
std::optional<std::uint16_t> Server::input_register(std::uint16_t address) const {
    return lookup(input_registers_, address);
}

void Server::set_coils(std::uint16_t start, const std::vector<bool>& values) { store(coils_, start, values); }
void Server::set_discrete_inputs(std::uint16_t start, const std::vector<bool>& values) {
    store(discrete_inputs_, start, values);
}
void Server::set_holding_registers(std::uint16_t start, std::span<const std::uint16_t> values) {
    store(holding_registers_, start, values);
}
void Server::set_input_registers(std::uint16_t start, std::span<const std::uint16_t> values) {
    store(input_registers_, start, values);
}

Pdu Server::serve(std::span<const std::uint8_t> pdu) {
    using K = Request::Kind;
    const std::uint8_t exception_fc = pdu.empty() ? function::kExceptionBit : pdu[0] | function::kExceptionBit;
    const std::expected<Request, Exception> parsed = Request::parse(pdu);
    if (!parsed) return exception_reply(exception_fc, parsed.error());
    const Request& req = *parsed;

    const std::uint32_t first = req.start;
    const std::uint32_t quantity =
        (req.kind == K::WriteSingleCoil || req.kind == K::WriteSingleRegister) ? 1 : req.count;
    if (first + quantity - 1 > 0xFFFF) return exception_reply(exception_fc, Exception::IllegalDataAddress);
    bool present = false;
    switch (req.kind) {
        case K::ReadCoils:
        case K::WriteSingleCoil:
        case K::WriteMultipleCoils: present = all_present(coils_, first, quantity); break;
        case K::ReadDiscreteInputs: present = all_present(discrete_inputs_, first, quantity); break;
        case K::ReadHoldingRegisters:
        case K::WriteSingleRegister:
        case K::WriteMultipleRegisters: present = all_present(holding_registers_, first, quantity); break;
        case K::ReadInputRegisters: present = all_present(input_registers_, first, quantity); break;
    }
    if (!present) return exception_reply(exception_fc, Exception::IllegalDataAddress);
    ++served_;

    ReplyBuilder reply(pdu[0]);
    switch (req.kind) {
        case K::ReadCoils:
        case K::ReadDiscreteInputs: {
            const auto values = read(req.kind == K::ReadCoils ? coils_ : discrete_inputs_, req.start, quantity);
            const std::size_t bytes = (quantity + 7) / 8;
            reply.put(static_cast<std::uint8_t>(bytes));
            std::uint8_t* packed = reply.reserve(bytes);
            for (std::size_t k = 0; k < values.size(); ++k)
                if (values[k]) packed[k / 8] |= static_cast<std::uint8_t>(1u << (k % 8));
            break;
        }
        case K::ReadHoldingRegisters:
        case K::ReadInputRegisters: {
            const auto values =
                read(req.kind == K::ReadHoldingRegisters ? holding_registers_ : input_registers_, req.start, quantity);
            reply.put(static_cast<std::uint8_t>(2 * quantity));
            for (std::uint16_t v : values)
                reply.put_word(v);
            break;
        }
        case K::WriteSingleCoil:
            coils_[req.start] = req.on;
            reply.put_word(req.start);
            reply.put_word(req.on ? 0xFF00 : 0x0000);
            break;
        case K::WriteSingleRegister:
            holding_registers_[req.start] = req.value;
            reply.put_word(req.start);
            reply.put_word(req.value);
            break;
        case K::WriteMultipleCoils: {
            const Coils bits = req.coils();
            for (std::size_t i = 0; i < bits.size(); ++i)
                coils_[static_cast<std::uint16_t>(first + i)] = bits[i];
            reply.put_word(req.start);
            reply.put_word(req.count);
            break;
        }
        case K::WriteMultipleRegisters: {
            const Registers words = req.registers();
            for (std::size_t i = 0; i < words.size(); ++i)
                holding_registers_[static_cast<std::uint16_t>(first + i)] = words[i];
            reply.put_word(req.start);
            reply.put_word(req.count);
            break;
        }
    }
    return reply.done();
}

std::optional<Adu> Server::answer(std::span<const std::uint8_t> frame) {
    const std::expected<Adu, ModbusError> adu = Adu::parse(frame);
    if (!adu) return std::nullopt;
    const std::span<const std::uint8_t> pdu = adu->pdu();
    if (adu->unit() == 0) {
        // A broadcast: its write is carried out, and nobody answers.
        const std::expected<Request, Exception> req = Request::parse(pdu);
        if (req && req->is_write()) serve(pdu);
        return std::nullopt;
    }
    if (adu->unit() != unit_) return std::nullopt;
    return serve(pdu).to_adu(unit_);
}

std::vector<std::uint8_t> Line::units() const {
    std::vector<std::uint8_t> out;
    out.reserve(devices_.size());
    for (const SharedServer& d : devices_)
        out.push_back(d->with([](const Server& s) { return s.unit(); }));
    return out;
}

std::vector<std::uint8_t> Line::receive(std::span<const std::uint8_t> frame) const {
    std::vector<std::uint8_t> out;
    for (const SharedServer& d : devices_) {
        const std::optional<Adu> reply = d->with([&](Server& s) { return s.answer(frame); });
        if (reply) out.insert(out.end(), reply->as_bytes().begin(), reply->as_bytes().end());
    }
    return out;
}

namespace {

// The port owns its peer; the peer shares the line with every other holder.
class LinePeer final : public serial::Peer {
public:
    explicit LinePeer(SharedLine line) : line_(std::move(line)) {}
    std::vector<std::uint8_t> receive(std::span<const std::uint8_t> written) override {
        return line_->with([&](const Line& line) { return line.receive(written); });
    }

private:
    SharedLine line_;
};

}  // namespace

serial::SerialPort simulated_port(serial::Settings settings, SharedLine line) {
    return serial::SerialPort::simulated(settings, std::make_unique<LinePeer>(std::move(line)));
}

}  // namespace trovik::modbus
