"""MAVLink beside pymavlink, in one process, rounds interleaved; each figure is
the median over the rounds.

    python3 bench/bench_mavlink.py [frames]

- parse: a captured-style telemetry stream (an autopilot's usual mix of
  heartbeats, attitude, positions, GPS, status and text, with now and then a
  burst of line noise) read in the pieces a serial port hands over, through
  `MavlinkParser.push` beside pymavlink's `parse_buffer` on a link with
  robust parsing. Both take every frame out; pymavlink also unpacks the
  fields, which is how it hands frames over.
- sign: one signed MAVLink 2 frame from a message's payload, through
  `MavlinkSigner.sign` beside pymavlink packing the same message with
  signing on (its fields packed, then signed), and beside a bare hashlib
  signer over ready frame bytes, the least a Python program could do.
- verify: a signed frame's signature and timestamp, through
  `MavlinkVerifier.verify` beside pymavlink's `check_signature`.
"""
import hashlib
import importlib.metadata
import random
import statistics
import struct
import sys
import time

from pymavlink.dialects.v20 import common as peer

import trovik._native as trovik

ROUNDS = 9
KEY = bytes(range(32))
PIECE = 256  # what a serial read at 115200 baud hands over in ~20 ms


def telemetry(rng, count):
    """Frames as an autopilot streams them: a schedule of messages at their rates."""
    mav = peer.MAVLink(None, srcSystem=1, srcComponent=1)
    schedule = [
        lambda: peer.MAVLink_attitude_message(rng.getrandbits(32), *(rng.uniform(-3, 3) for _ in range(6))),
        lambda: peer.MAVLink_global_position_int_message(rng.getrandbits(32), rng.getrandbits(31), -rng.getrandbits(31),
                                                         rng.getrandbits(20), rng.getrandbits(16), rng.randrange(-500, 500),
                                                         rng.randrange(-500, 500), rng.randrange(-100, 100),
                                                         rng.randrange(36000)),
        lambda: peer.MAVLink_vfr_hud_message(rng.uniform(0, 30), rng.uniform(0, 30), rng.randrange(360),
                                             rng.randrange(100), rng.uniform(0, 500), rng.uniform(-5, 5)),
        lambda: peer.MAVLink_attitude_quaternion_message(rng.getrandbits(32), *(rng.uniform(-1, 1) for _ in range(7))),
        lambda: peer.MAVLink_local_position_ned_message(rng.getrandbits(32), *(rng.uniform(-100, 100) for _ in range(6))),
        lambda: peer.MAVLink_servo_output_raw_message(rng.getrandbits(32), 0,
                                                      *(rng.randrange(1000, 2000) for _ in range(8))),
        lambda: peer.MAVLink_rc_channels_message(rng.getrandbits(32), 16, *(rng.randrange(1000, 2000) for _ in range(18)),
                                                 rng.randrange(256)),
        lambda: peer.MAVLink_gps_raw_int_message(rng.getrandbits(64), 3, rng.getrandbits(31), -rng.getrandbits(31),
                                                 rng.getrandbits(20), 120, 200, rng.randrange(3000), rng.randrange(36000),
                                                 14, rng.getrandbits(20)),
        lambda: peer.MAVLink_sys_status_message(0x3F, 0x3F, 0x3F, rng.randrange(1000), 12000, 500, 80, 0, 0, 0, 0,
                                                0, 0),
        lambda: peer.MAVLink_heartbeat_message(2, 3, 81, 4, 4, 3),
        lambda: peer.MAVLink_statustext_message(6, b"EKF3 IMU0 is using GPS", 0, 0),
    ]
    # The first messages come several times as often as the last.
    weights = [8, 6, 4, 4, 4, 2, 2, 2, 1, 1, 0.2]
    frames = []
    for i in range(count):
        mav.seq = i % 256
        frames.append(bytes(rng.choices(schedule, weights)[0]().pack(mav)))
    return frames


def captured_stream(rng, count):
    stream = bytearray()
    for raw in telemetry(rng, count):
        if rng.random() < 0.005:
            stream += rng.randbytes(rng.randrange(1, 40))  # line noise
        stream += raw
    return bytes(stream)


def parse_ours(pieces):
    parser = trovik.MavlinkParser()
    frames = 0
    start = time.perf_counter()
    for piece in pieces:
        frames += len(parser.push(piece))
    return time.perf_counter() - start, frames


def parse_theirs(pieces):
    mav = peer.MAVLink(None)
    mav.robust_parsing = True
    frames = 0
    start = time.perf_counter()
    for piece in pieces:
        msgs = mav.parse_buffer(piece)
        if msgs:
            frames += sum(1 for m in msgs if m.get_type() != "BAD_DATA")
    return time.perf_counter() - start, frames


def sign_ours(messages):
    signer = trovik.MavlinkSigner(KEY, link_id=1, timestamp=1000)
    header = trovik.MavlinkHeader(1, 1)
    sign = signer.sign
    start = time.perf_counter()
    for msgid, payload, crc_extra, _ in messages:
        sign(header, msgid, payload, crc_extra)
    return time.perf_counter() - start


def sign_theirs(messages):
    mav = peer.MAVLink(None, srcSystem=1, srcComponent=1)
    mav.signing.secret_key = KEY
    mav.signing.link_id = 1
    mav.signing.timestamp = 1000
    mav.signing.sign_outgoing = True
    start = time.perf_counter()
    for _, _, _, message in messages:
        message.pack(mav)
    return time.perf_counter() - start


def sign_hashlib(unsigned_frames):
    """Signing ready frame bytes with hashlib and nothing else."""
    pack = struct.Struct("<BQ").pack
    timestamp = 1000
    start = time.perf_counter()
    for raw in unsigned_frames:
        frame = bytearray(raw)
        frame[2] |= 1
        frame += pack(1, timestamp)[:7]
        frame += hashlib.sha256(KEY + frame).digest()[:6]
        timestamp += 1
    return time.perf_counter() - start


def verify_ours(frames):
    verifier = trovik.MavlinkVerifier(KEY)
    verify = verifier.verify
    start = time.perf_counter()
    for frame, _ in frames:
        verify(frame)
    return time.perf_counter() - start


def verify_theirs(frames):
    mav = peer.MAVLink(None)
    mav.signing.secret_key = KEY
    check = mav.check_signature
    start = time.perf_counter()
    for _, msgbuf in frames:
        if not check(msgbuf, 1, 1):
            raise AssertionError("pymavlink refused a frame we signed")
    return time.perf_counter() - start


def rounds(ours, theirs, workload, their_workload=None):
    """Alternates which side goes first; returns both sides' median seconds."""
    times = {"ours": [], "theirs": []}
    for r in range(ROUNDS):
        sides = [("ours", ours, workload), ("theirs", theirs, workload if their_workload is None else their_workload)]
        if r % 2:
            sides.reverse()
        for name, run, work in sides:
            times[name].append(run(work))
    return statistics.median(times["ours"]), statistics.median(times["theirs"])


def row(label, unit_count, ours, theirs, unit):
    rate_ours, rate_theirs = unit_count / ours, unit_count / theirs
    print(f"{label:<44} {rate_ours:>13,.0f} {rate_theirs:>13,.0f} {unit:<10} {theirs / ours:7.1f}x")


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 50_000
    rng = random.Random(2024)
    print(f"pymavlink {importlib.metadata.version('pymavlink')}; {count:,} frames a round, "
          f"median of {ROUNDS} interleaved rounds")
    print(f"{'':<44} {'trovik':>13} {'pymavlink':>13} {'':<10} speed-up")

    stream = captured_stream(rng, count)
    pieces = [stream[i : i + PIECE] for i in range(0, len(stream), PIECE)]
    _, ours_frames = parse_ours(pieces)
    _, theirs_frames = parse_theirs(pieces)
    if ours_frames != count:
        raise AssertionError(f"frames read: {ours_frames} of {count}")
    # pymavlink resynchronises after noise less carefully and drops some
    # frames that follow it; the rates count every frame of the stream.
    print(f"frames read out of {count:,}: trovik {ours_frames:,}, pymavlink {theirs_frames:,}")
    ours, theirs = rounds(lambda w: parse_ours(w)[0], lambda w: parse_theirs(w)[0], pieces)
    row(f"parse, {PIECE}-byte pieces ({len(stream) / count:.0f} B/frame)", count, ours, theirs, "frames/s")
    whole = [stream]
    ours, theirs = rounds(lambda w: parse_ours(w)[0], lambda w: parse_theirs(w)[0], whole)
    row("parse, the stream in one piece", count, ours, theirs, "frames/s")

    messages = []
    unsigned = []
    mav = peer.MAVLink(None, srcSystem=1, srcComponent=1)
    for raw in telemetry(rng, count // 5):
        [message] = mav.parse_buffer(raw)
        frame = trovik.MavlinkFrame.parse_known(raw)
        messages.append((frame.message_id, frame.payload, trovik.mavlink_known_crc_extra(frame.message_id), message))
        unsigned.append(raw)
    n = len(messages)
    ours, theirs = rounds(sign_ours, sign_theirs, messages)
    row("sign, from the message", n, ours, theirs, "frames/s")
    ours, bare = rounds(sign_ours, sign_hashlib, messages, unsigned)
    row("sign, beside bare hashlib over frame bytes", n, ours, bare, "frames/s")

    signer = trovik.MavlinkSigner(KEY, link_id=1, timestamp=1000)
    signed = []
    for msgid, payload, crc_extra, _ in messages:
        frame = signer.sign(trovik.MavlinkHeader(1, 1), msgid, payload, crc_extra)
        signed.append((frame, bytearray(frame.bytes)))
    ours, theirs = rounds(verify_ours, verify_theirs, signed)
    row("verify", n, ours, theirs, "frames/s")


if __name__ == "__main__":
    main()
