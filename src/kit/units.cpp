// Unit conversions, in 32-bit floats: each constant is the nearest 32-bit
// float to the value written, and nothing is clamped or checked.
#include "binding/binding.hpp"

namespace trovik::py {

const BindingSource this_source{"kit"};

namespace {

constexpr float kelvin_at_zero_celsius = 273.15f;
constexpr float pascals_per_psi = 6894.757293168f;

const Function celsius_to_fahrenheit_fn{
    "celsius_to_fahrenheit", "Converts degrees Celsius to degrees Fahrenheit.", {"celsius"}, [](float celsius) {
        return celsius * 9.0f / 5.0f + 32.0f;
    }};
const Function fahrenheit_to_celsius_fn{
    "fahrenheit_to_celsius", "Converts degrees Fahrenheit to degrees Celsius.", {"fahrenheit"}, [](float fahrenheit) {
        return (fahrenheit - 32.0f) * 5.0f / 9.0f;
    }};
const Function celsius_to_kelvin_fn{
    "celsius_to_kelvin", "Converts degrees Celsius to kelvin.", {"celsius"}, [](float celsius) {
        return celsius + kelvin_at_zero_celsius;
    }};
const Function kelvin_to_celsius_fn{
    "kelvin_to_celsius", "Converts kelvin to degrees Celsius.", {"kelvin"}, [](float kelvin) {
        return kelvin - kelvin_at_zero_celsius;
    }};
const Function pascals_to_hectopascals_fn{
    "pascals_to_hectopascals", "Converts pascals to hectopascals.", {"pascals"}, [](float pascals) {
        return pascals / 100.0f;
    }};
const Function hectopascals_to_pascals_fn{
    "hectopascals_to_pascals", "Converts hectopascals to pascals.", {"hectopascals"}, [](float hectopascals) {
        return hectopascals * 100.0f;
    }};
const Function pascals_to_kilopascals_fn{
    "pascals_to_kilopascals", "Converts pascals to kilopascals.", {"pascals"}, [](float pascals) {
        return pascals / 1000.0f;
    }};
const Function kilopascals_to_pascals_fn{
    "kilopascals_to_pascals", "Converts kilopascals to pascals.", {"kilopascals"}, [](float kilopascals) {
        return kilopascals * 1000.0f;
    }};
const Function pascals_to_psi_fn{
    "pascals_to_psi", "Converts pascals to pounds per square inch.", {"pascals"}, [](float pascals) {
        return pascals / pascals_per_psi;
    }};
const Function psi_to_pascals_fn{
    "psi_to_pascals", "Converts pounds per square inch to pascals.", {"psi"}, [](float psi) {
        return psi * pascals_per_psi;
    }};
const Function ratio_to_percent_fn{
    "ratio_to_percent", "Converts a ratio from 0 to 1 to a percentage.", {"ratio"}, [](float ratio) {
        return ratio * 100.0f;
    }};
const Function percent_to_ratio_fn{
    "percent_to_ratio", "Converts a percentage to a ratio from 0 to 1.", {"percent"}, [](float percent) {
        return percent / 100.0f;
    }};

}  // namespace

}  // namespace trovik::py
