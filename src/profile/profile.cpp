// Device profiles: manifests read, checked and written back, and the
// built-in profiles for common field nodes.
#include <optional>
#include <string>
#include <string_view>

#include "binding/binding.hpp"
#include "trovik/profile/profile.hpp"

namespace trovik::py {

const BindingSource this_source{"profile"};

namespace {

using profile::profile::Profile;

Class<Profile> profile_class{
    "Profile",
    "A checked device profile: what a field node reads, the one topic it\npublishes to, how it judges each reading, "
    "how often it samples as its\nbattery drains and how it shows on the fleet dashboard.",
    [](auto& c) {
        c.no_borrow();  // immutable: every change makes a new profile
        c.prop("name", "The profile's stable, human-readable name.", [](const Profile& p) { return p.name; });
        c.prop("topic", "The one topic each reading is published to.", [](const Profile& p) { return p.topic; });
        c.prop("description", "What the profile is for, or `None`.", [](const Profile& p) { return p.description; });
        c.def("to_json", "The profile's manifest, pretty-printed JSON.",
              [](const Profile& p) { return unwrap(p.to_json()); });
        c.def_static("from_json",
                     "Reads a manifest and checks the profile it describes. Raises\n`TrovikError` when the text is "
                     "no profile manifest or the profile could\nnot run.",
                     {"manifest"},
                     [](std::string_view manifest) { return make(unwrap(Profile::from_json(manifest))); });
        c.def_static("well_level", "The built-in well-level monitor.", {}, [] { return make(Profile::well_level()); });
        c.def_static("flood_sensor", "The built-in flood sensor.", {}, [] { return make(Profile::flood_sensor()); });
        c.def_static("irrigation_node", "The built-in irrigation node.", {},
                     [] { return make(Profile::irrigation_node()); });
        c.def_static("vaccine_fridge_monitor", "The built-in cold-chain fridge monitor.", {},
                     [] { return make(Profile::vaccine_fridge_monitor()); });
    }};

}  // namespace

}  // namespace trovik::py
