// Profile manifests read, checked and written back: whatever reads is a
// profile that passes its checks, its text reads back to an equal profile
// and is a fixed point of the writer, and nlohmann-json takes every text our
// reader takes and every text the writer makes.
// libFuzzer options: -max_len=4096
#include <cstddef>
#include <cstdint>

#include <nlohmann/json.hpp>

#include "support.hpp"
#include "trovik/profile/profile.hpp"

using trovik::fuzz::as_text;
using trovik::profile::profile::Profile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = as_text({data, size});
    auto profile = Profile::from_json(text);
    if (!profile) {
        FUZZ_CHECK(profile.error().kind() == trovik::core::Error::Kind::Codec);
        FUZZ_CHECK(!profile.error().detail().empty());
        return 0;
    }
    FUZZ_CHECK(nlohmann::json::accept(text));
    FUZZ_CHECK(profile->check().has_value());

    const auto written = profile->to_json();
    FUZZ_CHECK(written.has_value());
    FUZZ_CHECK(nlohmann::json::accept(*written));
    auto back = Profile::from_json(*written);
    FUZZ_CHECK(back.has_value());
    FUZZ_CHECK(*back == *profile);
    FUZZ_CHECK(back->to_json() == written);
    return 0;
}
