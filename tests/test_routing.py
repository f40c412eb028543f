"""The route table."""
import pytest

import trovik._native as native


def routes(router):
    return [(r.dst, r.next_hop, r.cost) for r in router.routes()]


def test_learning_sequence():
    r = native.Router(1)
    steps = [((5, 2, 3), True), ((5, 2, 3), False), ((5, 2, 4), True), ((5, 7, 4), False), ((5, 7, 1), True)]
    for args, changed in steps:
        assert r.observe(*args) is changed, args
    assert (r.next_hop(5), r.cost(5)) == (7, 1)


def test_own_address_is_never_learned():
    r = native.Router(1)
    assert r.observe(1, 2, 0) is False
    assert len(r) == 0


@pytest.fixture
def full():
    r = native.Router(1, 2)
    r.observe(10, 2, 5)
    r.observe(20, 3, 5)
    return r


def test_full_table_evicts_the_last_of_the_worst(full):
    assert full.observe(30, 4, 4)
    assert routes(full) == [(10, 2, 5), (30, 4, 4)]
    assert full.route(20) is None


def test_full_table_keeps_routes_against_an_equal_newcomer(full):
    assert full.observe(30, 4, 5) is False
    assert routes(full) == [(10, 2, 5), (20, 3, 5)]


def test_capacity_zero_floods_everything_but_itself():
    r = native.Router(7, 0)
    assert r.observe(5, 2, 1) is False
    assert len(r) == 0 and r.routes() == []
    assert r.forward(7).action == "Deliver"
    assert r.forward(5).action == "Flood" and r.forward(5).next_hop is None


def test_forgetting_leaves_a_gap_the_next_route_fills():
    r = native.Router(0, 4)
    for dst in (1, 2, 3):
        r.observe(dst, dst, 1)
    r.forget(1)
    r.observe(4, 9, 1)
    assert [d for d, _, _ in routes(r)] == [4, 2, 3]
    assert r.forget(99) is None and len(r) == 3


def test_forward_decisions_and_reprs():
    r = native.Router(1)
    r.observe(5, 2, 3)
    relay = r.forward(5)
    assert (relay.action, relay.next_hop) == ("Relay", 2)
    assert repr(relay) == "ForwardDecision(action='Relay', next_hop=2)"
    assert repr(r.forward(9)) == "ForwardDecision(action='Flood', next_hop=None)"
    assert repr(r.forward(1)) == "ForwardDecision(action='Deliver', next_hop=None)"
    assert repr(r.route(5)) == "Route(dst=5, next_hop=2, cost=3)"
    r.observe(1, 1, 1)
    assert r.forward(1).action == "Deliver"


def test_a_direct_neighbour_is_relayed_to():
    r = native.Router(1)
    r.observe(2, 2, 1)
    assert r.forward(2).next_hop == 2


def test_routes_are_snapshots():
    r = native.Router(1)
    r.observe(5, 2, 3)
    before = r.route(5)
    r.observe(5, 2, 9)
    assert before.cost == 3 and r.cost(5) == 9


def test_cost_range():
    r = native.Router(1)
    assert r.observe(5, 2, 65535)
    with pytest.raises(OverflowError):
        r.observe(5, 2, 65536)


def test_attributes():
    r = native.Router(0xFFFFFFFF, 3)
    assert (r.address, r.capacity) == (0xFFFFFFFF, 3)
    assert native.Router(1).capacity == native.routing_default_capacity() == 64
    with pytest.raises(TypeError):
        native.Router(1, None)
    assert r.next_hop(4) is None and r.cost(4) is None


def test_a_huge_table_costs_nothing_until_routes_arrive():
    r = native.Router(0, 2**40)  # its whole table would take terabytes
    assert r.capacity == 2**40
    for dst in range(1, 1001):
        assert r.observe(dst, dst % 7, 1)
    assert len(r) == 1000
    assert [route.dst for route in r.routes()] == list(range(1, 1001))
    assert r.next_hop(700) == 0 and r.forward(2000).action == "Flood"


@pytest.mark.parametrize("capacity", [2**62, 2**63, 2**64 - 1])
def test_a_route_table_past_any_memory_is_a_memory_error_with_its_reason(capacity):
    with pytest.raises(MemoryError) as info:
        native.Router(1, capacity)
    assert info.value.args == ("no route table can be that large",)
