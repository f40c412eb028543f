#include "trovik/radios/sim/chip.hpp"

#include <algorithm>
#include <mutex>

#include <variant>

#include "sx126x_model.hpp"
#include "sx127x_model.hpp"
#include "trovik/radios/sx126x/driver.hpp"
#include "trovik/radios/sx127x/driver.hpp"

namespace trovik::radios::sim {

struct Chip::State {
    explicit State(const sx126x::Board& board) : model(std::in_place_type<Sx126xModel>, board), sx126x_board(board) {}
    State(bool pa_boost, bool tcxo)
        : model(std::in_place_type<Sx127xModel>),
          sx127x_board{pa_boost ? sx127x::Output::PaBoost : sx127x::Output::Rfo, tcxo} {}

    template <class Op>
    decltype(auto) on_model(Op op) {
        return std::visit(op, model);
    }

    std::mutex mutex;
    Air air;
    std::variant<Sx126xModel, Sx127xModel> model;
    // The board of the family's driver; the other one is unused.
    sx126x::Board sx126x_board;
    sx127x::Board sx127x_board;
};

namespace {

using State = Chip::State;

class ChipSpi final : public hal::SpiDevice {
public:
    explicit ChipSpi(std::shared_ptr<State> state) noexcept : state_(std::move(state)) {}

    // One transaction is one command or register run: what it writes, then
    // what it reads answered from the bytes written so far. A transaction
    // that reads nothing is carried out as a write once chip select rises.
    std::expected<void, hal::SpiErrorKind> transaction(std::span<hal::SpiOperation> operations) override {
        std::lock_guard lock(state_->mutex);
        State& s = *state_;
        s.on_model([](auto& model) { model.begin_transaction(); });
        bool answered = false;
        for (hal::SpiOperation& op : operations) {
            switch (op.kind) {
                case hal::SpiOperation::Kind::Write: sent_.insert(sent_.end(), op.out.begin(), op.out.end()); break;
                case hal::SpiOperation::Kind::Transfer:
                    sent_.insert(sent_.end(), op.out.begin(), op.out.end());
                    s.on_model([&](auto& model) { model.answer(sent_, op.in, s.air); });
                    answered = true;
                    break;
                case hal::SpiOperation::Kind::TransferInPlace:
                    sent_.insert(sent_.end(), op.in.begin(), op.in.end());
                    s.on_model([&](auto& model) { model.answer(sent_, op.in, s.air); });
                    answered = true;
                    break;
                case hal::SpiOperation::Kind::Read:
                    s.on_model([&](auto& model) { model.answer(sent_, op.in, s.air); });
                    answered = true;
                    break;
                case hal::SpiOperation::Kind::Pause: break;
            }
        }
        if (!answered) s.on_model([&](auto& model) { model.execute(sent_, s.air); });
        sent_.clear();
        return {};
    }

private:
    std::shared_ptr<State> state_;
    std::vector<std::uint8_t> sent_;  // kept between transactions so its room is reused
};

class ChipPin final : public hal::OutputPin, public hal::InputPin {
public:
    explicit ChipPin(std::shared_ptr<State> state) noexcept : state_(std::move(state)) {}

    std::expected<void, hal::PinErrorKind> set_low() override {
        std::lock_guard lock(state_->mutex);
        // NRESET: the chip's settings go; the air, what was sent and the noise stay.
        state_->on_model([](auto& model) { model.reset(); });
        return {};
    }
    std::expected<void, hal::PinErrorKind> set_high() override { return {}; }
    std::expected<bool, hal::PinErrorKind> is_high() override { return false; }

private:
    std::shared_ptr<State> state_;
};

class ChipDelay final : public hal::Delay {
public:
    void delay_ns(std::uint32_t) override {}
    void delay_us(std::uint32_t) override {}
};

}  // namespace

Chip Chip::sx126x(const sx126x::Board& board) { return Chip(std::make_shared<State>(board)); }

Chip Chip::sx127x(bool pa_boost, bool tcxo) { return Chip(std::make_shared<State>(pa_boost, tcxo)); }

Family Chip::family() const noexcept {
    // Fixed at construction, so no lock is needed to look.
    return std::holds_alternative<Sx127xModel>(state_->model) ? Family::Sx127x : Family::Sx126x;
}

Radio Chip::radio() const {
    if (family() == Family::Sx127x) return Radio(sx127x::Driver(spi(), output_line(), delay(), state_->sx127x_board));
    return Radio(sx126x::Driver(spi(), output_line(), input_line(), delay(), state_->sx126x_board));
}

void Chip::hear(std::span<const std::uint8_t> payload, lora::Decibels rssi, lora::Decibels snr) const {
    Arrival arrival{
        {payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(payload.size(), 255))},
        rssi,
        snr,
        true};
    std::lock_guard lock(state_->mutex);
    state_->air.arrivals.push_back(std::move(arrival));
}

void Chip::hear_corrupt(lora::Decibels rssi, lora::Decibels snr) const {
    std::lock_guard lock(state_->mutex);
    state_->air.arrivals.push_back(Arrival{{}, rssi, snr, false});
}

std::vector<Sent> Chip::sent() const {
    std::lock_guard lock(state_->mutex);
    return state_->air.sent;
}

Tuning Chip::tuning() const {
    std::lock_guard lock(state_->mutex);
    return state_->on_model([](const auto& model) { return model.tuning(); });
}

std::size_t Chip::waiting() const {
    std::lock_guard lock(state_->mutex);
    return state_->air.arrivals.size();
}

std::unique_ptr<hal::SpiDevice> Chip::spi() const { return std::make_unique<ChipSpi>(state_); }
std::unique_ptr<hal::OutputPin> Chip::output_line() const { return std::make_unique<ChipPin>(state_); }
std::unique_ptr<hal::InputPin> Chip::input_line() const { return std::make_unique<ChipPin>(state_); }
std::unique_ptr<hal::Delay> Chip::delay() const { return std::make_unique<ChipDelay>(); }

}  // namespace trovik::radios::sim
