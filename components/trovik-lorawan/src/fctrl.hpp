#pragma once
// The FCtrl flags as a direction reads them: bit 6 is ADRACKReq only on an
// uplink, bit 4 FPending on a downlink and ClassB on an uplink.
#include <cstdint>

namespace trovik::lorawan {

template <class Fields>
void read_fctrl_flags(Fields& into, std::uint8_t fctrl, bool downlink) noexcept {
    into.adr = fctrl & 0x80;
    into.adr_ack_req = !downlink && (fctrl & 0x40);
    into.ack = fctrl & 0x20;
    into.fpending = downlink && (fctrl & 0x10);
    into.class_b = !downlink && (fctrl & 0x10);
}

}  // namespace trovik::lorawan
