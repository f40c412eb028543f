#include "trovik/radios/sx127x/error.hpp"

#include "trovik/core/text.hpp"

namespace trovik::radios::sx127x {

std::string Error::message() const {
    switch (kind) {
        case Kind::Spi: return "SPI error: " + std::string(hal::name(spi));
        case Kind::Pin: return "NRESET line error: " + std::string(hal::name(pin));
        case Kind::NoChip: return "no SX127x answered: RegVersion read " + core::text::hex_prefixed(value, 4);
        case Kind::Bandwidth:
            return "the SX127x has no " + std::to_string(value) + " Hz LoRa bandwidth at this carrier";
        case Kind::SpreadingFactor: return "the SX127x has no SF" + std::to_string(value);
        case Kind::Sf6Header: return "SF6 needs an implicit header";
        case Kind::Frequency:
            return "the SX127x cannot tune to " + std::to_string(value) +
                   " Hz: its frequency word ends at 1023999969 Hz";
        case Kind::AmplifierMismatch: return "the power settings are for the other amplifier output";
        case Kind::PayloadLength: return "a LoRa frame carries 1 to 255 bytes, not " + std::to_string(length);
        case Kind::BufferTooSmall: return "a " + std::to_string(length) + " byte payload does not fit the buffer";
        case Kind::NotConfigured: return "the radio has not been configured";
        case Kind::Calibration: return "the image calibration did not finish";
        case Kind::NoInterrupt: return "the radio raised no interrupt in time";
    }
    return "";
}

}  // namespace trovik::radios::sx127x
