#pragma once
// The rules that tie what binding sources contribute to the module's
// registration order: every contributed name is in the order, under the
// source that contributes it, and contributed once. Plain C++ with no
// interpreter in sight, so the rules are tested on their own.
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace trovik::py {

// One line of the registration order: the binding source that builds the
// entry, and the entry's name.
struct OrderEntry {
    std::string_view source;
    std::string_view name;
};

// One entry a binding source built. An empty `source` means the source that
// `file` declares itself to be.
struct Contribution {
    std::string_view name;
    std::string_view source;
    std::string_view file;
};

// A file's declaration of the binding source it is.
struct SourceFile {
    std::string_view file;
    std::string_view source;
};

struct Placement {
    // For each line of the order, the contribution that fills it, if any.
    std::vector<std::optional<std::size_t>> filled_by;
    // Each broken rule, one sentence naming the entry and why. The module
    // must not start while there is any.
    std::vector<std::string> problems;
};

Placement place(std::span<const OrderEntry> order, std::span<const Contribution> contributions,
                std::span<const SourceFile> files);

}  // namespace trovik::py
