"""LoRaWAN MAC commands of both directions, the TS011 relay commands among them.

Every command is checked against a row of hex bytes written out by hand from
the command layouts of LoRaWAN 1.0.4 and TS011-1.0.1: read from the bytes it
must give the row's fields, and written back (from the object read, and from
one built with the same fields) it must give the same bytes.
"""
import inspect

import pytest

from trovik._native import LorawanMacCommand, TrovikError, lorawan_mac_parse

FIELDS = [
    "margin", "gateways", "data_rate", "tx_power", "channel_mask", "mask_control", "transmissions", "power_ack",
    "data_rate_ack", "channel_mask_ack", "max_duty_cycle", "rx1_offset", "rx2_data_rate", "frequency_hz",
    "rx1_offset_ack", "rx2_data_rate_ack", "channel_ack", "battery", "snr_margin", "index", "max_data_rate",
    "min_data_rate", "data_rate_range_ok", "frequency_ok", "delay", "max_eirp", "uplink_dwell", "downlink_dwell",
    "uplink_frequency_exists", "seconds", "fraction", "enabled", "cad_periodicity", "default_channel_index",
    "second_channel_index", "second_channel_data_rate", "second_channel_ack_offset", "cad_periodicity_ack",
    "default_channel_index_ack", "second_channel_index_ack", "second_channel_data_rate_ack",
    "second_channel_ack_offset_ack", "second_channel_frequency_ack", "relay_mode", "smart_enable_level", "back_off",
    "action", "eui_len", "eui", "combined_rules_ack", "eui_len_ack", "action_ack", "reload_rate", "bucket_size",
    "dev_addr", "wfcnt", "root_wor_s_key", "index_ack", "reset_limit_counters", "join_request_reload_rate",
    "notify_reload_rate", "global_uplink_reload_rate", "overall_reload_rate", "join_request_bucket_size",
    "notify_bucket_size", "global_uplink_bucket_size", "overall_bucket_size", "rssi_dbm", "snr_db",
]

KEY = bytes(range(16))
EUI_01_02 = bytes([1, 2]) + bytes(14)

UP, DOWN = "Uplink", "Downlink"

# (direction, bytes, kind, the fields the command carries)
ROWS = [
    (UP, "02", "link_check_req", {}),
    (DOWN, "020502", "link_check_ans", dict(margin=5, gateways=2)),
    (DOWN, "0372070001", "link_adr_req",
     dict(data_rate=7, tx_power=2, channel_mask=0x0007, mask_control=0, transmissions=1)),
    (UP, "0305", "link_adr_ans", dict(power_ack=True, data_rate_ack=False, channel_mask_ack=True)),
    (DOWN, "040a", "duty_cycle_req", dict(max_duty_cycle=10)),
    (UP, "04", "duty_cycle_ans", {}),
    (DOWN, "0553d2ad84", "rx_param_setup_req", dict(rx1_offset=5, rx2_data_rate=3, frequency_hz=869525000)),
    (UP, "0506", "rx_param_setup_ans", dict(rx1_offset_ack=True, rx2_data_rate_ack=True, channel_ack=False)),
    (DOWN, "06", "dev_status_req", {}),
    (UP, "06ff20", "dev_status_ans", dict(battery=255, snr_margin=-32)),
    (DOWN, "0703184f8450", "new_channel_req", dict(index=3, frequency_hz=867100000, max_data_rate=5, min_data_rate=0)),
    (UP, "0702", "new_channel_ans", dict(data_rate_range_ok=True, frequency_ok=False)),
    (DOWN, "0801", "rx_timing_setup_req", dict(delay=1)),
    (UP, "08", "rx_timing_setup_ans", {}),
    (DOWN, "0935", "tx_param_setup_req", dict(downlink_dwell=True, uplink_dwell=True, max_eirp=5)),
    (UP, "09", "tx_param_setup_ans", {}),
    (DOWN, "0a02d2ad84", "dl_channel_req", dict(index=2, frequency_hz=869525000)),
    (UP, "0a02", "dl_channel_ans", dict(uplink_frequency_exists=True, frequency_ok=False)),
    (UP, "0d", "device_time_req", {}),
    (DOWN, "0d7856341280", "device_time_ans", dict(seconds=0x12345678, fraction=128)),
    (DOWN, "40aa2e389d84", "relay_conf_req",
     dict(enabled=True, cad_periodicity=3, default_channel_index=1, second_channel_index=1,
          second_channel_data_rate=5, second_channel_ack_offset=2, frequency_hz=869100000)),
    (UP, "4015", "relay_conf_ans",
     dict(cad_periodicity_ack=False, default_channel_index_ack=True, second_channel_index_ack=False,
          second_channel_data_rate_ack=True, second_channel_ack_offset_ack=False, second_channel_frequency_ack=True)),
    (DOWN, "41099c60389d84", "end_device_conf_req",
     dict(relay_mode=2, smart_enable_level=1, back_off=48, second_channel_index=1, second_channel_data_rate=3,
          second_channel_ack_offset=4, frequency_hz=869100000)),
    (UP, "410b", "end_device_conf_ans",
     dict(second_channel_ack_offset_ack=True, second_channel_index_ack=False, second_channel_data_rate_ack=True,
          second_channel_frequency_ack=True)),
    (DOWN, "42a2010201", "filter_list_req", dict(index=3, action=1, eui_len=2, eui=EUI_01_02)),
    (UP, "4205", "filter_list_ans", dict(combined_rules_ack=True, eui_len_ack=False, action_ack=True)),
    (DOWN, "4305a1da1b012602000100" + KEY.hex(), "update_uplink_list_req",
     dict(index=5, bucket_size=2, reload_rate=33, dev_addr=0x26011BDA, wfcnt=0x00010002, root_wor_s_key=KEY)),
    (UP, "43", "update_uplink_list_ans", {}),
    (DOWN, "4417", "ctrl_uplink_list_req", dict(action=1, index=7)),
    (UP, "440178563412", "ctrl_uplink_list_ans", dict(index_ack=True, wfcnt=0x12345678)),
    (DOWN, "4586026110e4", "configure_fwd_limit_req",
     dict(reset_limit_counters=1, join_request_reload_rate=3, notify_reload_rate=4, global_uplink_reload_rate=5,
          overall_reload_rate=6, join_request_bucket_size=3, notify_bucket_size=2, global_uplink_bucket_size=1,
          overall_bucket_size=0)),
    (UP, "45", "configure_fwd_limit_ans", {}),
    (UP, "46da1b0126b90a", "notify_new_end_device_req", dict(dev_addr=0x26011BDA, rssi_dbm=-100, snr_db=5)),
]


def test_the_table_holds_every_command_once():
    kinds = [kind for _, _, kind, _ in ROWS]
    assert len(kinds) == len(set(kinds)) == 33


@pytest.mark.parametrize("direction, wire, kind, fields", ROWS, ids=[row[2] for row in ROWS])
def test_each_command_reads_from_its_bytes_and_writes_them_back(direction, wire, kind, fields):
    data = bytes.fromhex(wire)
    [command] = lorawan_mac_parse(direction, data)
    assert (command.kind, command.cid, command.direction) == (kind, data[0], direction)
    for name in FIELDS:
        got = getattr(command, name)
        if name in fields:
            assert got == fields[name] and type(got) is type(fields[name]), name
        else:
            assert got is None, name
    assert command.encode() == data
    # The same fields given to the constructor write the same bytes; the
    # direction may be given in any letter case.
    built = LorawanMacCommand(data[0], direction.upper(), **fields)
    assert built.kind == "" and built.direction == direction.upper()
    assert built.encode() == data


def test_the_constructor_takes_every_field_by_name_and_position():
    params = list(inspect.signature(LorawanMacCommand).parameters)
    assert params == ["cid", "direction"] + FIELDS
    positional = LorawanMacCommand(2, "downlink", 9, 3)
    assert (positional.margin, positional.gateways, positional.encode()) == (9, 3, bytes.fromhex("020903"))
    assert LorawanMacCommand.encode.__doc__.endswith("Writes this command out.")
    assert lorawan_mac_parse.__doc__.splitlines()[0] == (
        "Reads the commands packed into a frame options field, or a payload sent on port 0.")


@pytest.mark.parametrize(
    "direction, wire, written",
    [
        (DOWN, "0372070081", "0372070001"),  # bit 7 of the redundancy byte
        (UP, "06ffdf", "06ff1f"),  # bits 7-6 of a positive margin
        (UP, "06ffe0", "06ff20"),  # and of a negative one
        (DOWN, "44ff", "441f"),
        (UP, "46000000000fff", "46000000000f0f"),  # bits 15-12 of the levels
        (DOWN, "40ffff00000000", "40ff3f000000"),  # bits 15-14, and the byte after the command
    ],
)
def test_bits_outside_the_fields_are_ignored_and_written_as_zero(direction, wire, written):
    [command] = lorawan_mac_parse(direction, bytes.fromhex(wire))
    assert command.encode().hex() == written


def test_fields_read_as_the_layouts_say():
    assert lorawan_mac_parse(DOWN, bytes.fromhex("03720700f1"))[0].mask_control == 7
    assert lorawan_mac_parse(UP, bytes.fromhex("06ff1f"))[0].snr_margin == 31
    weakest = lorawan_mac_parse(UP, bytes.fromhex("4604030201ff0f"))[0]
    assert (weakest.dev_addr, weakest.rssi_dbm, weakest.snr_db) == (0x01020304, -142, 11)
    clamped = LorawanMacCommand(0x46, "uplink", dev_addr=0x01020304, rssi_dbm=-200, snr_db=50)
    assert clamped.encode().hex() == "4604030201ff0f"
    # Wider values than a field holds are masked, not refused.
    assert LorawanMacCommand(3, "downlink", data_rate=16, tx_power=1).encode().hex() == "0301000000"
    assert LorawanMacCommand(0x43, "downlink", reload_rate=64).encode()[2] == 0


def test_the_identifier_means_another_command_in_each_direction():
    assert [c.kind for c in lorawan_mac_parse("uplink", b"\x02")] == ["link_check_req"]
    assert lorawan_mac_parse("downlink", b"\x02\x05") == []
    assert [(c.kind, c.direction) for c in lorawan_mac_parse("DOWNLINK", bytes.fromhex("020502"))] == [
        ("link_check_ans", "Downlink")]
    # Any text but "downlink" means uplink.
    for text in ["", "sideways", "down", "downlinks", "Dοwnlink"]:
        assert [c.kind for c in lorawan_mac_parse(text, b"\x02")] == ["link_check_req"]
    sideways = LorawanMacCommand(6, "sideways", battery=3)
    assert (sideways.kind, sideways.direction, sideways.encode()) == ("", "sideways", bytes.fromhex("060300"))


@pytest.mark.parametrize(
    "direction, run, kinds",
    [
        (DOWN, "", []),
        (DOWN, "06 0b01 0801", ["dev_status_req"]),  # stops silently at 0x0B; 08 is never read
        (DOWN, "06 037207", ["dev_status_req"]),  # one truncated command ends the run
        (UP, "0307 06ff20 02 0d", ["link_adr_ans", "dev_status_ans", "link_check_req", "device_time_req"]),
        (UP, "0307 46da1b0126b90a 46", ["link_adr_ans", "notify_new_end_device_req"]),
        (DOWN, "46da1b0126b90a", []),
        (UP, "ff 02", []),
    ],
)
def test_a_run_is_read_to_its_end_the_first_unknown_identifier_or_a_truncated_command(direction, run, kinds):
    assert [c.kind for c in lorawan_mac_parse(direction, bytes.fromhex(run))] == kinds


def test_a_filter_rule_longer_than_sixteen_bytes_keeps_the_top_sixteen_and_cannot_be_written():
    # Seventeen EUI bytes 01 to 11, least significant first, then one more command.
    rule, after = lorawan_mac_parse(DOWN, bytes.fromhex("421100") + bytes(range(1, 18)) + b"\x06")
    assert after.kind == "dev_status_req"
    assert rule.eui_len == 17
    assert rule.eui == bytes(range(17, 1, -1))
    with pytest.raises(TrovikError, match="^lorawan frame is malformed$"):
        rule.encode()
    assert lorawan_mac_parse(DOWN, bytes.fromhex("42020001")) == []
    written = LorawanMacCommand(0x42, "downlink", eui_len=2, eui=EUI_01_02).encode()
    assert written.hex() == "4202000201"


@pytest.mark.parametrize(
    "cid, direction, fields, message",
    [
        (0x46, "Downlink", {}, "identifier 0x46 names no command in that direction"),
        (0x0B, "uplink", {}, "identifier 0x0b names no command in that direction"),
        (0xFF, "downlink", {}, "identifier 0xff names no command in that direction"),
        (0x42, "downlink", dict(eui=b"\x01\x02"), "eui must be exactly 16 bytes"),
        (0x43, "downlink", dict(root_wor_s_key=bytes(17)), "root_wor_s_key must be exactly 16 bytes"),
        (0x42, "downlink", dict(eui_len=17, eui=bytes(16)), "lorawan frame is malformed"),
        (0x05, "downlink", dict(frequency_hz=869525050), "lorawan frame is malformed"),
        (0x07, "downlink", dict(frequency_hz=1677721600), "lorawan frame is malformed"),
        (0x41, "downlink", dict(frequency_hz=150), "lorawan frame is malformed"),
    ],
)
def test_commands_that_cannot_be_written_are_refused(cid, direction, fields, message):
    command = LorawanMacCommand(cid, direction, **fields)
    with pytest.raises(TrovikError) as caught:
        command.encode()
    assert str(caught.value) == message


def test_missing_fields_are_zero_and_other_commands_fields_are_ignored():
    command = LorawanMacCommand(0x05, "downlink", frequency_hz=869525000, battery=7, eui=b"\x01")
    assert command.encode().hex() == "0500d2ad84"
    assert LorawanMacCommand(0x43, "downlink").encode() == bytes([0x43]) + bytes(26)
    assert LorawanMacCommand(0x42, "downlink").encode() == bytes([0x42, 0, 0])


@pytest.mark.parametrize(
    "kwargs, error",
    [
        (dict(margin=256), OverflowError),
        (dict(snr_margin=-129), OverflowError),
        (dict(rssi_dbm=40000), OverflowError),
        (dict(frequency_hz=-1), OverflowError),
        (dict(power_ack=1), TypeError),
        (dict(eui="0102"), TypeError),
        (dict(margin="5"), TypeError),
    ],
)
def test_fields_are_converted_by_their_types(kwargs, error):
    with pytest.raises(error):
        LorawanMacCommand(2, "downlink", **kwargs)


def test_arguments_are_converted_before_anything_is_read():
    with pytest.raises(OverflowError):
        LorawanMacCommand(256, "uplink")
    with pytest.raises(TypeError):
        LorawanMacCommand(2, b"uplink")
    with pytest.raises(TypeError):
        lorawan_mac_parse("uplink", "02")
    assert [c.kind for c in lorawan_mac_parse("uplink", [2, 4])] == ["link_check_req", "duty_cycle_ans"]


def test_a_command_object_has_no_equality_of_its_own():
    a, b = (LorawanMacCommand(2, "uplink") for _ in range(2))
    assert a != b and a == a
