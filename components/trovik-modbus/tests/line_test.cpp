#include <doctest/doctest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "trovik/core/text.hpp"
#include "trovik/modbus/client.hpp"
#include "trovik/modbus/crc.hpp"
#include "trovik/modbus/server.hpp"

namespace {

using namespace trovik::modbus;
using trovik::serial::Parity;
using trovik::serial::Settings;
using Bytes = std::vector<std::uint8_t>;
using EK = ClientError::Kind;

const Settings k9600{9600, Parity::None, false};

Bytes hex(std::string_view text) { return *trovik::core::text::bytes_from_hex(text); }
Bytes with_crc(Bytes body) {
    const std::uint16_t crc = crc16(body);
    body.push_back(static_cast<std::uint8_t>(crc));
    body.push_back(static_cast<std::uint8_t>(crc >> 8));
    return body;
}
SharedServer device(std::uint8_t unit) { return std::make_shared<Locked<Server>>(*Server::make(unit)); }
std::optional<Bytes> answer(const SharedServer& d, const Bytes& frame) {
    auto reply = d->with([&](Server& s) { return s.answer(frame); });
    if (!reply) return std::nullopt;
    return Bytes(reply->as_bytes().begin(), reply->as_bytes().end());
}
template <class F>
auto on(const SharedServer& d, F f) {
    return d->with(f);
}

// A far end that answers every write with fixed bytes.
class Canned : public trovik::serial::Peer {
public:
    explicit Canned(Bytes reply) : reply_(std::move(reply)) {}
    Bytes receive(std::span<const std::uint8_t>) override { return reply_; }

private:
    Bytes reply_;
};

Client canned_client(Bytes reply) {
    return Client(trovik::serial::SerialPort::simulated(k9600, std::make_unique<Canned>(std::move(reply))));
}

}  // namespace

TEST_CASE("a device serves only the addresses it has") {
    CHECK(Server::make(0).error().message() ==
          "unit 0 is not a device address: 0 is broadcast, and 248 to 255 are reserved");
    CHECK(Server::make(248).error().kind == ModbusError::Kind::InvalidUnit);
    CHECK(Server::make(247));

    auto d = device(1);
    on(d, [](Server& s) {
        s.set_coils(65534, {true, false, true});
        s.set_coils(10, {true});
        s.set_coils(12, {true});
        s.set_holding_registers(0, std::vector<std::uint16_t>{7, 8});
    });
    CHECK(on(d, [](Server& s) { return s.coil(65534); }) == true);
    CHECK(on(d, [](Server& s) { return s.coil(65535); }) == false);
    CHECK(on(d, [](Server& s) { return s.coil(11); }) == std::nullopt);

    struct Case {
        const char* request;
        const char* reply;
    };
    const Case cases[] = {
        {"01 01 00 0A 00 03", "01 81 02"},              // coil 11 is missing
        {"01 03 FF FF 00 02", "01 83 02"},              // the range runs past 65535
        {"01 06 00 05 00 01", "01 86 02"},              // no register 5: nothing added
        {"01 03", "01 83 03"},                          // too short
        {"01 07", "01 87 01"},                          // unserved function
        {"01 03 00 00 00 02", "01 03 04 00 07 00 08"},  // a read
        {"01 01 00 0A 00 01", "01 01 01 01"},
        {"01 05 00 0A 00 00", "01 05 00 0A 00 00"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.request);
        CHECK(answer(d, with_crc(hex(c.request))) == with_crc(hex(c.reply)));
    }
    CHECK(on(d, [](Server& s) { return s.served(); }) == 3);
    CHECK(on(d, [](Server& s) { return s.holding_register(5); }) == std::nullopt);
    CHECK(on(d, [](Server& s) { return s.coil(10); }) == false);

    // Silent: a bad length or CRC, another unit.
    CHECK_FALSE(answer(d, Bytes(3)));
    CHECK_FALSE(answer(d, Bytes(257)));
    CHECK_FALSE(answer(d, hex("01 03 00 00 00 02 00 00")));
    CHECK_FALSE(answer(d, with_crc(hex("02 03 00 00 00 01"))));
}

TEST_CASE("a line hands every frame to every device") {
    auto a = device(1), b = device(1), c = device(2);
    for (auto* d : {&a, &b, &c})
        on(*d, [](Server& s) { s.set_holding_registers(0, std::vector<std::uint16_t>{1}); });
    Line line;
    line.attach_shared(a);
    line.attach_shared(b);
    line.attach_shared(c);
    CHECK(line.units() == Bytes{1, 1, 2});
    const Bytes one = with_crc(hex("01 03 02 00 01"));
    Bytes both = one;
    both.insert(both.end(), one.begin(), one.end());
    CHECK(line.receive(with_crc(hex("01 03 00 00 00 01"))) == both);
    CHECK(line.receive(with_crc(hex("09 03 00 00 00 01"))).empty());
    // A broadcast write is carried out by each device and answered by none.
    CHECK(line.receive(with_crc(hex("00 06 00 00 00 09"))).empty());
    for (auto* d : {&a, &b, &c}) {
        CHECK(on(*d, [](Server& s) { return s.holding_register(0); }) == 9);
        CHECK(on(*d, [](Server& s) { return s.served(); }) == (*d == c ? 1 : 2));
    }
    // A broadcast read changes and counts nothing.
    CHECK(line.receive(with_crc(hex("00 03 00 00 00 01"))).empty());
    CHECK(on(c, [](Server& s) { return s.served(); }) == 1);
}

TEST_CASE("the silent interval is 3.5 characters up to 19200 baud") {
    CHECK(Client::frame_gap(k9600).saturating_nanos() == 3'645'835);
    CHECK(Client::frame_gap({9600, Parity::Even, false}).saturating_nanos() == 4'010'419);
    CHECK(Client::frame_gap({9600, Parity::Even, true}).saturating_nanos() == 4'375'000);
    CHECK(Client::frame_gap({19200, Parity::None, false}).saturating_nanos() == 1'822'919);
    CHECK(Client::frame_gap({19201, Parity::Odd, true}).saturating_nanos() == 1'750'000);
}

TEST_CASE("a client talks to devices on a simulated line") {
    auto line = std::make_shared<Locked<Line>>();
    auto d = device(1);
    on(d, [](Server& s) {
        s.set_holding_registers(0, std::vector<std::uint16_t>{10, 20, 30});
        s.set_coils(0, std::vector<bool>(10));
    });
    line->with([&](Line& l) { l.attach_shared(d); });
    auto port = simulated_port(k9600, line);
    Client client(port);

    CHECK(client.read_holding_registers(1, 0, 3) == std::vector<std::uint16_t>{10, 20, 30});
    CHECK(port.waited_micros() == 3645);
    CHECK(client.write_multiple_coils(1, 2, {true, true}));
    CHECK(client.read_coils(1, 0, 4) == std::vector<bool>{false, false, true, true});

    const auto refused = client.read_holding_registers(1, 5, 1);
    CHECK(refused.error().kind == EK::Exception);
    CHECK(refused.error().message() == "unit 1 refused function 0x03 with exception 0x02, illegal data address");

    // Fresh ports on the same line, so each waited time is counted alone.
    auto silent_port = simulated_port(k9600, line);
    const auto silent = Client(silent_port).read_holding_registers(5, 0, 1);
    CHECK(silent.error().kind == EK::Timeout);
    CHECK(silent.error().message() == "unit 5 did not answer within the response timeout");
    CHECK(silent_port.waited_micros() == 3645 + 1'000'000);

    auto broadcast_port = simulated_port(k9600, line);
    CHECK(Client(broadcast_port).write_single_register(0, 1, 7));
    CHECK(broadcast_port.waited_micros() == 3645 + 100'000);
    CHECK(broadcast_port.received() == 0);
    CHECK(on(d, [](Server& s) { return s.holding_register(1); }) == 7);

    const std::uint64_t written = port.written();
    CHECK(client.read_holding_registers(0, 0, 1).error().kind == EK::BroadcastRead);
    CHECK(client.read_holding_registers(0, 0, 0).error().kind == EK::Request);
    CHECK(client.read_holding_registers(1, 0, 126).error().message() ==
          "the request cannot be sent: the number of values is outside what one modbus frame carries");
    CHECK(client.write_multiple_registers(1, 0, std::vector<std::uint16_t>(124)).error().kind == EK::Request);
    CHECK(port.written() == written);
}

TEST_CASE("a client checks every reply") {
    struct Case {
        const char* name;
        Bytes reply;
        int function;  // 3: read two registers; 5: write coil 1 on; 1: read ten coils
        EK kind;
        const char* message;
    };
    const Case cases[] = {
        {"wrong unit", with_crc(hex("02 03 04 00 01 00 02")), 3, EK::WrongUnit, "unit 2 answered a request for unit 1"},
        {"wrong function", with_crc(hex("01 04 04 00 01 00 02")), 3, EK::WrongFunction,
         "the reply names function 0x04, not the 0x03 asked for"},
        {"exception of another function", with_crc(hex("01 84 02")), 3, EK::WrongFunction,
         "the reply names function 0x84, not the 0x03 asked for"},
        {"unknown exception", with_crc(hex("01 83 07")), 3, EK::Frame,
         "the reply is not a valid frame: modbus response PDU is malformed"},
        {"bad CRC", hex("01 03 04 00 01 00 02 00 00"), 3, EK::Frame, nullptr},
        {"three registers for two", with_crc(hex("01 03 06 00 01 00 02 00 03")), 3, EK::Mismatch,
         "unit 1 answered with values the request did not ask for"},
        {"odd byte count", with_crc(hex("01 03 03 00 01 00")), 3, EK::Frame,
         "the reply is not a valid frame: modbus response PDU is malformed"},
        {"bit count", with_crc(hex("01 01 03 CD 01 00")), 1, EK::Mismatch, nullptr},
        {"coil echo", with_crc(hex("01 05 00 01 00 00")), 5, EK::Mismatch, nullptr},
        {"partway", hex("01 03 04"), 3, EK::Timeout, "unit 1 sent 3 bytes of a reply and then went quiet"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.name);
        Client client = canned_client(c.reply);
        ClientError err{EK::Request};
        if (c.function == 3) err = client.read_holding_registers(1, 0, 2).error();
        if (c.function == 1) err = client.read_coils(1, 0, 10).error();
        if (c.function == 5) err = client.write_single_coil(1, 1, true).error();
        CHECK(err.kind == c.kind);
        if (c.message) CHECK(err.message() == c.message);
    }
}

TEST_CASE("a scripted port that expects other bytes fails the transaction") {
    auto port = trovik::serial::SerialPort::scripted(k9600, {trovik::serial::PortStep::write(hex("01 02 03"))});
    Client client(port);
    const auto err = client.read_coils(1, 0, 1).error();
    CHECK(err.kind == EK::Port);
    CHECK(err.message() ==
          "the serial port failed: the script expected 01 02 03 to be written, not 01 01 00 00 00 "
          "01 fd ca");
}
