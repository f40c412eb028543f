// The key chain of the remote multicast setup package, and the key that
// signs a fragmented data block.
#include <algorithm>
#include <cstdint>
#include <string>

#include "binding/binding.hpp"
#include "lorawan_packages/key_arg.hpp"
#include "trovik/lorawan_packages/block_mic.hpp"
#include "trovik/lorawan_packages/multicast.hpp"

namespace trovik::py {

const BindingSource this_source{"lorawan_packages"};

namespace {

namespace mc = lorawan::packages::multicast;

PyObject* key_bytes(const mc::Key& key) { return to_py(std::span<const std::uint8_t>(key)); }

const Function root_key_fn{"lorawan_mc_root_key",
                           "Derives a device's multicast root key, TS005-2.0.0 section 4.3.\n\n"
                           "`lorawan11` picks the scheme: LoRaWAN 1.0.x devices derive it from their\n"
                           "`GenAppKey`, 1.1 devices from their `AppKey` under another constant.",
                           {"root_key", arg("lorawan11").def(false)},
                           [](ByteView root_key, bool lorawan11) {
                               return key_bytes(mc::mc_root_key_for(sixteen(root_key, "root_key"), lorawan11));
                           }};

const Function ke_key_fn{
    "lorawan_mc_ke_key",
    "Derives the key a multicast group's key travels under, section 4.3.",
    {"mc_root_key"},
    [](ByteView mc_root_key) { return key_bytes(mc::mc_ke_key(sixteen(mc_root_key, "mc_root_key"))); }};

const Function mc_key_fn{"lorawan_mc_key",
                         "Unwraps the group key a setup command carried, section 4.3.",
                         {"mc_ke_key", "wrapped"},
                         [](ByteView mc_ke_key, ByteView wrapped) {
                             const auto kek = sixteen(mc_ke_key, "mc_ke_key");
                             return key_bytes(mc::mc_key(kek, sixteen(wrapped, "wrapped")));
                         }};

const Function wrap_fn{"lorawan_wrap_mc_key",
                       "Wraps a group key for a device, which is what a server does before sending it.",
                       {"mc_ke_key", "mc_key"},
                       [](ByteView mc_ke_key, ByteView mc_key) {
                           const auto kek = sixteen(mc_ke_key, "mc_ke_key");
                           return key_bytes(mc::wrap_mc_key(kek, sixteen(mc_key, "mc_key")));
                       }};

const Function app_s_key_fn{"lorawan_mc_app_s_key",
                            "Derives the key that reads a multicast group's payloads, section 4.3.",
                            {"mc_key", "mc_addr"},
                            [](ByteView mc_key, std::uint32_t mc_addr) {
                                return key_bytes(mc::mc_app_s_key(sixteen(mc_key, "mc_key"), mc_addr));
                            }};

const Function nwk_s_key_fn{"lorawan_mc_nwk_s_key",
                            "Derives the key that verifies a multicast group's frames, section 4.3.",
                            {"mc_key", "mc_addr"},
                            [](ByteView mc_key, std::uint32_t mc_addr) {
                                return key_bytes(mc::mc_nwk_s_key(sixteen(mc_key, "mc_key"), mc_addr));
                            }};

const Function block_key_fn{
    "lorawan_data_block_int_key",
    "Derives the key that signs a data block, TS004-2.0.0 section 3.3.",
    {"root_key"},
    [](ByteView root_key) {
        return key_bytes(lorawan::packages::fragment::data_block_int_key(sixteen(root_key, "root_key")));
    }};

}  // namespace
}  // namespace trovik::py
