"""Identities, sessions and the audit log beside what a Python user would pick
instead, in one process, rounds interleaved; each figure is the median over the
rounds.

    python3 bench/bench_security.py [rounds]

- sign / verify: Ed25519 over a 64-byte payload, beside `cryptography`
  (OpenSSL) and PyNaCl (libsodium). Our verify also reads the key (point
  decoding and the small-order check) on every call, as `verify(public_key,
  ...)` must; theirs reuse a key object made once.
- seal / open: one 64-byte message with 16 bytes of associated data through a
  `Session`, beside ChaCha20-Poly1305 from `cryptography` and PyNaCl with the
  nonce built in Python, the counter and replay window left out.
- hmac: HMAC-SHA256 of 64 bytes, beside the standard library's `hmac.digest`.
- audit append: hashing and signing one 64-byte record, beside hashlib plus
  `cryptography`'s signing.

Ratios are ours / theirs: below 1 means ours is faster.
"""
import hashlib
import hmac
import statistics
import sys
import time

import nacl.bindings
import nacl.signing
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey
from cryptography.hazmat.primitives.ciphers.aead import ChaCha20Poly1305

import trovik._native as trovik

CALLS = 2_000
PAYLOAD = bytes(range(64))
AAD = b"device-0042/cmd\x00"
SEED = bytes(range(32))


def timed(fn):
    start = time.perf_counter()
    for _ in range(CALLS):
        fn()
    return (time.perf_counter() - start) / CALLS


def cases():
    ours_id = trovik.DeviceIdentity(SEED)
    ossl = Ed25519PrivateKey.from_private_bytes(SEED)
    ossl_pub = ossl.public_key()
    sodium = nacl.signing.SigningKey(SEED)
    sodium_pub = sodium.verify_key
    public_key = ours_id.public_key
    signature = ours_id.sign(PAYLOAD)

    a, b = trovik.AgreementKey(bytes([1]) * 32), trovik.AgreementKey(bytes([2]) * 32)
    sender = trovik.Session(a, b.public_key, bytes(16), "Initiator")
    receiver = trovik.Session(b, a.public_key, bytes(16), "Responder")
    key = bytes(range(32))
    ossl_aead = ChaCha20Poly1305(key)
    prefix = b"\x00\x01\x02\x03"
    counter = [0]

    def ossl_seal():
        counter[0] += 1
        return ossl_aead.encrypt(prefix + counter[0].to_bytes(8, "big"), PAYLOAD, AAD)

    def sodium_seal():
        counter[0] += 1
        return nacl.bindings.crypto_aead_chacha20poly1305_ietf_encrypt(PAYLOAD, AAD, prefix + counter[0].to_bytes(8, "big"),
                                                                        key)

    def ours_seal_open():
        receiver.open(sender.seal(PAYLOAD, AAD), AAD)

    def ossl_seal_open():
        nonce = prefix + counter[0].to_bytes(8, "big")
        counter[0] += 1
        ossl_aead.decrypt(nonce, ossl_aead.encrypt(nonce, PAYLOAD, AAD), AAD)

    def sodium_seal_open():
        nonce = prefix + counter[0].to_bytes(8, "big")
        counter[0] += 1
        sealed = nacl.bindings.crypto_aead_chacha20poly1305_ietf_encrypt(PAYLOAD, AAD, nonce, key)
        nacl.bindings.crypto_aead_chacha20poly1305_ietf_decrypt(sealed, AAD, nonce, key)

    log = trovik.AuditLog(ours_id)
    last = [bytes(32)]

    def python_append():
        index = 0
        digest = hashlib.sha256(index.to_bytes(8, "little") + last[0] + PAYLOAD).digest()
        ossl.sign(digest)
        last[0] = digest

    return [
        ("sign", lambda: ours_id.sign(PAYLOAD), [("cryptography", lambda: ossl.sign(PAYLOAD)),
                                                  ("PyNaCl", lambda: sodium.sign(PAYLOAD))]),
        ("verify", lambda: trovik.verify(public_key, PAYLOAD, signature),
         [("cryptography", lambda: ossl_pub.verify(signature, PAYLOAD)),
          ("PyNaCl", lambda: sodium_pub.verify(PAYLOAD, signature))]),
        ("seal", lambda: sender.seal(PAYLOAD, AAD), [("cryptography", ossl_seal), ("PyNaCl", sodium_seal)]),
        ("seal + open", ours_seal_open, [("cryptography", ossl_seal_open), ("PyNaCl", sodium_seal_open)]),
        ("hmac", lambda: trovik.hmac_sha256_digest(key, PAYLOAD),
         [("hmac.digest", lambda: hmac.digest(key, PAYLOAD, "sha256"))]),
        ("audit append", lambda: log.append(PAYLOAD), [("hashlib + cryptography", python_append)]),
    ]


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 9
    table = cases()
    results = {}
    for _ in range(rounds):
        for name, ours, theirs in table:
            results.setdefault((name, "ours"), []).append(timed(ours))
            for label, fn in theirs:
                results.setdefault((name, label), []).append(timed(fn))
    print(f"{'operation':<14} {'ours µs':>8}   {'theirs':<24} {'theirs µs':>9} {'ratio':>6}")
    for name, _, theirs in table:
        ours = statistics.median(results[(name, "ours")]) * 1e6
        for label, _ in theirs:
            other = statistics.median(results[(name, label)]) * 1e6
            print(f"{name:<14} {ours:8.2f}   {label:<24} {other:9.2f} {ours / other:6.2f}")


if __name__ == "__main__":
    main()
