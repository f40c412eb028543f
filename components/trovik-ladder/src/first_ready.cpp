#include "trovik/ladder/first_ready.hpp"

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>

#include <asio/associated_cancellation_slot.hpp>
#include <asio/associated_executor.hpp>
#include <asio/async_result.hpp>
#include <asio/bind_cancellation_slot.hpp>
#include <asio/bind_executor.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/error.hpp>
#include <asio/post.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

namespace trovik::ladder {
namespace {

bool is_aborted(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::system_error& e) {
        return e.code() == asio::error::operation_aborted;
    } catch (...) {
        return false;
    }
}

// The receives of one pass, run side by side on the caller's strand. Every
// field is touched only on that strand.
struct Race {
    explicit Race(std::size_t n) : results(n), finished(n, false), signals(new asio::cancellation_signal[n]) {}

    std::vector<asio::awaitable<core::Received>> receives;  // moved out as they start
    std::vector<std::optional<core::Received>> results;
    std::vector<bool> finished;
    std::unique_ptr<asio::cancellation_signal[]> signals;
    std::optional<std::size_t> first;  // the receive that completed first with a result
    std::exception_ptr fault;          // the first failure that was not our own cancellation
    bool stopping = false;
    bool caller_cancelled = false;
    // Receives still running, plus one for the launch itself.
    std::size_t outstanding = 0;
    std::move_only_function<void()> complete;

    void stop() {
        if (stopping) return;
        stopping = true;
        for (std::size_t i = 0; i < results.size(); ++i)
            if (!finished[i]) signals[i].emit(asio::cancellation_type::terminal);
    }

    void release() {
        if (--outstanding > 0) return;
        auto done = std::move(complete);
        done();
    }

    void finish(std::size_t i, std::exception_ptr error, core::Received result) {
        finished[i] = true;
        if (!error) {
            results[i].emplace(std::move(result));
            if (!first && !stopping) first = i;
        } else if (!(stopping && is_aborted(error)) && !fault) {
            // Cancellation we did not ask for is the link's own failure.
            fault = error;
        }
        stop();
        release();
    }
};

// Starts every receive and completes once all of them have finished: the first
// to finish stops the rest, and so does the caller's cancellation.
asio::awaitable<void> run(std::shared_ptr<Race> race) {
    auto executor = co_await asio::this_coro::executor;
    auto launch = [race, executor](auto handler) {
        auto slot = asio::get_associated_cancellation_slot(handler);
        auto handler_executor = asio::get_associated_executor(handler, executor);
        race->complete = [slot, handler_executor, handler = std::move(handler)]() mutable {
            if (slot.is_connected()) slot.clear();
            asio::post(handler_executor, std::move(handler));
        };
        if (slot.is_connected()) {
            slot.assign([race](asio::cancellation_type_t type) {
                if (type == asio::cancellation_type::none) return;
                race->caller_cancelled = true;
                race->stop();
            });
        }
        const std::size_t n = race->receives.size();
        race->outstanding = n + 1;
        for (std::size_t i = 0; i < n; ++i) {
            if (race->stopping) {
                // Never started, so its link was never asked.
                race->finished[i] = true;
                --race->outstanding;
                continue;
            }
            asio::co_spawn(
                executor, std::move(race->receives[i]),
                asio::bind_cancellation_slot(
                    race->signals[i].slot(),
                    asio::bind_executor(executor, [race, i](std::exception_ptr error, core::Received result) {
                        race->finish(i, std::move(error), std::move(result));
                    })));
        }
        race->receives.clear();
        race->release();
    };
    // Named before it is awaited (CONTRIBUTING.md, "g++ 12 and coroutines").
    auto all_finished =
        asio::async_initiate<const asio::use_awaitable_t<>&, void()>(std::move(launch), asio::use_awaitable);
    co_await std::move(all_finished);
}

}  // namespace

asio::awaitable<FirstReady::Ready> FirstReady::wait() {
    const std::size_t n = listeners_.size();
    std::vector<std::size_t> turn(n);
    for (std::size_t k = 0; k < n; ++k)
        turn[k] = listeners_[(start_ + k) % n];

    for (std::size_t rung : turn) {
        if (auto& held = rungs_[rung].held) {
            Ready ready{rung, core::Received(std::optional<core::Message>(std::move(*held)))};
            held.reset();
            co_return ready;
        }
    }

    auto race = std::make_shared<Race>(n);
    race->receives.reserve(n);
    for (std::size_t rung : turn)
        race->receives.push_back(rungs_[rung].link->recv());
    auto racing = run(race);  // named before it is awaited, as above
    co_await std::move(racing);

    // Every receive has finished. A cancellation that came after the last of
    // them still means nobody will take the result: check for it here, so the
    // message stays with the ladder rather than going nowhere.
    asio::cancellation_state state = co_await asio::this_coro::cancellation_state;
    const bool cancelled = race->caller_cancelled || state.cancelled() != asio::cancellation_type::none;
    // Keep each message that is not handed out now.
    const bool hand_out = !cancelled && !race->fault;
    for (std::size_t k = 0; k < n; ++k) {
        if (hand_out && race->first == k) continue;
        auto& result = race->results[k];
        if (result && *result && **result) rungs_[turn[k]].held = std::move(***result);
    }
    if (race->fault) std::rethrow_exception(race->fault);
    if (cancelled || !race->first) throw std::system_error(asio::error::operation_aborted, "receive pass cancelled");
    co_return Ready{turn[*race->first], std::move(*race->results[*race->first])};
}

}  // namespace trovik::ladder
