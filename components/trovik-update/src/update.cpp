#include "trovik/update/update.hpp"

namespace trovik::update {

std::string_view action_name(BootDecision::Action action) noexcept {
    switch (action) {
        case BootDecision::Action::Confirmed: return "Confirmed";
        case BootDecision::Action::Trying: return "Trying";
        case BootDecision::Action::Reverted: return "Reverted";
    }
    return "Confirmed";
}

}  // namespace trovik::update
