// The in-process event bus.
#include <memory>

#include "binding/binding.hpp"
#include "runtime/bridge.hpp"
#include "shared/payload.hpp"
#include "trovik/core/bus.hpp"
#include "trovik/core/text.hpp"

namespace trovik::py {

const BindingSource this_source{"bus"};

namespace {

namespace bus = core::bus;

struct BusEndpoint {
    std::shared_ptr<bus::Endpoint> endpoint;
};
struct BusPublisher {
    bus::EventPublisher publisher;
};

bus::Event event_bytes(Payload& event) { return std::move(event).take(); }

PyObject* make_endpoint(std::shared_ptr<bus::Endpoint> endpoint) { return make(BusEndpoint{std::move(endpoint)}); }

// A wait whose future was cancelled after it took its event puts the event
// back, ahead of later ones: a cancelled wait takes nothing.
void give_back(bus::Endpoint::Taken& taken) { bus::Endpoint::give_back(taken); }

// The next event: taken at once when one is there, else awaited.
template <class Convert>
PyObject* take_event(const BusEndpoint& self, Convert convert) {
    const std::shared_ptr<bus::Endpoint>& endpoint = self.endpoint;
    return now_or_wait(
        running_loop(), false, Wakes::Nobody, [&] { return endpoint->try_take(); },
        [&](const TaskContext&) { return endpoint->take(); }, convert, give_back);
}

Class<BusEndpoint> event_bus_class{
    "EventBus",
    "One endpoint on an event bus.\n\nAn endpoint both publishes and receives, and it receives what it publishes\n"
    "itself. Each subscriber needs its own, taken with `subscribe`, because an\nendpoint only sees events published "
    "after it existed. Only `next_event` and\n`next_text` wait: publishing and subscribing return at once, even "
    "while a\nwait on the same endpoint is open.",
    [](auto& c) {
        c.no_borrow();  // every method works through the shared endpoint
        c.init({arg("capacity").def(64)},
               [](std::size_t capacity) { return BusEndpoint{bus::Endpoint::create(capacity)}; });
        c.def("publish",
              "Publishes an event to every subscriber, this endpoint included: bytes, or\ntext such as an event "
              "name.\n\nIt never waits: a subscriber that has fallen behind loses its oldest event\nrather than "
              "holding up the publisher.",
              {"event"}, [](const BusEndpoint& self, Payload event) { self.endpoint->publish(event_bytes(event)); });
        c.def("subscribe",
              "Takes another endpoint on the same bus.\n\nThe new endpoint sees events published from now on, not "
              "those already\nsent, so subscribe before publishing anything it needs to see.",
              [](const BusEndpoint& self) { return make_endpoint(self.endpoint->subscribe()); });
        c.def("publisher", "Takes a publish-only handle on the same bus, for a part that announces and\nnever reads.",
              [](const BusEndpoint& self) { return make(BusPublisher{self.endpoint->publisher()}); });
        c.def("next_event",
              "Waits for the next event on this endpoint.\n\nThe wait lasts until an event arrives. "
              "`asyncio.wait_for` gives up sooner,\nand the wait it cancels takes no event.",
              [](const BusEndpoint& self) {
                  return take_event(self, [](bus::Endpoint::Taken& taken) { return to_py(taken.event); });
              });
        c.def("next_text", "Waits for the next event as text.\n\nRaises `ValueError` if the event is not UTF-8 text.",
              [](const BusEndpoint& self) {
                  return take_event(self, [](bus::Endpoint::Taken& taken) {
                      const bus::Event& event = taken.event;
                      std::string_view text(reinterpret_cast<const char*>(event.data()), event.size());
                      if (!core::text::is_valid_utf8(text)) raise_value_error("the event is not UTF-8 text");
                      return to_py(text);
                  });
              });
        c.prop("missed", "How many events this endpoint lost by falling behind, as of its last\ncompleted wait.",
               [](const BusEndpoint& self) { return self.endpoint->missed(); });
    }};

Class<BusPublisher> event_publisher_class{
    "EventPublisher",
    "A publish-only handle to an event bus.\n\nIt has no queue of its own, so a part that only announces never "
    "fills a\nbuffer it does not read. Publishing never waits, so a callback on another\nthread can call it without "
    "an event loop.",
    [](auto& c) {
        c.no_borrow();  // nothing in it changes after construction
        c.init({arg("capacity").def(64)},
               [](std::size_t capacity) { return BusPublisher{bus::EventPublisher(capacity)}; });
        c.def("publish",
              "Hands an event to every current subscriber: bytes, or text such as an\nevent name.\n\nReturns how "
              "many subscribers the event was handed to. An event published\nwhile no one is subscribed is dropped, "
              "and the count is 0.",
              {"event"},
              [](const BusPublisher& self, Payload event) { return self.publisher.publish(event_bytes(event)); });
        c.def("subscribe", "Subscribes to the bus, returning an endpoint that sees events published\nfrom now on.",
              [](const BusPublisher& self) { return make_endpoint(bus::Endpoint::of(self.publisher.subscribe())); });
        c.def("publisher", "Takes another publisher on the same bus, for another part that announces.",
              [](const BusPublisher& self) { return make(BusPublisher{self.publisher}); });
    }};

}  // namespace
}  // namespace trovik::py
