"""Device identities and signatures, secure sessions, and the audit log.

Checked against `cryptography` (OpenSSL) and PyNaCl (libsodium): signatures
both ways, a session peer built from their primitives, and the audit chain's
digests against hashlib.
"""
import hashlib
import hmac
import inspect
import pickle
import random

import nacl.bindings
import nacl.exceptions
import nacl.signing
import pytest
from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey, Ed25519PublicKey
from cryptography.hazmat.primitives.kdf.hkdf import HKDF

import trovik._native as native

# ---------------------------------------------------------------------------
# An independent model of reading an Ed25519 key: RFC 8032 decompression with
# y taken modulo p (as verification reads it), and the order test [8]P = O.
P = 2**255 - 19
D = (-121665 * pow(121666, -1, P)) % P
SQRT_M1 = pow(2, (P - 1) // 4, P)


def model_point(encoded):
    y = (int.from_bytes(encoded, "little") & ((1 << 255) - 1)) % P
    x2 = (y * y - 1) * pow(D * y * y + 1, -1, P) % P
    x = pow(x2, (P + 3) // 8, P)
    if (x * x - x2) % P:
        x = x * SQRT_M1 % P
    if (x * x - x2) % P:
        return None
    return x, y


def model_add(a, b):
    (x1, y1), (x2, y2) = a, b
    t = D * x1 * x2 * y1 * y2
    return ((x1 * y2 + x2 * y1) * pow(1 + t, -1, P) % P, (y1 * y2 + x1 * x2) * pow(1 - t, -1, P) % P)


def model_key_is_usable(encoded):
    point = model_point(encoded)
    if point is None:
        return False
    for _ in range(3):
        point = model_add(point, point)
    return point != (0, 1)


P_MINUS_1 = (P - 1).to_bytes(32, "little")
SMALL_ORDER_KEYS = [
    bytes([1]) + bytes(31),  # the identity
    bytes([1]) + bytes(30) + b"\x80",
    P_MINUS_1,  # order 2
    bytes(32),  # order 4
    bytes(31) + b"\x80",
    bytes.fromhex("26e8958fc2b227b045c3f489f2ef98f0d5dfac05d3c63339b13802886d53fc05"),  # order 8
    bytes.fromhex("c7176a703d4dd84fba3c0b760d10670f2a2053fa2c39ccc64ec7fd7792ac037a"),
    P.to_bytes(32, "little"),  # 0 and 1, unreduced
    (P + 1).to_bytes(32, "little"),
]
NOT_A_POINT = bytes([2]) + bytes(31)

# RFC 8032 section 7.1: seed, public key, message, signature.
RFC8032 = [
    ("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
     "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24"
     "655141438e7a100b"),
    ("4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
     "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb"
     "00d291612bb0c00"),
    ("c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
     "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc"
     "027beceea1ec40a"),
]


@pytest.fixture
def rng():
    return random.Random(0x5EC)


# ---------------------------------------------------------------------------
# Identities and signatures


@pytest.mark.parametrize("seed, public_key, message, signature", RFC8032)
def test_rfc8032_vectors(seed, public_key, message, signature):
    identity = native.DeviceIdentity(bytes.fromhex(seed))
    assert identity.public_key.hex() == public_key
    assert identity.sign(bytes.fromhex(message)).hex() == signature
    assert native.verify(bytes.fromhex(public_key), bytes.fromhex(message), bytes.fromhex(signature)) is True


def test_signatures_verify_both_ways_with_cryptography_and_pynacl(rng):
    for _ in range(40):
        seed = rng.randbytes(32)
        payload = rng.randbytes(rng.randrange(0, 300))
        ours = native.DeviceIdentity(seed)
        theirs_ossl = Ed25519PrivateKey.from_private_bytes(seed)
        theirs_nacl = nacl.signing.SigningKey(seed)
        assert ours.public_key == theirs_ossl.public_key().public_bytes_raw() == bytes(theirs_nacl.verify_key)

        signature = ours.sign(payload)
        assert signature == theirs_ossl.sign(payload) == theirs_nacl.sign(payload).signature
        theirs_ossl.public_key().verify(signature, payload)
        assert theirs_nacl.verify_key.verify(payload, signature) == payload
        assert theirs_nacl.verify_key.verify(ours.sign_message(payload)) == payload

        # Theirs, checked by us.
        other = rng.randbytes(32)
        nacl_signed = nacl.signing.SigningKey(other).sign(payload)
        nacl_key = bytes(nacl.signing.SigningKey(other).verify_key)
        assert native.verify(nacl_key, payload, nacl_signed.signature) is True
        assert native.verify_message(nacl_key, bytes(nacl_signed)) == payload


@pytest.mark.parametrize("seed", [bytes(31), bytes(33), b""])
def test_seed_of_the_wrong_length(seed):
    with pytest.raises(ValueError, match="^seed must be exactly 32 bytes$"):
        native.DeviceIdentity(seed)


def test_byte_arguments_take_sequences_of_integers_but_not_text():
    seed = list(range(32))
    assert native.DeviceIdentity(seed).public_key == native.DeviceIdentity(bytes(seed)).public_key
    assert native.DeviceIdentity(bytearray(seed)).sign([1, 2, 3]) == native.DeviceIdentity(bytes(seed)).sign(b"\1\2\3")
    with pytest.raises(TypeError):
        native.DeviceIdentity("x" * 32)
    with pytest.raises(OverflowError):
        native.DeviceIdentity([256] + [0] * 31)


def test_the_same_seed_gives_the_same_identity():
    a, b = native.DeviceIdentity(bytes(range(32))), native.DeviceIdentity(bytes(range(32)))
    assert a.public_key == b.public_key and a.fingerprint == b.fingerprint
    assert a.sign(b"payload") == b.sign(b"payload")
    assert a != b  # no comparison: == is identity


def test_empty_payloads_and_short_messages():
    identity = native.DeviceIdentity(bytes(range(32)))
    assert len(identity.sign(b"")) == 64
    message = identity.sign_message(b"")
    assert message == identity.sign(b"") and len(message) == 64
    assert native.verify_message(identity.public_key, message) == b""
    assert native.verify_message(identity.public_key, message[:63]) is None
    signed = identity.sign_message(b"reading=12")
    assert signed[64:] == b"reading=12"
    assert native.verify_message(identity.public_key, signed) == b"reading=12"


def test_any_flipped_bit_fails(rng):
    identity = native.DeviceIdentity(rng.randbytes(32))
    payload = b"open valve 3"
    signature = identity.sign(payload)
    message = identity.sign_message(payload)
    for bit in range(0, 8 * len(message), 5):
        flipped = bytearray(message)
        flipped[bit // 8] ^= 1 << (bit % 8)
        assert native.verify_message(identity.public_key, bytes(flipped)) is None
        if bit < 512:
            assert native.verify(identity.public_key, payload, bytes(flipped[:64])) is False
        else:
            assert native.verify(identity.public_key, bytes(flipped[64:]), signature) is False
    other = native.DeviceIdentity(rng.randbytes(32))
    assert native.verify(other.public_key, payload, signature) is False
    assert native.verify_message(other.public_key, message) is None


def test_a_key_that_is_no_curve_point():
    assert native.verify(NOT_A_POINT, b"x", bytes(64)) is False
    assert native.verify_message(NOT_A_POINT, bytes(70)) is None
    with pytest.raises(native.TrovikError, match="^authentication error: invalid public identity$"):
        native.fingerprint(NOT_A_POINT)


@pytest.mark.parametrize("key", SMALL_ORDER_KEYS, ids=lambda k: k.hex()[:8] + k.hex()[-2:])
def test_small_order_keys_are_refused(key):
    assert not model_key_is_usable(key)
    # With the identity as key and R, S = 0 verifies over every message:
    # OpenSSL itself takes it; reading the key here refuses it.
    forged = bytes([1]) + bytes(63)
    if key == SMALL_ORDER_KEYS[0]:
        Ed25519PublicKey.from_public_bytes(key).verify(forged, b"any message at all")
    assert native.verify(key, b"any message at all", forged) is False
    assert native.verify_message(key, forged + b"any message at all") is None
    with pytest.raises(native.TrovikError, match="^authentication error: invalid public identity$"):
        native.fingerprint(key)


def test_reading_keys_agrees_with_an_independent_model(rng):
    keys = [rng.randbytes(32) for _ in range(300)]
    # Unreduced y: p + k for small k reads as k.
    keys += [(P + k).to_bytes(32, "little") for k in range(2, 19)]
    usable = 0
    for key in keys:
        try:
            assert native.fingerprint(key) == key[:8].hex()
            accepted = True
        except native.TrovikError:
            accepted = False
        assert accepted == model_key_is_usable(key), key.hex()
        # libsodium is stricter (canonical, prime-order subgroup); what it takes, we take.
        if nacl.bindings.crypto_core_ed25519_is_valid_point(key):
            assert accepted
        usable += accepted
    assert 100 < usable < 250


def test_wrong_lengths_name_the_argument_in_order():
    with pytest.raises(ValueError, match="^public_key must be exactly 32 bytes$"):
        native.verify(bytes(31), b"", bytes(63))
    with pytest.raises(ValueError, match="^signature must be exactly 64 bytes$"):
        native.verify(bytes(32), b"", bytes(63))
    with pytest.raises(ValueError, match="^public_key must be exactly 32 bytes$"):
        native.verify_message(bytes(33), bytes(64))
    with pytest.raises(ValueError, match="^public_key must be exactly 32 bytes$"):
        native.fingerprint(b"")


def test_fingerprints_and_the_text_form(rng):
    for _ in range(20):
        identity = native.DeviceIdentity(rng.randbytes(32))
        fp = identity.fingerprint
        assert fp == native.fingerprint(identity.public_key) == identity.public_key[:8].hex()
        assert len(fp) == 16 and fp == fp.lower()
        assert repr(identity) == f'DeviceIdentity(fingerprint="{fp}")'
    seed = bytes(range(32))
    assert seed.hex() not in repr(native.DeviceIdentity(seed))
    assert native.fingerprint(bytes.fromhex(RFC8032[0][1])) == "d75a980182b10ab7"


def test_an_identity_is_not_pickled():
    with pytest.raises(TypeError):
        pickle.dumps(native.DeviceIdentity(bytes(32)))


def test_signatures_and_docs():
    assert str(inspect.signature(native.DeviceIdentity)) == "(seed)"
    assert native.DeviceIdentity.sign.__text_signature__ == "($self, payload)"
    assert str(inspect.signature(native.verify)) == "(public_key, payload, signature)"
    assert native.DeviceIdentity.__doc__ == "A device's private signing identity."
    assert native.fingerprint.__doc__ == "Returns the short hex fingerprint of a public key."


# ---------------------------------------------------------------------------
# Sessions: a peer built from PyNaCl's X25519 and ChaCha20-Poly1305 and
# cryptography's HKDF, knowing only the documented layout.


class ModelSession:
    LABEL = b"trovik-session v1"

    def __init__(self, secret, peer_public_key, salt, role):
        own = nacl.bindings.crypto_scalarmult_base(secret)
        shared = nacl.bindings.crypto_scalarmult(secret, peer_public_key)
        initiator, responder = (own, peer_public_key) if role == "Initiator" else (peer_public_key, own)
        okm = HKDF(hashes.SHA256(), 35, salt, self.LABEL + initiator + responder).derive(shared)
        self.key, self.prefix = okm[:32], okm[32:]
        self.own, self.peer = (0, 1) if role == "Initiator" else (1, 0)
        self.counter = 0

    def nonce(self, direction, counter):
        return bytes([direction]) + self.prefix + counter.to_bytes(8, "big")

    def seal(self, plaintext, aad=b"", counter=None):
        counter = self.counter if counter is None else counter
        self.counter = counter + 1
        sealed = nacl.bindings.crypto_aead_chacha20poly1305_ietf_encrypt(plaintext, aad, self.nonce(self.own, counter),
                                                                          self.key)
        return native.SealedMessage(counter, sealed[-16:], sealed[:-16])

    def open(self, message, aad=b""):
        return nacl.bindings.crypto_aead_chacha20poly1305_ietf_decrypt(
            message.ciphertext + message.tag, aad, self.nonce(self.peer, message.counter), self.key)


SALT = bytes(range(100, 124))


@pytest.fixture
def pair(rng):
    a_seed, b_seed = rng.randbytes(32), rng.randbytes(32)
    a, b = native.AgreementKey(a_seed), native.AgreementKey(b_seed)
    return a_seed, b_seed, a, b


def test_agreement_keys_match_x25519_elsewhere(rng):
    # RFC 7748 section 6.1.
    alice = native.AgreementKey(bytes.fromhex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a"))
    assert alice.public_key.hex() == "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a"
    for _ in range(10):
        seed = rng.randbytes(32)
        assert native.AgreementKey(seed).public_key == nacl.bindings.crypto_scalarmult_base(seed)


@pytest.mark.parametrize("role", ["Initiator", "Responder"])
def test_a_session_interworks_with_an_independent_peer(pair, role, rng):
    a_seed, b_seed, a, b = pair
    other_role = "Responder" if role == "Initiator" else "Initiator"
    ours = native.Session(a, b.public_key, SALT, role)
    model = ModelSession(b_seed, a.public_key, SALT, other_role)
    for i in range(20):
        plaintext = rng.randbytes(rng.randrange(0, 200))
        aad = rng.randbytes(rng.randrange(0, 20)) if i % 2 else b""
        sealed = ours.seal(plaintext, aad if aad else None)
        assert sealed.counter == i and len(sealed.tag) == 16 and len(sealed.ciphertext) == len(plaintext)
        assert model.open(sealed, aad) == plaintext
        assert ours.open(model.seal(plaintext, aad), aad) == plaintext


def test_two_sessions_open_each_others_messages(pair):
    _, _, a, b = pair
    alice = native.Session(a, b.public_key, SALT, "Initiator")
    bob = native.Session(b, a.public_key, SALT, "Responder")
    first = alice.seal(b"hello", b"device-7")
    assert first.counter == 0
    assert bob.open(first, b"device-7") == b"hello"
    assert alice.open(bob.seal(b"welcome")) == b"welcome"
    empty = alice.seal(b"")
    assert empty.ciphertext == b"" and len(empty.tag) == 16
    assert bob.open(empty) == b""


@pytest.mark.parametrize("change", ["both initiators", "other salt"])
def test_sides_that_disagree_cannot_read_each_other(pair, change):
    _, _, a, b = pair
    alice = native.Session(a, b.public_key, SALT, "Initiator")
    role = "Initiator" if change == "both initiators" else "Responder"
    salt = SALT if change == "both initiators" else SALT[::-1]
    bob = native.Session(b, a.public_key, salt, role)
    for _ in range(3):
        with pytest.raises(native.TrovikError, match="^session message failed authentication$"):
            bob.open(alice.seal(b"secret"))


@pytest.mark.parametrize(
    "steps",
    [
        pytest.param([(0, True), (0, False)], id="first-message-once"),
        pytest.param([(5, True), (3, True), (4, True), (3, False)], id="out-of-order"),
        pytest.param([(100, True), (37, True), (37, False), (36, False)], id="oldest-tracked"),
        pytest.param([(100, True), (200, True), (150, True), (136, False), (100, False)], id="window-jump"),
        pytest.param([(2**64 - 1, True), (2**64 - 64, True), (2**64 - 65, False), (2**64 - 1, False)], id="far-end"),
    ],
)
def test_the_replay_window(pair, steps):
    a_seed, _, a, b = pair
    model = ModelSession(a_seed, b.public_key, SALT, "Initiator")
    bob = native.Session(b, a.public_key, SALT, "Responder")
    for counter, accepted in steps:
        message = model.seal(b"payload", counter=counter)
        if accepted:
            assert bob.open(message) == b"payload"
        else:
            with pytest.raises(native.TrovikError, match="^session message is a replay$"):
                bob.open(message)


@pytest.mark.parametrize("part", ["ciphertext", "tag", "aad"])
def test_an_altered_message_fails_and_changes_nothing(pair, part):
    _, _, a, b = pair
    alice = native.Session(a, b.public_key, SALT, "Initiator")
    bob = native.Session(b, a.public_key, SALT, "Responder")
    sealed = alice.seal(b"genuine", b"hdr")
    ciphertext, tag, aad = bytearray(sealed.ciphertext), bytearray(sealed.tag), b"hdr"
    if part == "ciphertext":
        ciphertext[0] ^= 1
    elif part == "tag":
        tag[15] ^= 0x80
    else:
        aad = b"hdx"
    with pytest.raises(native.TrovikError, match="^session message failed authentication$"):
        bob.open(native.SealedMessage(sealed.counter, tag, ciphertext), aad)
    assert bob.open(sealed, b"hdr") == b"genuine"


def test_opening_checks_the_tag_length_first(pair):
    _, _, a, b = pair
    bob = native.Session(b, a.public_key, SALT, "Responder")
    with pytest.raises(native.TrovikError, match="^tag must be exactly 16 bytes$"):
        bob.open(native.SealedMessage(0, bytes(15), b"x"))
    # A SealedMessage keeps whatever it was given.
    assert native.SealedMessage(7, b"t", b"c").tag == b"t"


@pytest.mark.parametrize(
    "args, error, text",
    [
        (dict(seed=bytes(31)), native.TrovikError, "^seed must be exactly 32 bytes$"),
        (dict(peer_public_key=bytes(31), role="nobody"), native.TrovikError, "^peer_public_key must be exactly 32 bytes$"),
        (dict(role="initiator"), native.TrovikError, "^unknown role initiator$"),
        (dict(role=""), native.TrovikError, "^unknown role $"),
        (dict(salt=b""), native.TrovikError, "^a session salt needs at least 16 bytes$"),
        (dict(salt=bytes(15)), native.TrovikError, "^a session salt needs at least 16 bytes$"),
        (dict(peer_public_key="x" * 32), TypeError, None),
        (dict(local=b"not a key"), TypeError, None),
    ],
)
def test_establishing_refusals(pair, args, error, text):
    _, _, a, b = pair
    call = dict(local=a, peer_public_key=b.public_key, salt=SALT, role="Initiator")
    if "seed" in args:
        with pytest.raises(error, match=text):
            native.AgreementKey(args["seed"])
        return
    call.update(args)
    with pytest.raises(error, match=text):
        native.Session(call["local"], call["peer_public_key"], call["salt"], call["role"])


def test_a_sixteen_byte_salt_is_enough(pair):
    _, _, a, b = pair
    native.Session(a, b.public_key, bytes(16), "Initiator")


SMALL_ORDER_X25519 = [
    bytes(32),
    bytes([1]) + bytes(31),
    bytes.fromhex("e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800"),
    bytes.fromhex("5f9c95bca3508c24b1d0b1559c83ef5b04445cc4581c8e86d8224eddd09f1157"),
    P_MINUS_1,
    P.to_bytes(32, "little"),
    (P + 1).to_bytes(32, "little"),
]


@pytest.mark.parametrize("peer", SMALL_ORDER_X25519, ids=lambda k: k.hex()[:8])
def test_a_small_order_peer_key_is_refused(pair, peer):
    _, _, a, _ = pair
    # The shared secret would be all zeros, whatever our secret.
    with pytest.raises(nacl.exceptions.RuntimeError):
        nacl.bindings.crypto_scalarmult(bytes(range(32)), peer)
    with pytest.raises(native.TrovikError, match="^the peer's key gives an all-zero shared secret$"):
        native.Session(a, peer, SALT, "Responder")


def test_sealed_message_counters_are_unsigned_64_bit():
    assert native.SealedMessage(2**64 - 1, b"", b"").counter == 2**64 - 1
    for counter in (-1, 2**64):
        with pytest.raises(OverflowError):
            native.SealedMessage(counter, b"", b"")


def test_hkdf_matches_rfc5869_and_cryptography(rng):
    okm = native.hkdf_sha256_expand(bytes(range(13)), b"\x0b" * 22, bytes(range(0xF0, 0xFA)), 42)
    assert okm.hex() == ("3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865")
    assert native.hkdf_sha256_expand(b"", b"\x0b" * 22, b"", 42).hex() == (
        "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8")
    for length in (1, 31, 32, 33, 64, 255, 1000):
        salt, ikm, info = rng.randbytes(rng.randrange(0, 80)), rng.randbytes(40), rng.randbytes(rng.randrange(0, 30))
        assert native.hkdf_sha256_expand(salt, ikm, info, length) == HKDF(hashes.SHA256(), length, salt, info).derive(ikm)


def test_hkdf_lengths():
    assert native.hkdf_sha256_expand(b"s", b"k", b"i", 0) == b""
    most = native.hkdf_sha256_expand(b"s", b"k", b"i", 8160)
    assert len(most) == 8160 and most[:32] == native.hkdf_sha256_expand(b"s", b"k", b"i", 32)
    with pytest.raises(native.TrovikError, match="^length must be at most 8160 bytes$"):
        native.hkdf_sha256_expand(b"s", b"k", b"i", 8161)
    with pytest.raises(native.TrovikError):
        native.hkdf_sha256_expand(b"s", b"k", b"i", 2**63)
    with pytest.raises(OverflowError):
        native.hkdf_sha256_expand(b"s", b"k", b"i", -1)


@pytest.mark.parametrize(
    "key, data, mac",
    [
        (b"\x0b" * 20, b"Hi There", "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"),
        (b"Jefe", b"what do ya want for nothing?", "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"),
        (b"\xaa" * 20, b"\xdd" * 50, "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"),
        (bytes(range(1, 26)), b"\xcd" * 50, "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"),
        (b"\x0c" * 20, b"Test With Truncation", "a3b6167473100ee06e0c796c2955552b"),
        (b"\xaa" * 131, b"Test Using Larger Than Block-Size Key - Hash Key First",
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"),
        (b"\xaa" * 131, b"This is a test using a larger than block-size key and a larger than block-size data. The key "
                        b"needs to be hashed before being used by the HMAC algorithm.",
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"),
    ],
    ids=[f"rfc4231-{n}" for n in range(1, 8)],
)
def test_hmac_matches_rfc4231(key, data, mac):
    assert native.hmac_sha256_digest(key, data).hex().startswith(mac)


def test_hmac_matches_the_standard_library_around_the_block_size(rng):
    for key_length in (0, 1, 63, 64, 65, 200):
        key, message = rng.randbytes(key_length), rng.randbytes(rng.randrange(0, 300))
        assert native.hmac_sha256_digest(key, message) == hmac.new(key, message, hashlib.sha256).digest()


# ---------------------------------------------------------------------------
# The audit log


def expected_digest(index, previous, payload):
    return hashlib.sha256(index.to_bytes(8, "little") + previous + payload).digest()


@pytest.fixture
def signer():
    return native.DeviceIdentity(bytes(range(32, 64)))


def chain(signer, count):
    log = native.AuditLog(signer)
    return [log.append(f"event {i}".encode()) for i in range(count)]


def test_entries_chain_by_hashlib_digests(signer):
    entries = chain(signer, 4)
    assert entries[0].index == 0 and entries[0].previous == bytes(32)
    assert entries[0].digest == hashlib.sha256(bytes(8) + bytes(32) + b"event 0").digest()
    for i, entry in enumerate(entries):
        previous = entries[i - 1].digest if i else bytes(32)
        assert entry.index == i and entry.previous == previous
        assert entry.digest == expected_digest(i, previous, entry.payload)
        # The signature is over the digest, as any Ed25519 verifier sees it.
        Ed25519PublicKey.from_public_bytes(signer.public_key).verify(entry.signature, entry.digest)
        nacl.signing.VerifyKey(signer.public_key).verify(entry.digest, entry.signature)
    assert native.verify_audit_chain(signer.public_key, entries) is None
    assert native.verify_audit_chain(signer.public_key, []) is None


def test_entries_read_back_from_their_bytes(signer):
    log = native.AuditLog(signer)
    for payload in (b"", b"x", bytes(range(256)) * 3):
        entry = log.append(payload)
        data = entry.to_bytes()
        assert len(data) == 104 + len(payload)
        assert data == entry.index.to_bytes(8, "little") + entry.previous + entry.signature + payload
        back = native.AuditEntry.from_bytes(data)
        assert (back.index, back.previous, back.signature, back.payload, back.digest) == (
            entry.index, entry.previous, entry.signature, entry.payload, entry.digest)
    with pytest.raises(native.TrovikError, match="^codec error: audit entry is shorter than its header$"):
        native.AuditEntry.from_bytes(bytes(103))
    with pytest.raises(TypeError):
        native.AuditEntry()


@pytest.mark.parametrize(
    "order, expected",
    [
        ([0, 1, 2], [True, True, True]),
        ([0, 2, 1], [True, False, True]),
        ([0, 0, 1], [True, False, True]),
        ([1, 0], [False, True]),
    ],
)
def test_a_verifier_takes_entries_only_in_order(signer, order, expected):
    entries = chain(signer, 3)
    verifier = native.AuditVerifier(signer.public_key)
    assert [verifier.check(entries[i]) for i in order] == expected


def test_a_changed_payload_byte_fails_the_signature(signer):
    entries = chain(signer, 3)
    data = bytearray(entries[1].to_bytes())
    data[-1] ^= 1
    entries[1] = native.AuditEntry.from_bytes(bytes(data))
    verifier = native.AuditVerifier(signer.public_key)
    assert [verifier.check(e) for e in entries] == [True, False, False]
    with pytest.raises(native.TrovikError, match="^authentication error: signature verification failed$"):
        native.verify_audit_chain(signer.public_key, entries)


@pytest.mark.parametrize(
    "edit, text",
    [
        (lambda e: [e[0], e[2], e[1], e[3]], "audit entry is out of sequence"),
        (lambda e: [e[0], e[2], e[3]], "audit entry is out of sequence"),
        (lambda e: e[1:], "audit entry is out of sequence"),
        (lambda e: e + [e[3]], "audit entry is out of sequence"),
    ],
    ids=["reordered", "dropped", "first-dropped", "repeated"],
)
def test_a_reordered_or_dropped_entry_fails_the_chain(signer, edit, text):
    entries = chain(signer, 4)
    assert native.verify_audit_chain(signer.public_key, entries) is None
    with pytest.raises(native.TrovikError, match=f"^authentication error: {text}$"):
        native.verify_audit_chain(signer.public_key, edit(entries))


def test_an_entry_from_another_chain_breaks_it(signer):
    entries = chain(signer, 3)
    other = native.AuditLog(signer)
    other.append(b"a different past")
    entries[1] = other.append(b"event 1")
    assert entries[1].index == 1
    with pytest.raises(native.TrovikError, match="^authentication error: audit chain is broken$"):
        native.verify_audit_chain(signer.public_key, entries)


def test_a_resumed_log_continues_the_chain(signer):
    entries = chain(signer, 5)
    stored = entries[4].to_bytes()
    resumed = native.AuditLog.resume(signer, native.AuditEntry.from_bytes(stored))
    after = resumed.append(b"after restart")
    assert after.index == 5 and after.previous == entries[4].digest
    assert native.verify_audit_chain(signer.public_key, entries + [after]) is None


def test_another_identity_fails_on_the_first_entry(signer):
    entries = chain(signer, 2)
    stranger = native.DeviceIdentity(bytes(32))
    assert native.AuditVerifier(stranger.public_key).check(entries[0]) is False
    with pytest.raises(native.TrovikError, match="^authentication error: signature verification failed$"):
        native.verify_audit_chain(stranger.public_key, entries)


@pytest.mark.parametrize(
    "key, text",
    [
        (bytes(31), "^public_key must be exactly 32 bytes$"),
        (NOT_A_POINT, "^authentication error: invalid public identity$"),
        (SMALL_ORDER_KEYS[0], "^authentication error: invalid public identity$"),
    ],
)
def test_reading_the_verifying_key(key, text):
    with pytest.raises(native.TrovikError, match=text):
        native.AuditVerifier(key)
    with pytest.raises(native.TrovikError, match=text):
        native.verify_audit_chain(key, [])


def test_arguments_that_are_not_entries(signer):
    entries = chain(signer, 1)
    with pytest.raises(TypeError) as info:
        native.verify_audit_chain(bytes(31), [entries[0], b"entry"])
    notes = getattr(info.value, "__notes__", None)  # notes exist from Python 3.11 on
    assert notes is None or "while processing 'entries'" in notes
    with pytest.raises(TypeError):
        native.verify_audit_chain(signer.public_key, entries[0])
    with pytest.raises(TypeError):
        native.AuditVerifier(signer.public_key).check(b"entry")
    with pytest.raises(TypeError):
        native.AuditLog(signer.public_key)
    with pytest.raises(TypeError):
        native.AuditLog.resume(signer, b"entry")


def test_entries_from_a_sequence_that_makes_them_on_demand(signer):
    # Each item exists only while it is being checked.
    stored = [e.to_bytes() for e in chain(signer, 3)]

    class Stored:
        def __len__(self):
            return len(stored)

        def __getitem__(self, i):
            if i >= len(stored):
                raise IndexError(i)
            return native.AuditEntry.from_bytes(stored[i])

    assert native.verify_audit_chain(signer.public_key, Stored()) is None
