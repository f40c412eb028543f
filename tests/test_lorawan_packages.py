"""LoRaWAN application packages: commands, clock, firmware, multicast keys and
fragmented data blocks, checked against the `cryptography` package's AES and
CMAC and an independent model of the fragmentation parity matrix."""

import random

import pytest
from peers.lorawan_crypto import aes, aes_inverse, cmac

from trovik import _native as n

TrovikError = n.TrovikError
Command = n.LorawanPackageCommand
MALFORMED = "lorawan frame is malformed"


# ---- commands ------------------------------------------------------------------------------------

# port, uplink, hex bytes, kind, attributes the parse must show
ROUND_TRIPS = [
    (202, True, "01800000001f", "app_time_req", {"device_time": 128, "token": 15, "ans_required": True}),
    (202, False, "01800000000f", "app_time_ans", {"time_correction": 128, "token": 15}),
    (202, False, "018000008005", "app_time_ans", {"time_correction": -(2**31) + 128, "token": 5}),
    (202, True, "016400000003", "app_time_req", {"device_time": 100, "token": 3, "ans_required": False}),
    (202, False, "0205", "device_app_time_periodicity_req", {"period": 5}),
    (202, True, "02014d000000", "device_app_time_periodicity_ans", {"not_supported": True, "device_time": 77}),
    (202, False, "0303", "force_device_resync_cmd", {"transmissions": 3}),
    (202, True, "000102", "package_version_ans", {"package": 1, "version": 2}),
    (201, False, "080540", "data_fragment", {"fragment_n": 5, "frag_index": 1, "data": b""}),
    (201, False, "0805400102030405", "data_fragment", {"fragment_n": 5, "data": bytes([1, 2, 3, 4, 5])}),
    (201, False, "080100616263", "data_fragment", {"fragment_n": 1, "frag_index": 0, "data": b"abc"}),
    (201, False, "0105", "frag_session_status_req", {"all_participants": True, "frag_index": 2}),
    (201, True, "0105ffbf07", "frag_session_status_ans",
     {"memory_error": True, "no_session": True, "received": 0x3FFF, "frag_index": 2, "missing": 7}),
    (201, False, "02391000205a01020304050a00a1b2c3d4", "frag_session_setup_req",
     {"mc_group_bit_mask": 9, "frag_index": 3, "nb_frag": 16, "frag_size": 32, "block_ack_delay": 2,
      "frag_algo": 3, "ack_reception": True, "padding": 1, "descriptor": bytes([2, 3, 4, 5]),
      "session_cnt": 10, "mic": bytes.fromhex("a1b2c3d4")}),
    (201, True, "02d5", "frag_session_setup_ans",
     {"unsupported_algorithm": True, "unsupported_index": True, "session_replay": True, "frag_index": 3}),
    (201, True, "0306", "frag_session_delete_ans", {"frag_index": 2, "no_session": True}),
    (201, True, "0405", "frag_data_block_received_req", {"frag_index": 1, "mic_error": True}),
    (200, True, "0404", "mc_class_c_session_ans", {"dr_error": True, "time_to_start": None}),
    (200, True, "04000a0000", "mc_class_c_session_ans", {"time_to_start": 10, "dr_error": False}),
    (200, True, "0521", "mc_class_b_session_ans", {"mc_group_id": 1, "start_missed": True}),
    (200, False, "0402e8030000051027000c", "mc_class_c_session_req",
     {"mc_group_id": 2, "session_time": 1000, "time_out": 5, "dl_frequency_hz": 1_000_000,
      "data_rate": 12}),
    (200, False, "0501e80300003510270003", "mc_class_b_session_req",
     {"time_out": 5, "periodicity": 3, "data_rate": 3}),
    (200, False, "0203" "04030201" + "11" * 16 + "01000000" "ff000000", "mc_group_setup_req",
     {"mc_group_id": 3, "mc_addr": 0x01020304, "mc_key_encrypted": b"\x11" * 16, "min_mc_fcnt": 1,
      "max_mc_fcnt": 255}),
    (200, True, "0137", "mc_group_status_ans", {"group_mask": 7, "nb_total_groups": 3}),
    (200, True, "0206", "mc_group_setup_ans", {"mc_group_id": 2, "id_error": True}),
    (203, True, "040301000000", "dev_upgrade_image_ans", {"image_status": "valid", "next_version": 1}),
    (203, True, "0401", "dev_upgrade_image_ans", {"image_status": "corrupt", "next_version": None}),
    (203, True, "010700000002000000", "dev_version_ans", {"firmware": 7, "hardware": 2}),
    (203, False, "033c0000", "dev_reboot_countdown_req", {"reboot": 60}),
    (203, True, "0502", "dev_delete_image_ans", {"no_valid_image": False, "invalid_version": True}),
]


@pytest.mark.parametrize("port,uplink,hexed,kind,fields", ROUND_TRIPS)
def test_commands_read_and_write_back_to_their_bytes(port, uplink, hexed, kind, fields):
    wire = bytes.fromhex(hexed)
    command = n.lorawan_package_parse(port, uplink, wire)
    assert (command.port, command.kind, command.uplink) == (port, kind, uplink)
    for name, value in fields.items():
        assert getattr(command, name) == value, name
    assert command.encode() == wire
    assert n.lorawan_package_encode(command) == wire


def test_a_parse_leaves_the_attributes_of_other_kinds_none():
    command = n.lorawan_package_parse(202, True, bytes.fromhex("016400000003"))
    assert command.time_correction is None and command.period is None and command.mc_addr is None
    assert repr(command) == 'LorawanPackageCommand(port=202, kind="app_time_req", uplink=True)'


@pytest.mark.parametrize("port,uplink,hexed,message", [
    (201, False, "0805", MALFORMED),
    (200, True, "0400", MALFORMED),
    (203, True, "0403", MALFORMED),
    (202, True, "0307", "lorawan MAC command 0x03 is not known here"),
    (201, True, "080540", "lorawan MAC command 0x08 is not known here"),
    (200, False, "09", "lorawan MAC command 0x09 is not known here"),
    (203, True, "", MALFORMED),
    (204, True, "00", "port 204 is not an application layer package"),
])
def test_payloads_the_parser_refuses(port, uplink, hexed, message):
    with pytest.raises(TrovikError) as e:
        n.lorawan_package_parse(port, uplink, bytes.fromhex(hexed))
    assert str(e.value) == message


@pytest.mark.parametrize("command,message", [
    (Command(202, "app_time_req"), "app_time_req needs device_time"),
    (Command(202, "package_version_ans", version=1), "package_version_ans needs package"),
    (Command(200, "mc_group_delete_req"), "mc_group_delete_req on port 200 is not a command this build writes"),
    (Command(200, "mc_group_setup_req", mc_group_id=0, mc_addr=1, mc_key_encrypted=bytes(15)),
     "mc_group_setup_req on port 200 is not a command this build writes"),
    (Command(201, "frag_session_setup_req", frag_index=0, nb_frag=1, frag_size=1, descriptor=bytes(4), mic=bytes(3)),
     "frag_session_setup_req on port 201 is not a command this build writes"),
    (Command(201, "app_time_req", device_time=1), "app_time_req on port 201 is not a command this build writes"),
    (Command(204, "app_time_req"), "port 204 is not an application layer package"),
    (Command(203, "dev_upgrade_image_ans", image_status="broken"), "broken is not an image status"),
    # What the parser would refuse is never written.
    (Command(203, "dev_upgrade_image_ans", image_status="valid"), MALFORMED),
    (Command(200, "mc_class_c_session_ans", mc_group_id=1), MALFORMED),
    (Command(200, "mc_class_b_session_ans"), MALFORMED),
    (Command(201, "data_fragment", frag_index=0, fragment_n=16384), MALFORMED),
])
def test_commands_encode_refuses(command, message):
    with pytest.raises(TrovikError) as e:
        command.encode()
    assert str(e.value) == message


def test_values_wider_than_their_fields_keep_their_low_bits():
    assert Command(202, "app_time_req", device_time=100, token=19).encode().hex() == "016400000003"
    assert Command(202, "app_time_req", device_time=100, token=3, ans_required=True).encode()[-1] == 0x13
    for hz in (100, 199):
        wire = Command(200, "mc_class_c_session_req", mc_group_id=0, session_time=0, dl_frequency_hz=hz).encode()
        assert wire[7:10] == b"\x01\x00\x00"
    assert Command(201, "data_fragment", frag_index=1, fragment_n=16383).encode().hex() == "08ff7f"
    assert Command(200, "mc_class_c_session_ans", dr_error=True, time_to_start=9).encode().hex() == "0404"


def test_constructor_checks_only_python_types():
    with pytest.raises(OverflowError):
        Command(256, "x")
    with pytest.raises(OverflowError):
        Command(202, "x", token=256)
    with pytest.raises(TypeError):
        Command(202, "x", data="text")
    assert Command(204, "anything").port == 204


def test_a_run_stops_at_an_unknown_identifier_or_a_cut():
    kinds = [c.kind for c in n.lorawan_package_parse_all(202, False, bytes.fromhex("0002050901"))]
    assert kinds == ["package_version_req", "device_app_time_periodicity_req"]
    assert [c.kind for c in n.lorawan_package_parse_all(202, False, bytes.fromhex("00010000"))] == [
        "package_version_req"]
    assert n.lorawan_package_parse_all(250, False, b"") == []
    with pytest.raises(TrovikError, match="port 250 is not an application layer package"):
        n.lorawan_package_parse_all(250, False, b"\x00")


def test_a_status_answer_in_a_run_brings_its_group_records():
    wire = bytes.fromhex("0125" "fe01000000" "0004030201" "0206")
    commands = n.lorawan_package_parse_all(200, True, wire)
    assert [c.kind for c in commands] == ["mc_group_status_ans", "mc_group_status_item", "mc_group_status_item",
                                          "mc_group_setup_ans"]
    assert (commands[1].mc_group_id, commands[1].mc_addr) == (2, 1)
    assert commands[2].mc_addr == 0x01020304
    # The record's unused bits are dropped on the way through.
    assert b"".join(c.encode() for c in commands) == wire.replace(b"\xfe", b"\x02")


def test_status_records_read_one_at_a_time():
    item = n.lorawan_package_status_item(bytes.fromhex("fe01000000ff"))
    assert (item.port, item.kind, item.uplink, item.mc_group_id, item.mc_addr) == (
        200, "mc_group_status_item", True, 2, 1)
    assert item.encode().hex() == "0201000000"
    with pytest.raises(TrovikError, match=MALFORMED):
        n.lorawan_package_status_item(bytes(4))


# ---- clock -------------------------------------------------------------------------------------------


def test_a_clock_session_runs_as_scripted():
    sync = n.LorawanClockSync()
    assert (sync.token, sync.period_s, sync.answer_due) == (0, 128, False)
    assert sync.request(1000).hex() == "01e803000000"
    assert sync.request(1000, ans_required=True).hex() == "01e803000010"
    heard = sync.heard(bytes.fromhex("010500000000"))
    assert (heard.correction, heard.more_correction, sync.token) == (5, False, 1)
    assert sync.heard(bytes.fromhex("010500000000")).correction is None
    sync.request(2000)
    assert sync.heard(bytes.fromhex("010900000000")).correction is None  # another token
    assert sync.heard(bytes.fromhex("01ffffff7f01")).more_correction
    sync.request(3000)
    assert sync.heard(bytes.fromhex("010000008002")).more_correction
    assert sync.heard(b"\x00").answer_due
    assert sync.answer(0).hex() == "000102"
    assert sync.answer(0) == b""
    sync.heard(bytes.fromhex("0203"))
    assert sync.period_s == 1024
    assert sync.answer(77).hex() == "02004d000000"
    assert sync.heard(bytes.fromhex("0300")).resync is None
    assert sync.heard(bytes.fromhex("030b")).resync == 3
    assert sync.heard(bytes.fromhex("0007")).answer_due
    assert repr(n.LorawanClockSync().heard(b"")) == (
        "LorawanClockHeard(correction=None, more_correction=False, resync=None, answer_due=False)")


@pytest.mark.parametrize(
    "downlink, due",
    [
        ("", False),
        ("09", False),
        ("030b", False),
        ("010500000000", False),
        ("00", True),
        ("0203", True),
        ("03000201", True),
        ("020109", True),
    ],
)
def test_a_downlink_leaves_an_answer_due_only_when_it_asks_for_one(downlink, due):
    sync = n.LorawanClockSync()
    sync.request(1)
    sync.heard(b"\x00")  # an answer owed from before
    heard = sync.heard(bytes.fromhex(downlink))
    assert heard.answer_due is due
    assert sync.answer_due  # the earlier answer is still owed
    assert sync.answer(9) != b""


def test_a_self_managed_clock_keeps_its_period():
    sync = n.LorawanClockSync(self_managed=True)
    sync.heard(bytes.fromhex("0203"))
    assert sync.period_s == 128
    assert sync.answer(77).hex() == "02014d000000"


def test_a_clock_downlink_cut_short_changes_nothing():
    sync = n.LorawanClockSync()
    sync.request(1)
    with pytest.raises(TrovikError, match=MALFORMED):
        sync.heard(bytes.fromhex("00" "0203" "010100000000" "0100"))
    assert (sync.answer_due, sync.period_s, sync.token) == (False, 128, 0)
    sync.heard(bytes.fromhex("010100000000"))
    assert sync.token == 1


# ---- firmware ----------------------------------------------------------------------------------------


def test_a_firmware_session_runs_as_scripted():
    fw = n.LorawanFirmware(7, 2)
    assert fw.heard(bytes.fromhex("0001")).hex() == "000401010700000002000000"
    assert fw.heard(bytes.fromhex("0200000000")) == b"" and fw.reboot_now
    assert fw.heard(bytes.fromhex("02e8030000"), now_s=400).hex() == "0258020000"
    assert (fw.reboot_at_s, fw.reboot_now) == (1000, False)
    fw.rebooted()
    for now in (None, 1000):
        assert fw.heard(bytes.fromhex("02e8030000"), now).hex() == "0200000000"
        assert fw.reboot_at_s is None
    assert fw.heard(bytes.fromhex("033c0000")).hex() == "033c0000" and fw.reboot_in_s == 60
    assert fw.heard(bytes.fromhex("03ffffff")).hex() == "03ffffff"
    assert (fw.reboot_in_s, fw.reboot_at_s, fw.reboot_now) == (None, None, False)
    assert fw.heard(b"\x04").hex() == "0400"
    fw.set_image("valid", 9)
    assert fw.heard(b"\x04").hex() == "040309000000" and fw.next_version == 9
    assert fw.heard(bytes.fromhex("0508000000")).hex() == "0502"
    assert fw.heard(bytes.fromhex("0509000000")).hex() == "0500" and fw.image_status == "none"
    assert fw.heard(bytes.fromhex("0509000000")).hex() == "0501"
    fw.set_image("corrupt", 5)
    assert fw.heard(b"\x04").hex() == "0401" and fw.next_version is None
    assert fw.heard(bytes.fromhex("000601")).hex() == "000401"
    with pytest.raises(TrovikError, match="broken is not an image status"):
        fw.set_image("broken")
    assert fw.image_status == "corrupt"


@pytest.mark.parametrize("hexed,message", [
    ("0200000000" "0509", MALFORMED),
    ("033c0000" + "01" * 8, "lorawan payload does not fit a single frame"),
])
def test_a_firmware_downlink_that_fails_is_not_acted_on(hexed, message):
    fw = n.LorawanFirmware(7, 2)
    with pytest.raises(TrovikError) as e:
        fw.heard(bytes.fromhex(hexed), now_s=0)
    assert str(e.value) == message
    assert (fw.reboot_now, fw.reboot_in_s) == (False, None)


# ---- multicast keys ---------------------------------------------------------------------------------


def test_multicast_keys_follow_the_chain_as_aes_gives_it():
    rng = random.Random(5)
    for _ in range(20):
        app_key = rng.randbytes(16)
        group_key = rng.randbytes(16)
        addr = rng.getrandbits(32)
        for lorawan11, lead in ((False, 0x00), (True, 0x20)):
            root = n.lorawan_mc_root_key(app_key, lorawan11)
            assert root == aes(app_key, bytes([lead]) + bytes(15))
        root = n.lorawan_mc_root_key(app_key)
        kek = n.lorawan_mc_ke_key(root)
        assert kek == aes(root, bytes(16))
        wrapped = n.lorawan_wrap_mc_key(kek, group_key)
        assert wrapped == aes_inverse(kek, group_key)
        assert n.lorawan_mc_key(kek, wrapped) == group_key
        assert n.lorawan_wrap_mc_key(kek, n.lorawan_mc_key(kek, group_key)) == group_key
        addr_le = addr.to_bytes(4, "little")
        assert n.lorawan_mc_app_s_key(group_key, addr) == aes(group_key, b"\x01" + addr_le + bytes(11))
        assert n.lorawan_mc_nwk_s_key(group_key, addr) == aes(group_key, b"\x02" + addr_le + bytes(11))


@pytest.mark.parametrize("call,message", [
    (lambda: n.lorawan_mc_key(bytes(16), bytes(17)), "wrapped must be sixteen bytes, not 17"),
    (lambda: n.lorawan_mc_key(bytes(15), bytes(17)), "mc_ke_key must be sixteen bytes, not 15"),
    (lambda: n.lorawan_mc_app_s_key(bytes(15), 1), "mc_key must be sixteen bytes, not 15"),
    (lambda: n.lorawan_data_block_int_key(b""), "root_key must be sixteen bytes, not 0"),
])
def test_key_lengths_are_checked(call, message):
    with pytest.raises(TrovikError) as e:
        call()
    assert str(e.value) == message


# ---- block integrity code ------------------------------------------------------------------------------


def block_mic_peer(root_key, session_cnt, frag_index, descriptor, block):
    key = aes(root_key, b"\x30" + bytes(15))
    b0 = (b"\x49" + session_cnt.to_bytes(2, "little") + bytes([frag_index]) + descriptor + bytes(4)
          + len(block).to_bytes(4, "little"))
    return key, cmac(key, b0 + block)[:4]


@pytest.mark.parametrize("length", [0, 1, 15, 16, 17, 100, 1024])
def test_block_codes_agree_with_aes_cmac(length):
    rng = random.Random(length)
    root = rng.randbytes(16)
    block = rng.randbytes(length)
    descriptor = rng.randbytes(4)
    key, want = block_mic_peer(root, 0x1234, 2, descriptor, block)
    assert n.lorawan_data_block_int_key(root) == key
    mic = n.LorawanBlockMic(key, 0x1234, 2, descriptor, length)
    cut = rng.randint(0, length)
    mic.update(block[:cut])
    mic.update(block[cut:])
    assert mic.finish() == want
    assert mic.finish() == want


def test_block_mic_arguments_are_checked():
    with pytest.raises(TrovikError, match="^descriptor must be four bytes, not 3$"):
        n.LorawanBlockMic(bytes(16), 0, 0, bytes(3), 0)
    with pytest.raises(TrovikError, match="^data_block_int_key must be sixteen bytes, not 15$"):
        n.LorawanBlockMic(bytes(15), 0, 0, bytes(3), 0)


# ---- fragmentation -------------------------------------------------------------------------------------


def prbs23(x):
    b0 = x & 1
    b1 = (x & 0x20) >> 5
    return (x >> 1) + ((b0 ^ b1) << 22)


def matrix_line(coded, m):
    """The parity line as the transport's reference code draws it: each of the
    m // 2 draws sets a position, drawing again only when it falls past m."""
    line = [0] * m
    mm = 1 if m & (m - 1) == 0 else 0
    x = 1 + 1001 * coded
    for _ in range(m // 2):
        r = 1 << 16
        while r >= m:
            x = prbs23(x)
            r = x % (m + mm)
        line[r] = 1
    return [i for i in range(m) if line[i]]


def test_parity_lines_agree_with_the_reference_drawing():
    assert n.lorawan_frag_prbs23(1) == 4194304
    assert n.lorawan_frag_prbs23(2) == 1
    assert n.lorawan_frag_parity_line(1, 4) == [0, 2]
    assert n.lorawan_frag_parity_line(1, 16) == [0, 1, 2, 4, 5, 10, 13, 15]
    rng = random.Random(11)
    cases = [(c, m) for m in range(1, 70) for c in (0, 1, 2, 3, 50)]
    cases += [(rng.randint(0, 65535), rng.randint(1, 16383)) for _ in range(40)]
    for coded, m in cases:
        assert n.lorawan_frag_parity_line(coded, m) == matrix_line(coded, m), (coded, m)
    with pytest.raises(TrovikError, match="a session carries 1 to 16383 fragments"):
        n.lorawan_frag_parity_line(1, 0)


def coded_peer(block, frag_size, number):
    nb_frag = -(-len(block) // frag_size)
    padded = block + bytes(nb_frag * frag_size - len(block))
    if number <= nb_frag:
        return padded[(number - 1) * frag_size:number * frag_size]
    out = bytearray(frag_size)
    for p in matrix_line(number - nb_frag, nb_frag):
        for i, b in enumerate(padded[p * frag_size:(p + 1) * frag_size]):
            out[i] ^= b
    return bytes(out)


def test_fragments_are_cut_and_coded_as_the_model_builds_them():
    rng = random.Random(3)
    block = rng.randbytes(97)
    for number in list(range(1, 30)) + [65535]:
        assert n.lorawan_frag_fragment(block, 8, number) == coded_peer(block, 8, number)
    assert n.lorawan_frag_fragment(bytes(range(10)), 4, 3) == bytes([8, 9, 0, 0])
    with pytest.raises(TrovikError, match=MALFORMED):
        n.lorawan_frag_fragment(block, 8, 0)
    session = n.lorawan_frag_session(10, 4)
    assert (session.nb_frag, session.padding, repr(session)) == (3, 2, "LorawanFragSession(nb_frag=3, padding=2)")
    for args in ((0, 4), (10, 0), (16384, 1)):
        with pytest.raises(TrovikError, match=MALFORMED):
            n.lorawan_frag_session(*args)


@pytest.mark.parametrize("seed", range(12))
def test_random_blocks_with_losses_up_to_the_limit_rebuild_exactly(seed):
    rng = random.Random(seed)
    frag_size = rng.randint(1, 64)
    block = rng.randbytes(rng.randint(1, 4000))
    session = n.lorawan_frag_session(len(block), frag_size)
    max_lost = rng.randint(1, min(session.nb_frag, 30))
    lost = set(rng.sample(range(1, session.nb_frag + 1), rng.randint(0, max_lost)))
    d = n.LorawanDefragmenter(session.nb_frag, frag_size, max_lost)
    whole = False
    for number in range(1, session.nb_frag + 1):
        if number not in lost:
            whole = d.fragment(number, coded_peer(block, frag_size, number))
    number = session.nb_frag
    while not whole:
        number += 1
        assert number < 65536
        whole = d.fragment(number, n.lorawan_frag_fragment(block, frag_size, number))
    assert d.done and d.missing == 0
    assert d.block[:len(block)] == block
    assert d.block[len(block):] == bytes(session.nb_frag * frag_size - len(block))


def test_losses_beyond_the_limit_fail_every_coded_fragment():
    rng = random.Random(9)
    block = rng.randbytes(200)
    d = n.LorawanDefragmenter(25, 8, 3)
    for number in range(1, 26):
        if number not in (2, 5, 9, 20):
            d.fragment(number, block[(number - 1) * 8:number * 8])
    for number in range(26, 30):
        with pytest.raises(TrovikError, match="^more fragments were lost than there is room to solve for$"):
            d.fragment(number, n.lorawan_frag_fragment(block, 8, number))
    assert (d.done, d.missing, d.received) == (False, 4, 25)


def test_a_defragmenter_edges():
    with pytest.raises(TrovikError, match="the session is not one this build runs"):
        n.LorawanDefragmenter(16384, 8, 2)
    with pytest.raises(TrovikError, match="the session is not one this build runs"):
        n.LorawanDefragmenter(4, 0, 2)
    d = n.LorawanDefragmenter(4, 8, 2)
    assert (d.missing, d.received, d.done, d.block) == (4, 0, False, bytes(32))
    assert repr(d) == "LorawanDefragmenter(nb_frag=4, frag_size=8, received=0, missing=4)"
    with pytest.raises(TrovikError, match="^the fragment is not part of the session$"):
        d.fragment(0, bytes(8))
    with pytest.raises(TrovikError, match="^the fragment is not part of the session$"):
        d.fragment(1, bytes(7))
    assert d.received == 0
    assert d.fragment(1, b"a" * 8) is False
    assert d.fragment(3, b"c" * 8) is False
    assert d.missing == 2  # fragment 2 is lost, fragment 4 not yet seen
    # A late copy of a fragment already taken as lost leaves the block alone.
    assert d.fragment(2, b"b" * 8) is False
    nothing_lost = n.LorawanDefragmenter(2, 1, 0)
    nothing_lost.fragment(1, b"x")
    nothing_lost.fragment(2, b"y")
    assert nothing_lost.done and nothing_lost.fragment(3, b"z") is True and nothing_lost.received == 3
    none_solved = n.LorawanDefragmenter(3, 1, 0)
    none_solved.fragment(1, b"x")
    with pytest.raises(TrovikError, match="more fragments were lost"):
        none_solved.fragment(4, b"z")
    assert none_solved.received == 2


def test_package_constants():
    assert (n.LORAWAN_MULTICAST_PORT, n.LORAWAN_FRAGMENT_PORT, n.LORAWAN_CLOCK_PORT, n.LORAWAN_FIRMWARE_PORT,
            n.LORAWAN_MAX_FRAGMENTS) == (200, 201, 202, 203, 16383)
