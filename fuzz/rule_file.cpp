// Rule files read, checked and written back: whatever reads is a rule set an
// evaluator arms, its text reads back to equal rules and is a fixed point of
// the writer, and nlohmann-json takes every text our reader takes. The
// evaluator then judges readings on each watched topic without breaking its
// own rules (only changes are reported, in file order, with the edge's list).
// libFuzzer options: -max_len=4096
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <nlohmann/json.hpp>

#include "support.hpp"
#include "trovik/profile/rule_evaluator.hpp"
#include "trovik/profile/rules.hpp"

using namespace trovik::profile::rules;
using trovik::fuzz::as_text;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = as_text({data, size});
    auto rules = Rules::from_json(text);
    if (!rules) {
        FUZZ_CHECK(rules.error().kind() == trovik::core::Error::Kind::Codec);
        FUZZ_CHECK(!rules.error().detail().empty());
        return 0;
    }
    FUZZ_CHECK(nlohmann::json::accept(text));
    FUZZ_CHECK(rules->check().has_value());

    const auto written = rules->to_json();
    FUZZ_CHECK(written.has_value());
    FUZZ_CHECK(nlohmann::json::accept(*written));
    auto back = Rules::from_json(*written);
    FUZZ_CHECK(back.has_value());
    FUZZ_CHECK(*back == *rules);
    FUZZ_CHECK(back->to_json() == written);

    auto evaluator = RuleEvaluator::create(std::move(*back));
    FUZZ_CHECK(evaluator.has_value());
    std::vector<bool> was_set;
    for (const Rule& rule : rules->rules)
        was_set.push_back(*evaluator->is_set(rule.name));
    const float readings[] = {-1e30f, 0.0f, 1e30f, std::nanf("")};
    for (const std::string& topic : evaluator->topics()) {
        FUZZ_CHECK(evaluator->watches(topic));
        for (const float x : readings) {
            auto fired = evaluator->evaluate(topic, x);
            FUZZ_CHECK(fired.has_value() == std::isfinite(x));
            if (!fired) continue;
            std::size_t from = 0;
            for (const Fired& f : *fired) {
                // Reports come in file order, one per rule that changed.
                while (from < rules->rules.size() && rules->rules[from].name != f.rule)
                    ++from;
                FUZZ_CHECK(from < rules->rules.size());
                const Rule& rule = rules->rules[from];
                FUZZ_CHECK(rule.when.topic == topic);
                FUZZ_CHECK(f.actions == (f.cleared ? rule.otherwise : rule.then));
                FUZZ_CHECK(f.cleared == was_set[from]);
                was_set[from] = !was_set[from];
                ++from;
            }
        }
    }
    FUZZ_CHECK(evaluator->rules() == *rules);
    return 0;
}
