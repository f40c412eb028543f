#pragma once
// The credentials and the personalised session the end-device tests share.
#include "trovik/lorawan/device/end_device.hpp"

namespace trovik::lorawan::device::testing {

inline const Session kSession{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
                              {16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1},
                              0x26011BDA};
inline const Device kCredentials{
    {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c},
    {0, 4, 0xa3, 0x0b, 0, 0x1c, 5, 0x30},
    {0x70, 0xb3, 0xd5, 0x7e, 0xd0, 0, 0, 1}};

}  // namespace trovik::lorawan::device::testing
