// LoRaWAN 1.0.x data frames and sessions, and over-the-air activation on the
// device's and the network's side.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>

#include "binding/binding.hpp"
#include "lorawan/keys.hpp"
#include "security/args.hpp"
#include "trovik/lorawan/cflist.hpp"
#include "trovik/lorawan/header.hpp"
#include "trovik/lorawan/join.hpp"
#include "trovik/lorawan/network.hpp"
#include "trovik/lorawan/session.hpp"

namespace trovik::py {

const BindingSource this_source{"lorawan"};

namespace {

using lorawan::CfList;
using lorawan::Device;
using lorawan::FrameHeader;
using lorawan::JoinAccept;
using lorawan::JoinGrant;
using lorawan::JoinRequest;
using lorawan::Key;
using lorawan::RxData;
using lorawan::Session;
using lorawan::WorKeys;

lorawan::Eui eui_arg(ByteView bytes, const char* name) {
    const auto checked = fixed<8>(bytes, name, RaiseAs::TrovikError);
    lorawan::Eui eui;
    std::ranges::copy(checked, eui.begin());
    return eui;
}

PyObject* frame_bytes(const lorawan::PhyPayload& frame) { return bytes_of(frame.as_bytes()); }

// ---- LorawanSession, LorawanRxData, LorawanHeader, LorawanWorKeys ------------------------------

Class<Session> session_class{
    "LorawanSession", "An activated LoRaWAN session: a device address and its two session keys.", [](auto& c) {
        c.no_borrow();  // never changes once made
        c.init({"dev_addr", "nwk_skey", "app_skey"},
               "Binds a device address to its network and application session keys,\n"
               "16 bytes each.",
               [](std::uint32_t dev_addr, ByteView nwk_skey, ByteView app_skey) {
                   const Key nwk = key_arg(nwk_skey, "nwk_skey");
                   const Key app = key_arg(app_skey, "app_skey");
                   return Session{nwk, app, dev_addr};
               });
        c.prop("dev_addr", "The device address this session is bound to.",
               [](const Session& self) { return self.dev_addr; });
        c.def("root_wor_s_key",
              "The root key of this device's relayed wake-on-radio frames (RootWorSKey),\n"
              "derived from the network session key.",
              [](const Session& self) { return bytes_of(self.root_wor_s_key()); });
        c.def("wor_keys", "The wake-on-radio integrity and encryption keys of this device.",
              [](const Session& self) { return make(self.wor_keys()); });
        c.def("encode_uplink",
              "Builds an uplink data frame: the payload encrypted, the MIC appended.\n\n"
              "`fcnt` is the full 32-bit frame counter; only its low 16 bits travel, and\n"
              "the integrity code and key stream use all 32. `fopts` are MAC commands\n"
              "carried in the header, at most 15 bytes, and never beside port 0.",
              {"fcnt", "fport", "payload", arg("confirmed").def(false), arg("adr").def(false), arg("ack").def(false),
               arg("fopts").none(), arg("adr_ack_req").def(false)},
              [](const Session& self, std::uint32_t fcnt, std::uint8_t fport, ByteView payload, bool confirmed,
                 bool adr, bool ack, std::optional<ByteView> fopts, bool adr_ack_req) {
                  const lorawan::UplinkFrame frame{.payload = payload,
                                                   .fopts = fopts.value_or(ByteView{}),
                                                   .fcnt = fcnt,
                                                   .fport = fport,
                                                   .confirmed = confirmed,
                                                   .adr = adr,
                                                   .adr_ack_req = adr_ack_req,
                                                   .ack = ack};
                  return frame_bytes(unwrap(self.encode_uplink(frame)));
              });
        c.def("encode_downlink",
              "Builds a downlink data frame: the payload encrypted, the MIC appended.\n\n"
              "`fcnt` is the full 32-bit downlink counter; only its low 16 bits travel.",
              {"fcnt", "fport", "payload", arg("confirmed").def(false), arg("adr").def(false), arg("ack").def(false),
               arg("fpending").def(false), arg("fopts").none()},
              [](const Session& self, std::uint32_t fcnt, std::uint8_t fport, ByteView payload, bool confirmed,
                 bool adr, bool ack, bool fpending, std::optional<ByteView> fopts) {
                  const lorawan::DownlinkFrame frame{.payload = payload,
                                                     .fopts = fopts.value_or(ByteView{}),
                                                     .fcnt = fcnt,
                                                     .fport = fport,
                                                     .confirmed = confirmed,
                                                     .adr = adr,
                                                     .ack = ack,
                                                     .fpending = fpending};
                  return frame_bytes(unwrap(self.encode_downlink(frame)));
              });
        c.def("decode",
              "Checks a data frame's integrity code and decrypts its payload.\n\n"
              "`fcnt` is the full 32-bit counter expected for this frame; its low 16 bits\n"
              "must be the ones the frame carries.",
              {"bytes", "fcnt"}, [](const Session& self, ByteView frame, std::uint32_t fcnt) {
                  return make(unwrap(self.decode(frame, fcnt)));
              });
    }};

Class<RxData> rx_data_class{
    "LorawanRxData", "A decoded data frame, with its payload decrypted.", [](auto& c) {
        c.no_borrow();  // a plain value
        c.prop("direction", "\"Uplink\" or \"Downlink\".",
               [](const RxData& r) { return r.direction == lorawan::Direction::Downlink ? "Downlink" : "Uplink"; });
        c.prop("dev_addr", "The device address the frame carries.", [](const RxData& r) { return r.dev_addr; });
        c.prop("fcnt", "The low 16 bits of the frame counter, as carried.", [](const RxData& r) { return r.fcnt; });
        c.prop("confirmed", "Whether the frame asks to be acknowledged.", [](const RxData& r) { return r.confirmed; });
        c.prop("adr", "The ADR bit.", [](const RxData& r) { return r.adr; });
        c.prop("ack", "Whether the frame acknowledges the last confirmed one.", [](const RxData& r) { return r.ack; });
        c.prop("fpending", "Whether the network has more to send (downlinks only).",
               [](const RxData& r) { return r.fpending; });
        c.prop("adr_ack_req", "Whether the device asks for an ADR answer (uplinks only).",
               [](const RxData& r) { return r.adr_ack_req; });
        c.prop("class_b", "The Class B bit (uplinks only).", [](const RxData& r) { return r.class_b; });
        c.prop("fport", "The port, or None when the frame carries only options.",
               [](const RxData& r) { return r.fport; });
        c.prop("fopts", "The MAC commands the header carried.", [](const RxData& r) { return bytes_of(r.fopts()); });
        c.prop("payload", "The decrypted application payload.", [](const RxData& r) { return bytes_of(r.payload()); });
    }};

Class<FrameHeader> header_class{
    "LorawanHeader", "The header of a LoRaWAN frame, read without any key.", [](auto& c) {
        c.no_borrow();  // a plain value
        c.prop("message_type",
               "One of \"JoinRequest\", \"JoinAccept\", \"UnconfirmedUp\", \"ConfirmedUp\",\n"
               "\"UnconfirmedDown\" and \"ConfirmedDown\".",
               [](const FrameHeader& h) { return lorawan::name(h.message_type); });
        c.prop("is_data", "Whether this is a data frame.",
               [](const FrameHeader& h) { return lorawan::is_data(h.message_type); });
        c.prop("dev_addr", "The device address, or None for a join frame.",
               [](const FrameHeader& h) { return h.dev_addr; });
        c.prop("fcnt", "The low 16 bits of the frame counter, or None for a join frame.",
               [](const FrameHeader& h) { return h.fcnt; });
        c.prop("fport", "The port, or None for a join frame or one carrying only options.",
               [](const FrameHeader& h) { return h.fport; });
        c.prop("confirmed", "Whether the frame asks to be acknowledged.",
               [](const FrameHeader& h) { return lorawan::is_confirmed(h.message_type); });
        c.prop("adr", "The ADR bit.", [](const FrameHeader& h) { return h.adr; });
        c.prop("ack", "The ACK bit.", [](const FrameHeader& h) { return h.ack; });
        c.prop("fpending", "The frame-pending bit (downlinks only).", [](const FrameHeader& h) { return h.fpending; });
        c.prop("adr_ack_req", "The ADR acknowledgement request bit (uplinks only).",
               [](const FrameHeader& h) { return h.adr_ack_req; });
        c.prop("class_b", "The Class B bit (uplinks only).", [](const FrameHeader& h) { return h.class_b; });
        c.prop("fopts_len", "How many bytes of MAC commands the header carries.",
               [](const FrameHeader& h) { return h.fopts_len; });
        c.prop("payload_len", "The length of the still-encrypted payload.",
               [](const FrameHeader& h) { return h.payload_len; });
    }};

const Function parse_header_fn{
    "lorawan_parse_header", "Reads a frame far enough to route it, without any key.", {"bytes"}, [](ByteView frame) {
        return make(unwrap(FrameHeader::parse(frame)));
    }};

// ---- LorawanDevice, LorawanJoinAccept ------------------------------------------------------------

Class<Device> device_class{
    "LorawanDevice", "The root credentials over-the-air activation is built on.", [](auto& c) {
        c.no_borrow();  // never changes once made
        c.init({"dev_eui", "app_eui", "app_key"},
               "The EUIs are 8 bytes each, most significant byte first; the AppKey is\n"
               "16 bytes.",
               [](ByteView dev_eui, ByteView app_eui, ByteView app_key) {
                   Device device;
                   device.dev_eui = eui_arg(dev_eui, "dev_eui");
                   device.app_eui = eui_arg(app_eui, "app_eui");
                   device.app_key = key_arg(app_key, "app_key");
                   return device;
               });
        c.prop("dev_eui", "The 8-byte device EUI, most-significant byte first.",
               [](const Device& d) { return bytes_of(d.dev_eui); });
        c.def("join_request",
              "Builds the join request this device broadcasts to activate.\n\n"
              "`dev_nonce` must never repeat for a device: the network rejects a\n"
              "replayed one.",
              {"dev_nonce"},
              [](const Device& d, std::uint16_t dev_nonce) { return frame_bytes(d.join_request(dev_nonce)); });
        c.def("accept_join",
              "Turns the join accept a network sent into the settings it grants.\n\n"
              "`dev_nonce` is the nonce the matching join request carried.",
              {"bytes", "dev_nonce"}, [](const Device& d, ByteView frame, std::uint16_t dev_nonce) {
                  return make(unwrap(d.accept_join(frame, dev_nonce)));
              });
    }};

Class<JoinAccept> join_accept_class{
    "LorawanJoinAccept", "An accepted join: the network settings, and the session it grants.", [](auto& c) {
        c.no_borrow();  // a plain value
        c.prop("dev_addr", "The device address the network assigned.", [](const JoinAccept& a) { return a.dev_addr; });
        c.prop("net_id", "The identifier of the network that accepted the join.",
               [](const JoinAccept& a) { return a.net_id; });
        c.prop("dl_settings", "The downlink settings byte, as it arrived.",
               [](const JoinAccept& a) { return a.dl_settings; });
        c.prop("rx_delay", "The delay byte before the first receive window, as it arrived.",
               [](const JoinAccept& a) { return a.rx_delay; });
        c.prop("rx1_dr_offset", "The data-rate offset of the first receive window.",
               [](const JoinAccept& a) { return (a.dl_settings >> 4) & 7; });
        c.prop("rx2_data_rate", "The data rate of the second receive window.",
               [](const JoinAccept& a) { return a.dl_settings & 0x0F; });
        c.prop("receive_delay_us",
               "The delay before the first receive window, in microseconds, where a delay\n"
               "byte of zero means one second.",
               [](const JoinAccept& a) {
                   const unsigned seconds = a.rx_delay & 0x0F;
                   return std::uint32_t{seconds == 0 ? 1u : seconds} * 1'000'000u;
               });
        c.prop("cflist", "The channel list the accept carried, or None.", [](const JoinAccept& a) -> PyObject* {
            if (!a.cflist) return none();
            return make(*a.cflist);
        });
        c.def("session", "The session this join grants.", [](const JoinAccept& a) { return make(a.session); });
    }};

// ---- LorawanJoinRequest, LorawanGrant, lorawan_parse_join_request ---------------------------------

Class<JoinRequest> join_request_class{
    "LorawanJoinRequest", "A join-request a device broadcast, with its integrity already verified.", [](auto& c) {
        c.no_borrow();  // a plain value
        c.prop("dev_eui", "The device identifier, most-significant byte first.",
               [](const JoinRequest& r) { return bytes_of(r.dev_eui); });
        c.prop("app_eui", "The application identifier, most-significant byte first.",
               [](const JoinRequest& r) { return bytes_of(r.app_eui); });
        c.prop("dev_nonce", "The nonce the request carried, which a network must not accept twice.",
               [](const JoinRequest& r) { return r.dev_nonce; });
    }};

Class<JoinGrant> grant_class{
    "LorawanGrant", "What a network grants a device that joined.", [](auto& c) {
        c.no_borrow();  // never changes once made
        c.init({"app_nonce", "net_id", "dev_addr", arg("dl_settings").def(0), arg("rx_delay").def(0),
                arg("cflist").none()},
               "Only the low 24 bits of `app_nonce` and `net_id` go on the air; `cflist`\n"
               "is None or the 16 bytes of a channel list, such as `LorawanCfList.bytes`.",
               [](std::uint32_t app_nonce, std::uint32_t net_id, std::uint32_t dev_addr, std::uint8_t dl_settings,
                  std::uint8_t rx_delay, std::optional<ByteView> cflist) {
                   JoinGrant grant{.app_nonce = app_nonce,
                                   .net_id = net_id,
                                   .dev_addr = dev_addr,
                                   .cflist = std::nullopt,
                                   .dl_settings = dl_settings,
                                   .rx_delay = rx_delay};
                   if (cflist) grant.cflist = CfList(fixed<CfList::kSize>(*cflist, "cflist", RaiseAs::TrovikError));
                   return grant;
               });
        c.prop("dev_addr", "The address this grant assigns.", [](const JoinGrant& g) { return g.dev_addr; });
        c.prop("net_id", "The network identifier this grant carries.", [](const JoinGrant& g) { return g.net_id; });
        c.def("accept",
              "Builds the signed join-accept to transmit.\n\n"
              "`dev_nonce` is the nonce of the request being answered; the accept itself\n"
              "does not depend on it.",
              {"app_key", "dev_nonce"}, [](const JoinGrant& g, ByteView app_key, std::uint16_t) {
                  return frame_bytes(g.accept(key_arg(app_key, "app_key")));
              });
        c.def("session", "Derives the session this grant activates, the same one the device computes.",
              {"app_key", "dev_nonce"}, [](const JoinGrant& g, ByteView app_key, std::uint16_t dev_nonce) {
                  return make(g.session(key_arg(app_key, "app_key"), dev_nonce));
              });
    }};

const Function parse_join_request_fn{"lorawan_parse_join_request",
                                     "Verifies a join-request and reads the identifiers out of it.",
                                     {"bytes", "app_key"},
                                     [](ByteView frame, ByteView app_key) {
                                         const Key key = key_arg(app_key, "app_key");
                                         return make(unwrap(JoinRequest::parse(frame, key)));
                                     }};

// ---- LorawanWorKeys ------------------------------------------------------------------------------

Class<WorKeys> wor_keys_class{
    "LorawanWorKeys", "The integrity and encryption keys of one end device's wake-on-radio frames, TS011-1.0.1.",
    [](auto& c) {
        c.no_borrow();  // never changes once made
        c.init({"integrity", "encryption"}, "Both keys are 16 bytes.", [](ByteView integrity, ByteView encryption) {
            const Key i = key_arg(integrity, "integrity");
            const Key e = key_arg(encryption, "encryption");
            return WorKeys{i, e};
        });
        c.prop("integrity", "The integrity key, WorSIntKey.", [](const WorKeys& k) { return bytes_of(k.integrity); });
        c.prop("encryption", "The encryption key, WorSEncKey.",
               [](const WorKeys& k) { return bytes_of(k.encryption); });
        // Keys never show in a repr.
        c.repr([](const WorKeys&) { return "LorawanWorKeys(..)"; });
        c.eq([](const WorKeys& a, const WorKeys& b) { return a == b; });
    }};

}  // namespace
}  // namespace trovik::py
