#include "trovik/core/topic.hpp"

namespace trovik::core {
namespace {

// Walks a '/'-separated text one level at a time, keeping empty levels.
struct Levels {
    std::string_view text;
    std::size_t pos = 0;
    bool done = false;

    bool next(std::string_view& level) noexcept {
        if (done) return false;
        auto slash = text.find('/', pos);
        if (slash == std::string_view::npos) {
            level = text.substr(pos);
            done = true;
        } else {
            level = text.substr(pos, slash - pos);
            pos = slash + 1;
        }
        return true;
    }
};

}  // namespace

bool topic_matches(std::string_view filter, std::string_view topic) noexcept {
    if (!topic.empty() && topic.front() == '$') {
        auto first = filter.substr(0, filter.find('/'));
        if (first == "+" || first == "#") return false;
    }
    Levels f{filter}, t{topic};
    for (;;) {
        std::string_view fl, tl;
        if (!f.next(fl)) return !t.next(tl);
        if (fl == "#") return true;
        if (!t.next(tl)) return false;
        if (fl == "+") continue;
        if (fl != tl) return false;
    }
}

}  // namespace trovik::core
