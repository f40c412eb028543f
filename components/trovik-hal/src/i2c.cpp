#include "trovik/hal/i2c.hpp"

#include <array>

namespace trovik::hal {
namespace {

struct FaultNames {
    std::string_view name;
    std::string_view text;
    std::string_view rendering;
};

// In the order of `I2cFault`.
constexpr std::array<FaultNames, 7> kFaults{{
    {"NoAcknowledgeAddress", "The device did not acknowledge its address", "NoAcknowledge(Address)"},
    {"NoAcknowledgeData", "The device did not acknowledge the data", "NoAcknowledge(Data)"},
    {"NoAcknowledge", "The device did not acknowledge its address or the data", "NoAcknowledge(Unknown)"},
    {"Bus", "Bus error occurred", "Bus"},
    {"ArbitrationLoss", "The arbitration was lost", "ArbitrationLoss"},
    {"Overrun", "The peripheral receive buffer was overrun", "Overrun"},
    {"Other", "A different error occurred. The original error may contain more information", "Other"},
}};

const FaultNames& names(I2cFault fault) noexcept { return kFaults[static_cast<std::size_t>(fault)]; }

}  // namespace

std::string_view fault_text(I2cFault fault) noexcept { return names(fault).text; }
std::string_view fault_rendering(I2cFault fault) noexcept { return names(fault).rendering; }
std::string_view fault_name(I2cFault fault) noexcept { return names(fault).name; }

std::optional<I2cFault> fault_named(std::string_view name) noexcept {
    for (std::size_t i = 0; i < kFaults.size(); ++i)
        if (kFaults[i].name == name) return static_cast<I2cFault>(i);
    return std::nullopt;
}

}  // namespace trovik::hal
