#include "trovik/power/duty.hpp"

#include <algorithm>

namespace trovik::power::duty {

DutyCycle DutyCycle::from_fraction(Duration period, float fraction) noexcept {
    Duration active{};
    if (fraction >= 1) {
        active = period;
    } else if (fraction > 0) {
        // The product is below the period, so it always has a duration; the
        // guard only keeps the sleep from going negative should it not.
        const double seconds = static_cast<double>(fraction) * period.as_secs_f64();
        active = std::min(Duration::from_secs_f64(seconds).value_or(period), period);
    }
    active.nanos -= active.nanos % 1000;  // whole microseconds
    return {active, period - active};
}

float DutyCycle::fraction() const noexcept {
    const Duration whole = period();
    if (whole == Duration{}) return 0.0f;
    return active.as_secs_f32() / whole.as_secs_f32();
}

}  // namespace trovik::power::duty
