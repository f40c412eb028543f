#pragma once
// One receive pass of a ladder: whichever listening rung delivers first.
#include <cstddef>
#include <span>
#include <vector>

#include <asio/awaitable.hpp>

#include "trovik/core/transport.hpp"
#include "trovik/ladder/ladder.hpp"

namespace trovik::ladder {

// Receives from the listening rungs `listeners` (indexes into `rungs`, in rung
// order) at once, looking at them in turn from `start`, wrapping around.
//
// A rung holding a message from an earlier pass is ready at once: the first
// such rung from `start` wins and no link is asked. Otherwise every listener's
// receive starts, in turn from `start`, and the first to complete wins; the
// others are cancelled, and the pass ends only once each has finished, so no
// receive is left running on a link. A receive that completed with a message
// anyway (it was taken before the cancellation reached it) keeps that message
// in its rung for a later pass; a losing receive that reported its link ended
// or failed is let go, since the link says so again when it is next asked.
// The pass runs on its caller's strand; it
// starts no task of its own beyond one coroutine per receive on that strand.
//
// When the caller is cancelled, every message already taken is kept the same
// way and the pass throws operation_aborted.
class FirstReady {
public:
    struct Ready {
        std::size_t rung;       // index into the ladder's rungs
        core::Received result;  // that rung's receive
    };

    FirstReady(std::span<Rung> rungs, std::vector<std::size_t> listeners, std::size_t start)
        : rungs_(rungs), listeners_(std::move(listeners)), start_(start) {}

    // Needs at least one listener, every one of them up or holding a message.
    asio::awaitable<Ready> wait();

private:
    std::span<Rung> rungs_;
    std::vector<std::size_t> listeners_;
    std::size_t start_;
};

}  // namespace trovik::ladder
