#include "shared/link.hpp"

#include "binding/binding.hpp"

namespace trovik::py {

PyObject* make_transport(Link link) { return make(PyTransport{TransportSlot(std::in_place, std::move(link))}); }

Link take(const TransportSlot& slot) {
    auto held = slot.try_hold();
    if (!held) raise_trovik(kTransportBusy);
    std::optional<Link> link = std::move((*held)->link);
    (*held)->link.reset();
    if (!link) raise_trovik(kTransportSpent);
    return std::move(*link);
}

bool is_available(const TransportSlot& slot) {
    auto held = slot.try_hold();
    if (!held) return true;
    return (*held)->link.has_value();
}

}  // namespace trovik::py
