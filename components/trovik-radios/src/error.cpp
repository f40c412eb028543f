#include "trovik/radios/sx126x/error.hpp"

#include "trovik/radios/sx126x/command.hpp"

namespace trovik::radios::sx126x {

std::string Error::message() const {
    switch (kind) {
        case Kind::Spi: return "SPI error: " + std::string(hal::name(spi));
        case Kind::Pin: return "BUSY or NRESET line error: " + std::string(hal::name(pin));
        case Kind::Busy: return "the radio held BUSY high past the time allowed";
        case Kind::NoChip: return "no SX126x answered, status " + debug(status);
        case Kind::Bandwidth: return "the SX126x has no " + std::to_string(bandwidth_hz) + " Hz LoRa bandwidth";
        case Kind::Llcc68Limit:
            return "the LLCC68 does not support SF" + std::to_string(spreading_factor) + " at " +
                   std::to_string(bandwidth_hz) + " Hz";
        case Kind::Frequency:
            return "the SX126x cannot tune to " + std::to_string(frequency_hz) + " Hz: its frequency word ends at " +
                   std::to_string(LAST_FREQUENCY_HZ) + " Hz";
        case Kind::AmplifierMismatch: return "the power settings are for the other power amplifier";
        case Kind::PayloadTooLong:
            return "a " + std::to_string(length) + " byte payload is longer than the 255 bytes a LoRa frame carries";
        case Kind::BufferTooSmall: return std::to_string(length) + " bytes do not fit the buffer";
        case Kind::NotConfigured: return "the radio has not been configured";
        case Kind::TxTimeout: return "the transmission timed out before TxDone";
        case Kind::NoInterrupt: return "the radio raised no interrupt in the time allowed";
    }
    return "";
}

}  // namespace trovik::radios::sx126x
