"""A first look at trovik: the version, a mesh frame on its way through two
relays, and a route table learning from what it hears."""
import trovik._native as trovik

print("trovik", trovik.version())

# A node at address 1 sends "hello" to node 2 over a flooding mesh.
frame = trovik.mesh_frame(src=1, dst=2, id=258, payload=b"hello")
print("built   ", frame.bytes.hex(" "), f"({len(frame.bytes)} bytes, hop limit {frame.hop_limit})")

# A neighbour hears it, checks it, and relays it once, spending a hop.
seen = trovik.SeenPackets()
heard = trovik.mesh_parse_frame(frame.bytes)
if seen.record(heard.src, heard.id):
    relayed = trovik.mesh_relayed(heard.bytes)
    print("relayed ", relayed.bytes.hex(" "), f"(hop limit {relayed.hop_limit})")
print("a second copy is new:", seen.record(heard.src, heard.id))

# A mangled frame is refused.
mangled = bytearray(frame.bytes)
mangled[13] ^= 0x20
try:
    trovik.mesh_parse_frame(mangled)
except trovik.TrovikError as e:
    print("refused:", e)

# Node 1 learns routes from the traffic it hears and decides where packets go.
router = trovik.Router(address=1, capacity=4)
router.observe(origin=5, via=2, cost=3)   # node 5 heard through neighbour 2, three hops away
router.observe(origin=5, via=7, cost=1)   # a strictly cheaper way through neighbour 7
router.observe(origin=9, via=2, cost=2)
print("routes:", router.routes())
for dst in (1, 5, 6):
    print(f"packet for {dst}:", router.forward(dst))
