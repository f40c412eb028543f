#include <doctest/doctest.h>

#include <optional>
#include <string>
#include <vector>

#include "binding/order.hpp"

using namespace trovik::py;

namespace {

constexpr OrderEntry kOrder[] = {
    {"lib", "version"},      {"exception", "TrovikError"}, {"mqtt", "MqttClient"},
    {"mqtt", "MqttMessage"}, {"coap", "CoapClient"},       {"constants", "PORT"},
};

const std::vector<SourceFile> kFiles = {
    {"src/lib.cpp", "lib"},
    {"src/mqtt/mqtt.cpp", "mqtt"},
    {"src/coap/coap.cpp", "coap"},
};

// The contribution index filling each line of the order, or -1.
std::vector<int> filled(const Placement& p) {
    std::vector<int> out;
    for (const std::optional<std::size_t>& c : p.filled_by)
        out.push_back(c ? static_cast<int>(*c) : -1);
    return out;
}

}  // namespace

TEST_CASE("contributions fill their lines of the order, whatever order they come in") {
    const std::vector<Contribution> contributions = {
        {"CoapClient", "", "src/coap/coap.cpp"}, {"MqttClient", "", "src/mqtt/mqtt.cpp"},
        {"TrovikError", "exception", ""},        {"version", "", "src/lib.cpp"},
        {"PORT", "constants", "src/lib.cpp"},  // a named source wins over the file's
    };
    Placement p = place(kOrder, contributions, kFiles);
    CHECK(p.problems.empty());
    // MqttMessage's source is only partly built: its line stays empty.
    CHECK(filled(p) == std::vector<int>{3, 2, 1, -1, 0, 4});
}

TEST_CASE("every broken rule is named with its entry and why") {
    struct Case {
        const char* what;
        std::vector<Contribution> contributions;
        std::vector<SourceFile> files;
        std::vector<std::string> problems;
    };
    const std::vector<Case> cases = {
        {"a name not in the order",
         {{"Foo", "", "src/mqtt/mqtt.cpp"}},
         kFiles,
         {"registration: 'Foo' is contributed by 'mqtt' but not in the registration order"}},
        {"a name the order gives to another source",
         {{"CoapClient", "", "src/mqtt/mqtt.cpp"}},
         kFiles,
         {"registration: 'CoapClient' is contributed by 'mqtt' but the registration order gives it to 'coap'"}},
        {"a named source that differs from the order's",
         {{"TrovikError", "constants", ""}},
         kFiles,
         {"registration: 'TrovikError' is contributed by 'constants' but the registration order gives it to "
          "'exception'"}},
        {"a name contributed twice",
         {{"MqttClient", "", "src/mqtt/mqtt.cpp"}, {"MqttClient", "", "src/mqtt/mqtt.cpp"}},
         kFiles,
         {"registration: 'MqttClient' is contributed twice by 'mqtt'"}},
        {"a file that declares no source",
         {{"MqttClient", "", "src/mqtt/client.cpp"}},
         kFiles,
         {"registration: 'MqttClient' is contributed from 'src/mqtt/client.cpp', which declares no binding source"}},
        {"a file that declares two sources",
         {},
         {{"src/mqtt/mqtt.cpp", "mqtt"}, {"src/mqtt/mqtt.cpp", "coap"}},
         {"registration: 'src/mqtt/mqtt.cpp' declares two binding sources, 'mqtt' and 'coap'"}},
        {"every problem at once",
         {{"Foo", "", "src/coap/coap.cpp"}, {"version", "", "src/lib.cpp"}, {"version", "lib", ""}},
         kFiles,
         {"registration: 'Foo' is contributed by 'coap' but not in the registration order",
          "registration: 'version' is contributed twice by 'lib'"}},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        Placement p = place(kOrder, c.contributions, c.files);
        CHECK(p.problems == c.problems);
    }
}

TEST_CASE("the first contribution of a name keeps its line") {
    const std::vector<Contribution> contributions = {
        {"MqttClient", "", "src/coap/coap.cpp"},  // refused: the order gives it to mqtt
        {"MqttClient", "", "src/mqtt/mqtt.cpp"},
        {"MqttClient", "", "src/mqtt/mqtt.cpp"},  // refused: already there
    };
    Placement p = place(kOrder, contributions, kFiles);
    CHECK(p.problems.size() == 2);
    CHECK(filled(p) == std::vector<int>{-1, -1, 1, -1, -1, -1});
}

TEST_CASE("a name twice in the order is refused") {
    constexpr OrderEntry order[] = {{"lib", "version"}, {"mqtt", "version"}};
    Placement p = place(order, {}, kFiles);
    CHECK(p.problems == std::vector<std::string>{"registration: 'version' appears twice in the registration order"});
}
