#include "binding/order.hpp"

#include <unordered_map>

namespace trovik::py {
namespace {

std::string quoted(std::string_view text) {
    std::string out = "'";
    out += text;
    out += '\'';
    return out;
}

}  // namespace

Placement place(std::span<const OrderEntry> order, std::span<const Contribution> contributions,
                std::span<const SourceFile> files) {
    Placement placement;
    placement.filled_by.resize(order.size());
    auto problem = [&](std::string text) { placement.problems.push_back("registration: " + std::move(text)); };

    std::unordered_map<std::string_view, std::size_t> position;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (!position.emplace(order[i].name, i).second)
            problem(quoted(order[i].name) + " appears twice in the registration order");
    }

    std::unordered_map<std::string_view, std::string_view> source_of_file;
    for (const SourceFile& f : files) {
        auto [it, added] = source_of_file.emplace(f.file, f.source);
        if (!added && it->second != f.source)
            problem(quoted(f.file) + " declares two binding sources, " + quoted(it->second) + " and " +
                    quoted(f.source));
    }

    for (std::size_t c = 0; c < contributions.size(); ++c) {
        const Contribution& entry = contributions[c];
        std::string_view source = entry.source;
        if (source.empty()) {
            auto declared = source_of_file.find(entry.file);
            if (declared == source_of_file.end()) {
                problem(quoted(entry.name) + " is contributed from " + quoted(entry.file) +
                        ", which declares no binding source");
                continue;
            }
            source = declared->second;
        }
        auto at = position.find(entry.name);
        if (at == position.end()) {
            problem(quoted(entry.name) + " is contributed by " + quoted(source) + " but not in the registration order");
            continue;
        }
        std::string_view expected = order[at->second].source;
        if (source != expected) {
            problem(quoted(entry.name) + " is contributed by " + quoted(source) +
                    " but the registration order gives it to " + quoted(expected));
            continue;
        }
        std::optional<std::size_t>& slot = placement.filled_by[at->second];
        if (slot) {
            problem(quoted(entry.name) + " is contributed twice by " + quoted(source));
            continue;
        }
        slot = c;
    }
    return placement;
}

}  // namespace trovik::py
