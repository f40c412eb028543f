#pragma once
// A LoRaWAN key argument: 16 bytes, refused by its name as TrovikError "{name}
// must be exactly 16 bytes" otherwise.
#include <algorithm>

#include "security/args.hpp"
#include "trovik/lorawan/wor_keys.hpp"

namespace trovik::py {

inline lorawan::Key key_arg(ByteView bytes, const char* name) {
    const auto checked = fixed<16>(bytes, name, RaiseAs::TrovikError);
    lorawan::Key key;
    std::ranges::copy(checked, key.begin());
    return key;
}

}  // namespace trovik::py
