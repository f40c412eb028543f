"""Signed manifests, envelopes and delegations, update blocks, image
verification and the A/B slot updater.

Manifest bytes are checked against cbor2's canonical encoding, signatures
against PyNaCl and `cryptography` in both directions, and the updater through
scripted device lives with a reboot (on_boot) after every step.
"""
import hashlib
import inspect
import random

import cbor2
import nacl.signing
import pytest
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PublicKey

import trovik._native as native

MALFORMED = "the manifest is malformed"
UNSUPPORTED = "the manifest structure version is not supported"
BAD_SIGNATURE = "the manifest signature is not from the trusted key"
DIGEST = "the image does not match the manifest digest"
SIZE = "the image is not the size the manifest declares"
WRONG_DEVICE = "the manifest is for a different vendor or device class"
ROLLBACK = "the sequence number would roll the device back"
EXPIRED = "the manifest has expired"
NO_CLOCK = "the manifest expires and this device has no clock"
DOES_NOT_FIT = "the image does not fit the target slot"
NO_SUCH_SLOT = "no such slot on this device"
BAD_STATE = "the slot is not in a state that allows this"
NOTHING_TO_REVERT = "there is no confirmed image to revert to"
NOT_OPEN = "no transfer is open; call begin() first"

VENDOR = bytes(range(16))
CLASS = bytes(range(16, 32))
ANCHOR = native.DeviceIdentity(bytes([1]) * 32)
RELEASER = native.DeviceIdentity(bytes([3]) * 32)


def raises(text):
    return pytest.raises(native.TrovikError, match="^" + text.replace("(", r"\(").replace(")", r"\)") + "$")


def image(size, salt=0):
    return bytes((i * 7 + salt) & 0xFF for i in range(size))


def manifest(sequence, storage, payload, expires=0, **fields):
    return native.Manifest(sequence, fields.pop("vendor_id", VENDOR), fields.pop("class_id", CLASS), storage,
                           hashlib.sha256(payload).digest(), len(payload), expires, **fields)


def envelope(sequence, storage, payload, expires=0, author=ANCHOR):
    return native.sign_manifest(manifest(sequence, storage, payload, expires), author)


def as_dict(m, version=1):
    return {1: version, 2: m.sequence, 3: m.vendor_id, 4: m.class_id, 5: 1, 6: m.storage, 7: m.digest,
            8: m.size, 9: m.expires}


# ---------------------------------------------------------------------------
# Manifests in canonical CBOR

EDGES = [0, 1, 23, 24, 255, 256, 65535, 65536, 2**32 - 1, 2**32, 2**64 - 1]


@pytest.mark.parametrize("sequence", EDGES)
@pytest.mark.parametrize("expires", [0, 24, 2**32, 2**64 - 1])
def test_encode_manifest_is_cbor2_canonical(sequence, expires):
    for size, storage in [(0, 0), (23, 23), (24, 24), (65536, 255), (2**32 - 1, 7)]:
        m = native.Manifest(sequence, VENDOR, CLASS, storage, bytes(range(32)), size, expires)
        body = native.encode_manifest(m)
        assert body == cbor2.dumps(as_dict(m), canonical=True)
        assert cbor2.loads(body) == as_dict(m)
        back = native.decode_manifest(body)
        for name in ("sequence", "vendor_id", "class_id", "storage", "digest", "size", "expires", "format",
                     "structure_version"):
            assert getattr(back, name) == getattr(m, name), name
        assert back != m  # no comparison: == is identity


def test_manifest_body_sizes_and_version():
    smallest = native.Manifest(0, VENDOR, CLASS, 0, bytes(32), 0)
    largest = native.Manifest(2**64 - 1, VENDOR, CLASS, 255, bytes(32), 2**32 - 1, 2**64 - 1, structure_version=255)
    assert len(native.encode_manifest(smallest)) == 84
    assert native.encode_manifest(largest) == cbor2.dumps(as_dict(largest, 255), canonical=True)
    assert len(native.encode_manifest(largest)) == 106
    # Another structure version encodes and signs, and no reader takes it.
    v2 = native.Manifest(1, VENDOR, CLASS, 0, bytes(32), 0, structure_version=2)
    with raises(UNSUPPORTED):
        native.decode_manifest(native.encode_manifest(v2))
    with raises(UNSUPPORTED):
        native.verify_envelope(native.sign_manifest(v2, ANCHOR), ANCHOR.public_key)


def good_body(**changes):
    fields = {1: 1, 2: 5, 3: VENDOR, 4: CLASS, 5: 1, 6: 0, 7: bytes(32), 8: 100, 9: 0}
    fields.update(changes)
    return fields


def head(major, info, arg=b""):
    return bytes([major << 5 | info]) + arg


def canonical(fields):
    return cbor2.dumps(fields, canonical=True)


def raw_map(pairs, tail=b""):
    """A map written pair by pair, keys in the given order, values pre-encoded."""
    return bytes([0xA0 | len(pairs)]) + b"".join(bytes([k]) + v for k, v in pairs) + tail


def pairs(**encoded):
    fields = good_body()
    out = []
    for key in range(1, 10):
        value = encoded.get(f"k{key}")
        out.append((key, value if value is not None else cbor2.dumps(fields[key], canonical=True)))
    return out


REFUSED_BODIES = [
    ("structure version 2", canonical({**good_body(), 1: 2}), UNSUPPORTED),
    ("structure version 256", canonical({**good_body(), 1: 256}), MALFORMED),
    ("format 2", canonical({**good_body(), 5: 2}), UNSUPPORTED),
    ("vendor of 15 bytes", canonical({**good_body(), 3: bytes(15)}), MALFORMED),
    ("vendor of 17 bytes", canonical({**good_body(), 3: bytes(17)}), MALFORMED),
    ("digest of 31 bytes", canonical({**good_body(), 7: bytes(31)}), MALFORMED),
    ("size 2^32", canonical({**good_body(), 8: 2**32}), MALFORMED),
    ("storage 256", canonical({**good_body(), 6: 256}), MALFORMED),
    ("negative sequence", canonical({**good_body(), 2: -1}), MALFORMED),
    ("text vendor", canonical({**good_body(), 3: "x" * 16}), MALFORMED),
    ("float size", canonical({**good_body(), 8: 1.5}), MALFORMED),
    ("tagged sequence", canonical({**good_body(), 2: cbor2.CBORTag(2, b"\x05")}), MALFORMED),
    ("nested map", canonical({**good_body(), 9: {1: 1}}), MALFORMED),
    ("array of the values", cbor2.dumps(list(good_body().values())), MALFORMED),
    ("a missing key", canonical({k: v for k, v in good_body().items() if k != 9}), MALFORMED),
    ("an extra key", canonical({**good_body(), 10: 0}), MALFORMED),
    ("keys out of order", cbor2.dumps({2: 5, 1: 1, **{k: v for k, v in good_body().items() if k > 2}}),
     MALFORMED),
    ("a duplicated key", raw_map(pairs()[:8] + [(8, b"\x00")]), MALFORMED),
    ("one trailing byte", canonical(good_body()) + b"\x00", MALFORMED),
    ("padded sequence 18 05", raw_map(pairs(k2=b"\x18\x05")), MALFORMED),
    ("padded size 19 00 64", raw_map(pairs(k8=b"\x19\x00\x64")), MALFORMED),
    ("padded expiry 1a 00 00 ff ff", raw_map(pairs(k9=b"\x1a\x00\x00\xff\xff")), MALFORMED),
    ("padded expiry 1b", raw_map(pairs(k9=b"\x1b\x00\x00\x00\x00\xff\xff\xff\xff")), MALFORMED),
    ("padded byte-string length", raw_map(pairs(k3=b"\x58\x10" + VENDOR)), MALFORMED),
    ("indefinite vendor string", raw_map(pairs(k3=b"\x5f\x50" + VENDOR + b"\xff")), MALFORMED),
    ("indefinite map", b"\xbf" + canonical(good_body())[1:] + b"\xff", MALFORMED),
    ("reserved additional information", raw_map(pairs(k2=b"\x1c")), MALFORMED),
    ("cut short", canonical(good_body())[:-1], MALFORMED),
    ("empty", b"", MALFORMED),
    ("a byte string announcing more than follows", raw_map(pairs()[:6] + [(7, b"\x5b" + b"\xff" * 8)]),
     MALFORMED),
]


@pytest.mark.parametrize("name,body,text", REFUSED_BODIES, ids=[case[0] for case in REFUSED_BODIES])
def test_decode_refuses_all_but_the_one_encoding(name, body, text):
    with raises(text):
        native.decode_manifest(body)


def test_good_body_decodes():
    assert native.decode_manifest(canonical(good_body())).sequence == 5
    # A well-formed padded head is still valid CBOR to cbor2, but not ours.
    padded = raw_map(pairs(k2=b"\x18\x05"))
    assert cbor2.loads(padded) == good_body()


@pytest.mark.parametrize("field,value,text", [
    ("vendor_id", bytes(15), "vendor_id must be exactly 16 bytes"),
    ("class_id", bytes(17), "class_id must be exactly 16 bytes"),
    ("digest", bytes(31), "digest must be exactly 32 bytes"),
    ("format", 2, UNSUPPORTED),
])
def test_manifest_fields_are_judged_when_used(field, value, text):
    args = dict(sequence=1, vendor_id=VENDOR, class_id=CLASS, storage=0, digest=bytes(32), size=0)
    args[field] = value
    m = native.Manifest(**args)  # made without complaint
    assert getattr(m, field) == value
    for use in (native.encode_manifest, lambda m: native.sign_manifest(m, ANCHOR), native.ImageVerifier):
        with raises(text):
            use(m)


def test_format_is_judged_before_the_lengths():
    m = native.Manifest(1, bytes(3), CLASS, 0, bytes(32), 0, format=2)
    with raises(UNSUPPORTED):
        native.encode_manifest(m)


@pytest.mark.parametrize("call", [
    lambda: native.Manifest(-1, VENDOR, CLASS, 0, bytes(32), 0),
    lambda: native.Manifest(2**64, VENDOR, CLASS, 0, bytes(32), 0),
    lambda: native.Manifest(1, VENDOR, CLASS, 256, bytes(32), 0),
    lambda: native.Manifest(1, VENDOR, CLASS, 0, bytes(32), 2**32),
    lambda: native.Updater(VENDOR, CLASS, ANCHOR.public_key, 2, 100).begin(b"", now=-1),
])
def test_integer_widths(call):
    with pytest.raises(OverflowError):
        call()


def test_argument_kinds():
    with pytest.raises(TypeError):
        native.Manifest(1, "x" * 16, CLASS, 0, bytes(32), 0)
    with pytest.raises(TypeError):
        native.encode_manifest(native.Delegation(1, bytes(32)))
    # Any sequence of byte values is bytes.
    m = native.Manifest(1, list(VENDOR), bytearray(CLASS), 0, bytes(32), 0)
    assert native.encode_manifest(m) == native.encode_manifest(native.Manifest(1, VENDOR, CLASS, 0, bytes(32), 0))


# ---------------------------------------------------------------------------
# Envelopes and delegations, against PyNaCl and cryptography


def test_envelopes_verify_with_pynacl_and_cryptography():
    m = native.Manifest(0, VENDOR, CLASS, 0, bytes(32), 0)
    env = native.sign_manifest(m, ANCHOR)
    assert len(env) == 155 and env[:4] == bytes.fromhex("a2015854")
    fields = cbor2.loads(env)
    assert env == cbor2.dumps(fields, canonical=True)
    body, signature = fields[1], fields[2]
    assert body == native.encode_manifest(m) == native.envelope_body(env)
    nacl.signing.VerifyKey(ANCHOR.public_key).verify(body, signature)
    Ed25519PublicKey.from_public_bytes(ANCHOR.public_key).verify(signature, body)


def test_envelopes_signed_by_pynacl_verify_here():
    key = nacl.signing.SigningKey(bytes([9]) * 32)
    body = canonical(good_body())
    env = cbor2.dumps({1: body, 2: key.sign(body).signature}, canonical=True)
    assert native.verify_envelope(env, bytes(key.verify_key)).sequence == 5
    with raises(BAD_SIGNATURE):
        native.verify_envelope(env, ANCHOR.public_key)


def test_envelope_refusals():
    env = native.sign_manifest(native.Manifest(1, VENDOR, CLASS, 0, bytes(32), 0), ANCHOR)
    fields = cbor2.loads(env)
    altered_body = bytearray(fields[1])
    altered_body[5] ^= 1
    altered = cbor2.dumps({1: bytes(altered_body), 2: fields[2]}, canonical=True)
    assert native.envelope_body(altered) == bytes(altered_body)  # relayed unjudged
    with raises(BAD_SIGNATURE):
        native.verify_envelope(altered, ANCHOR.public_key)
    for bad in (cbor2.dumps({1: fields[1], 2: fields[2][:63]}), cbor2.dumps({1: fields[1], 2: fields[2] + b"\0"}),
                env + b"\0", env[:-1], cbor2.dumps({2: fields[2], 1: fields[1]}), b""):
        with raises(MALFORMED):
            native.envelope_body(bad)
        with raises(MALFORMED):
            native.verify_envelope(bad, ANCHOR.public_key)


@pytest.mark.parametrize("call", [
    lambda key: native.verify_envelope(b"", key),
    lambda key: native.open_delegation(b"", key),
    lambda key: native.Updater(VENDOR, CLASS, key, 2, 10),
])
def test_public_key_arguments(call):
    with raises("public_key must be exactly 32 bytes"):
        call(bytes(31))
    with raises("authentication error: invalid public identity"):
        call(bytes([1]) + bytes(31))  # the identity point


def test_delegations_against_pynacl():
    d = native.Delegation(7, RELEASER.public_key, 2_000_000_000)
    env = native.sign_delegation(d, ANCHOR)
    assert 111 <= len(env) <= 127
    fields = cbor2.loads(env)
    assert fields[1] == cbor2.dumps({1: 7, 2: RELEASER.public_key, 3: 2_000_000_000}, canonical=True)
    nacl.signing.VerifyKey(ANCHOR.public_key).verify(fields[1], fields[2])
    opened = native.open_delegation(env, ANCHOR.public_key)
    assert (opened.epoch, opened.release_key, opened.expires) == (7, RELEASER.public_key, 2_000_000_000)
    with raises(BAD_SIGNATURE):
        native.open_delegation(native.sign_delegation(d, RELEASER), ANCHOR.public_key)
    with raises(MALFORMED):
        native.open_delegation(native.sign_manifest(manifest(1, 0, b""), ANCHOR), ANCHOR.public_key)
    with raises("release_key must be exactly 32 bytes"):
        native.sign_delegation(native.Delegation(1, bytes(31)), ANCHOR)
    # A delegation written by PyNaCl and cbor2 opens here.
    key = nacl.signing.SigningKey(bytes([9]) * 32)
    body = cbor2.dumps({1: 2**40, 2: RELEASER.public_key, 3: 0}, canonical=True)
    foreign = cbor2.dumps({1: body, 2: key.sign(body).signature}, canonical=True)
    assert native.open_delegation(foreign, bytes(key.verify_key)).epoch == 2**40


# ---------------------------------------------------------------------------
# Update blocks and image verification


def test_update_blocks():
    env = native.sign_manifest(native.Manifest(0, VENDOR, CLASS, 0, bytes(32), 0), ANCHOR)
    img = image(1000)
    block = native.frame_update_block(env, img)
    assert len(block) == 1161 and block[:6] == b"TKU1\x9b\x00"
    assert native.split_update_block(block) == (env, img)
    assert native.split_update_block(block[:6 + len(env)]) == (env, b"")
    assert native.update_block_descriptor() == "TKU1"
    assert native.update_format_raw() == native.update_structure_version() == 1
    assert len(native.frame_update_block(bytes(65535), b"")) == 65541
    with raises(SIZE):
        native.frame_update_block(bytes(65536), b"")
    for short in (block[:3], block[:5], b"TKU2\x00\x00"):
        with raises(MALFORMED):
            native.split_update_block(short)
    with raises(SIZE):
        native.split_update_block(block[:6 + len(env) - 1])


def cuts(data, rng):
    """The data cut at random places, including empty pieces."""
    points = sorted(rng.randrange(len(data) + 1) for _ in range(rng.randrange(12)))
    pieces, start = [], 0
    for point in points + [len(data)]:
        pieces.append(data[start:point])
        start = point
    return pieces


@pytest.mark.parametrize("seed", range(8))
def test_image_verifier_verdict_does_not_depend_on_chunking(seed):
    rng = random.Random(seed)
    img = image(rng.randrange(1, 3000), seed)
    m = manifest(1, 0, img)
    changed = bytearray(img)
    changed[rng.randrange(len(img))] ^= 0x40
    for data, verdict in [(img, None), (bytes(changed), DIGEST), (img[:-1], SIZE), (img + b"\0", SIZE)]:
        for pieces in ([data], [data[i:i + 1] for i in range(len(data))], cuts(data, rng), cuts(data, rng)):
            v = native.ImageVerifier(m)
            failed = None
            try:
                for piece in pieces:
                    v.update(piece)
                digest = v.finish()
            except native.TrovikError as e:
                failed = str(e)
            if verdict is None:
                assert failed is None and digest == hashlib.sha256(img).digest()
            else:
                assert failed == verdict


def test_image_verifier_is_spent_by_finish():
    v = native.ImageVerifier(manifest(1, 0, b""))
    assert v.finish() == hashlib.sha256(b"").digest()
    for call in (v.finish, lambda: v.update(b"")):
        with raises("this verifier has already been settled"):
            call()
    v = native.ImageVerifier(manifest(1, 0, b"abc"))
    v.update(b"ab")
    with raises(SIZE):
        v.update(b"cd")
    with raises(SIZE):
        v.update(b"")  # once past the size, for good
    with raises(SIZE):
        v.finish()
    with raises("this verifier has already been settled"):
        v.finish()


# ---------------------------------------------------------------------------
# The updater


def updater(slots=2, capacity=4096):
    return native.Updater(VENDOR, CLASS, ANCHOR.public_key, slots, capacity)


def state(u, slot):
    return u.slot_record(slot).state


def decision(u):
    d = u.on_boot()
    return d.action, d.slot, d.fallback


def test_fresh_updater():
    u = updater()
    assert (u.slot_count, u.installed_sequence, u.delegation) == (2, 0, None)
    record = u.slot_record(0)
    assert (record.state, record.sequence, record.size, record.written, record.digest) == ("Empty", 0, 0, 0, bytes(32))
    with raises(NO_SUCH_SLOT):
        u.slot_record(2)
    with raises(NOTHING_TO_REVERT):
        u.on_boot()
    for call in (u.progress, u.finish, lambda: u.write(b"x")):
        with raises(NOT_OPEN):
            call()
    with raises(ROLLBACK):
        u.stage(envelope(0, 1, b"x"), b"x")
    assert u.stage(envelope(1, 1, b"x"), b"x") == 1


def test_release_rules():
    u = updater(2, 100)
    u.provision(0, 5)
    with raises(BAD_STATE):
        u.provision(1, 6)
    img = image(50)
    foreign = native.sign_manifest(manifest(9, 1, img, class_id=bytes(16)), ANCHOR)
    too_big = native.sign_manifest(native.Manifest(9, VENDOR, CLASS, 1, bytes(32), 101), ANCHOR)
    cases = [
        (foreign, None, WRONG_DEVICE),
        (envelope(9, 1, img, 1000), None, NO_CLOCK),
        (envelope(9, 1, img, 1000), 1000, EXPIRED),
        (envelope(5, 1, img), None, ROLLBACK),
        (envelope(9, 2, img), None, NO_SUCH_SLOT),
        (too_big, None, DOES_NOT_FIT),
        (envelope(9, 0, img), None, BAD_STATE),
        (envelope(9, 1, img, author=RELEASER), None, BAD_SIGNATURE),
        (envelope(9, 1, img)[:-1], None, MALFORMED),
    ]
    for env, now, text in cases:
        for call in (lambda: u.begin(env, now), lambda: u.stage(env, img, now=now)):
            with raises(text):
                call()
        assert state(u, 1) == "Empty"  # refused before the slot is touched
    assert u.stage(envelope(6, 1, img, 1000), img, 999) == 1


def test_a_scripted_life():
    u = updater()
    u.provision(0, 5)
    assert decision(u) == ("Confirmed", 0, 0)
    img = image(700, 3)
    assert u.begin(envelope(6, 1, img)) == 1
    assert state(u, 1) == "Receiving"
    for i in range(len(img)):
        u.write(img[i:i + 1])
        p = u.progress()
        assert (p.written, p.total) == (i + 1, 700)
    assert u.finish() == 1
    with raises(NOT_OPEN):
        u.finish()
    record = u.slot_record(1)
    assert (record.state, record.sequence, record.size, record.written) == ("Staged", 6, 700, 700)
    assert record.digest == hashlib.sha256(img).digest()
    assert u.installed_sequence == 6
    assert decision(u) == ("Trying", 1, 1)
    assert u.confirm() == 1
    assert state(u, 0) == "Empty"
    assert decision(u) == ("Confirmed", 1, 1)
    with raises(BAD_STATE):
        u.confirm()
    # The next release goes into the erased slot, and is given up.
    assert u.stage(envelope(7, 0, img), img) == 0
    assert decision(u) == ("Trying", 0, 0)
    assert decision(u) == ("Reverted", 0, 1)
    assert state(u, 0) == "Failed"
    with raises(ROLLBACK):
        u.stage(envelope(7, 0, img), img)


def test_transfer_errors_and_resumption():
    u = updater(3)
    img = image(300)
    u.begin(envelope(1, 1, img))
    u.write(img[:100])
    with raises(SIZE):
        u.write(img[100:] + b"\0")
    assert u.progress().written == 100  # re-opened from the slot
    u.write(img[100:])
    assert u.finish() == 1
    # A changed byte fails at finish; the slot keeps what arrived.
    u.begin(envelope(2, 2, img))
    u.write(img[:-1] + b"\0")
    with raises(DIGEST):
        u.finish()
    assert (state(u, 2), u.slot_record(2).written) == ("Receiving", 300)
    # A newer image staged meanwhile overtakes an open transfer.
    u.begin(envelope(3, 0, img))
    u.write(img[:10])
    u.stage(envelope(4, 2, img), img)
    with raises(ROLLBACK):
        u.write(img[10:])
    with raises(ROLLBACK):
        u.progress()


def test_adopt_mid_transfer():
    u = updater()
    img = image(200)
    u.begin(envelope(1, 0, img))
    u.write(img[:50])
    d = native.Delegation(1, RELEASER.public_key)
    adopted = u.adopt(native.sign_delegation(d, ANCHOR))
    assert (adopted.epoch, adopted.release_key, adopted.expires) == (1, RELEASER.public_key, 0)
    assert u.delegation.release_key == RELEASER.public_key
    with raises(BAD_SIGNATURE):
        u.write(img[50:])
    with raises(BAD_SIGNATURE):
        u.progress()
    # The same release signed by the release key resumes from the slot.
    u.begin(envelope(1, 0, img, author=RELEASER))
    u.write(img)
    assert u.finish() == 0
    with raises(ROLLBACK):
        u.adopt(native.sign_delegation(d, ANCHOR))
    with raises(BAD_SIGNATURE):
        u.adopt(native.sign_delegation(native.Delegation(2, ANCHOR.public_key), RELEASER))
    with raises(BAD_SIGNATURE):
        u.adopt(native.sign_delegation(native.Delegation(2, bytes([1]) + bytes(31)), ANCHOR))
    assert u.delegation.epoch == 1


# ---------------------------------------------------------------------------
# Mended behaviour, with a reboot after every step of a device's life


def life(u, img):
    """A device's life, one call at a time."""
    yield lambda: u.provision(0, 5)
    yield lambda: u.begin(envelope(6, 1, img))
    for i in range(0, len(img), 40):
        yield lambda i=i: u.write(img[i:i + 40])
    yield u.finish
    yield u.on_boot  # tries release 6
    yield u.confirm
    yield lambda: u.stage(envelope(7, 0, img), img)
    yield u.on_boot  # tries release 7 ...
    yield u.on_boot  # ... which never confirmed: back to 6
    yield lambda: u.stage(envelope(8, 0, img), img)


def runnable(u, d):
    return u.slot_record(d.fallback).state in ("Confirmed", "Pending")


LIFE_STEPS = 14


@pytest.mark.parametrize("cut", range(LIFE_STEPS))
def test_a_reboot_after_any_step_finds_an_image_to_run(cut):
    img = image(200)
    u = updater()
    steps = list(life(u, img))
    assert len(steps) == LIFE_STEPS
    floor = 0
    for step in steps[:cut + 1]:
        step()
        assert u.installed_sequence >= floor
        floor = u.installed_sequence
    d = u.on_boot()  # from provisioning on, there is always an image
    assert runnable(u, d)
    # A second reboot agrees on what runs, and nothing older comes back.
    again = u.on_boot()
    assert runnable(u, again)
    # It runs the same image, or gives up the one that was being tried.
    assert again.fallback == d.fallback or (again.action == "Reverted" and again.slot == d.fallback)
    for old in range(1, u.installed_sequence + 1):
        for slot in range(2):
            with pytest.raises(native.TrovikError, match=f"^({ROLLBACK}|{BAD_STATE})$"):
                u.stage(envelope(old, slot, img), img)


def trying(sequence):
    """A device running release 5 from slot 0 and trying `sequence` in slot 1."""
    u = updater()
    u.provision(0, 5)
    img = image(64)
    u.stage(envelope(sequence, 1, img), img)
    assert decision(u) == ("Trying", 1, 1)
    return u, img


def test_a_confirmed_image_replaces_the_old_one_and_runs_from_then_on():
    u, _ = trying(6)
    assert u.confirm() == 1
    assert [state(u, s) for s in range(2)] == ["Empty", "Confirmed"]
    for _ in range(3):
        assert decision(u) == ("Confirmed", 1, 1)


def test_a_pending_image_with_no_fallback_is_tried_again():
    u = updater()
    img = image(64)
    u.stage(envelope(1, 0, img), img)
    for _ in range(3):
        assert decision(u) == ("Trying", 0, 0)
        assert state(u, 0) == "Pending"
    with raises(NOTHING_TO_REVERT):
        u.revert()
    assert u.confirm() == 0
    assert decision(u) == ("Confirmed", 0, 0)


def test_an_erased_failed_release_is_not_accepted_again():
    u, img = trying(8)
    assert decision(u) == ("Reverted", 1, 0)
    # A release whose image does not match erases the failed one's record.
    with raises(DIGEST):
        u.stage(envelope(9, 1, img), image(64, 1))
    assert state(u, 1) == "Receiving"
    assert u.installed_sequence == 8
    with raises(ROLLBACK):
        u.stage(envelope(8, 1, img), img)
    # An interrupted transfer does not raise the floor, so it can be begun again.
    u.begin(envelope(9, 1, img))
    u.write(img[:10])
    assert u.installed_sequence == 8
    u.begin(envelope(9, 1, img))
    u.write(img)
    assert u.finish() == 1
    assert u.installed_sequence == 9


def test_a_delegation_past_its_expiry_stops_authorizing_releases():
    u = updater()
    img = image(64)
    d = native.sign_delegation(native.Delegation(1, RELEASER.public_key, 1000), ANCHOR)
    with raises(NO_CLOCK):
        u.adopt(d)
    with raises(EXPIRED):
        u.adopt(d, 1000)
    u.adopt(d, 500)
    env = envelope(1, 0, img, author=RELEASER)
    with raises(NO_CLOCK):
        u.stage(env, img)
    with raises(EXPIRED):
        u.stage(env, img, now=1000)
    u.begin(env, now=999)
    u.write(img)
    assert u.finish() == 0


# ---------------------------------------------------------------------------
# The Python surface


def test_signatures_and_docs():
    assert inspect.signature(native.Manifest).parameters["structure_version"].default is not None
    assert native.Manifest.__text_signature__ == (
        "(sequence, vendor_id, class_id, storage, digest, size, expires=0, format=1, structure_version=...)")
    assert native.Delegation.__text_signature__ == "(epoch, release_key, expires=0)"
    assert native.Updater.__text_signature__ == "(vendor_id, class_id, anchor_public_key, slot_count, slot_capacity)"
    assert native.Updater.begin.__text_signature__ == "($self, envelope, now=None)"
    assert native.Updater.stage.__text_signature__ == "($self, envelope, image, now=None)"
    assert native.ImageVerifier.update.__doc__.startswith("Takes the next piece of the image, in order.")
    assert native.Updater.on_boot.__doc__.startswith("Decides what to run, and records that decision")
    assert native.image_digest.__doc__ == "Hashes a complete image, for a publisher filling in a manifest."
    assert native.image_digest(b"abc") == hashlib.sha256(b"abc").digest()
    for cls in (native.SlotRecord, native.BootDecision, native.Progress):
        with pytest.raises(TypeError):
            cls()
