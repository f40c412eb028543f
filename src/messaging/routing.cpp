// The route table.
#include <string>
#include <vector>

#include "binding/binding.hpp"
#include "trovik/routing/router.hpp"

namespace trovik::py {

const BindingSource this_source{"routing"};

namespace {

using routing::Decision;
using routing::DynamicRouter;
using routing::Route;

Class<Route> route_class{
    "Route", "A learned way to reach one node.", [](auto& c) {
        c.no_borrow();  // a copy taken when it was made
        c.prop("dst", "The node this route reaches.", [](const Route& r) { return r.destination; });
        c.prop("next_hop", "The neighbor to send a packet to on the way there.",
               [](const Route& r) { return r.next_hop; });
        c.prop("cost", "What the route costs, usually in hops.", [](const Route& r) { return r.cost; });
        c.repr([](const Route& r) {
            return "Route(dst=" + std::to_string(r.destination) + ", next_hop=" + std::to_string(r.next_hop) +
                   ", cost=" + std::to_string(r.cost) + ")";
        });
    }};

const char* action_name(Decision::Action a) {
    switch (a) {
        case Decision::Action::Deliver: return "Deliver";
        case Decision::Action::Relay: return "Relay";
        case Decision::Action::Flood: return "Flood";
    }
    return "";
}

std::optional<std::uint32_t> decision_hop(const Decision& d) {
    if (d.action == Decision::Action::Relay) return d.next_hop;
    return std::nullopt;
}

Class<Decision> decision_class{
    "ForwardDecision", "A routing decision, and the neighbor it names when there is one.", [](auto& c) {
        c.no_borrow();
        c.prop("action", "What to do with the packet: `Deliver`, `Relay`, or `Flood`.",
               [](const Decision& d) { return action_name(d.action); });
        c.prop("next_hop", "The neighbor to unicast to, or `None` unless the action is `Relay`.",
               [](const Decision& d) { return decision_hop(d); });
        c.repr([](const Decision& d) {
            auto hop = decision_hop(d);
            return std::string("ForwardDecision(action='") + action_name(d.action) +
                   "', next_hop=" + (hop ? std::to_string(*hop) : std::string("None")) + ")";
        });
    }};

Class<DynamicRouter> router_class{
    "Router", "One node routing table, learned from the traffic the node hears.", [](auto& c) {
        c.init({"address", arg("capacity").def(64).show("...")},
               "Creates an empty routing table for a node at `address`.\n\n`capacity` is how many routes to make "
               "room for. A capacity of zero floods\nevery unknown destination, which is the behavior with no table "
               "at all.",
               [](std::uint32_t address, std::size_t capacity) {
                   return allocating([&] { return DynamicRouter(address, capacity); });
               });
        c.def("observe", "Learns a route from a packet that arrived, reporting whether it changed\nthe table.",
              {"origin", "via", "cost"},
              [](DynamicRouter& self, std::uint32_t origin, std::uint32_t via, std::uint16_t cost) {
                  return self.observe(origin, via, cost);
              });
        c.def("next_hop", "The neighbor to send a packet to on the way to `dst`, or `None`.", {"dst"},
              [](const DynamicRouter& self, std::uint32_t dst) { return self.next_hop(dst); });
        c.def("cost", "What the known route to `dst` costs, or `None` when none is known.", {"dst"},
              [](const DynamicRouter& self, std::uint32_t dst) { return self.cost(dst); });
        c.def("route", "The whole route to `dst`, or `None` when none is known.", {"dst"},
              [](const DynamicRouter& self, std::uint32_t dst) -> PyObject* {
                  auto r = self.route(dst);
                  return r ? make(*r) : none();
              });
        c.def("routes",
              "The routes the table holds, each once, in the order the table holds them\nrather than sorted by "
              "destination or cost.",
              [](const DynamicRouter& self) {
                  std::vector<Ref> out;
                  for (const auto& slot : self.slots())
                      if (slot) out.emplace_back(make(*slot));
                  return out;
              });
        c.def("forward", "Decides what to do with a packet bound for `dst`.", {"dst"},
              [](const DynamicRouter& self, std::uint32_t dst) { return make(self.forward(dst)); });
        c.def("forget", "Forgets the route to `dst`, for example after it stops answering.", {"dst"},
              [](DynamicRouter& self, std::uint32_t dst) { self.forget(dst); });
        c.len([](const DynamicRouter& self) { return self.len(); });
        c.prop("address", "The address this router answers for.",
               [](const DynamicRouter& self) { return self.address(); });
        c.prop("capacity", "How many routes the table can hold.",
               [](const DynamicRouter& self) { return self.capacity(); });
    }};

const Function routing_default_capacity_fn{
    "routing_default_capacity", "Returns a routing table size for a caller with no reason to choose one.", {}, [] {
        return routing::kDefaultCapacity;
    }};

}  // namespace
}  // namespace trovik::py
