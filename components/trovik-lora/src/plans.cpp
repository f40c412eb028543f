// The published regional plans, table by table as the Regional Parameters
// print them. Tables that several plans print identically are stored once;
// each plan still reads as if it held its own copy.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "trovik/lora/region.hpp"

namespace trovik::lora {
namespace {

constexpr DataRateEntry reserved = std::nullopt;
constexpr MaxPayloadEntry no_limit = std::nullopt;
constexpr std::optional<std::uint8_t> slowest = std::nullopt;

constexpr DataRate lora(std::uint8_t sf, std::uint32_t bandwidth_hz, std::uint32_t bitrate_bps) {
    return DataRate::lora(sf, bandwidth_hz, bitrate_bps);
}
constexpr DataRate fsk(std::uint32_t bitrate_bps) { return DataRate::fsk(bitrate_bps); }
constexpr DataRate lr_fhss(std::uint8_t numerator, std::uint8_t denominator, std::uint32_t width_hz,
                           std::uint32_t bitrate_bps) {
    return DataRate::lr_fhss(numerator, denominator, width_hz, bitrate_bps);
}
constexpr MaxPayload limit(std::uint16_t mac_payload, std::uint16_t application) { return {mac_payload, application}; }

// A device that can never be repeated may use the repeater's share of the
// frame: every 230/222 limit of the repeater table becomes 250/242.
template <std::size_t N>
constexpr std::array<MaxPayloadEntry, N> direct_limits(const MaxPayloadEntry (&repeater)[N]) {
    std::array<MaxPayloadEntry, N> direct{};
    for (std::size_t i = 0; i < N; ++i) {
        direct[i] = repeater[i] == limit(230, 222) ? MaxPayloadEntry(limit(250, 242)) : repeater[i];
    }
    return direct;
}

template <std::size_t Rows, std::size_t Offsets>
constexpr std::array<Rx1Row, Rows> rows_of(const std::uint8_t (&table)[Rows][Offsets]) {
    std::array<Rx1Row, Rows> rows{};
    for (std::size_t i = 0; i < Rows; ++i)
        rows[i] = Rx1Row(table[i], Offsets);
    return rows;
}

// ---- Data rates ----

constexpr DataRate SF12_125 = lora(12, 125000, 250);
constexpr DataRate SF11_125 = lora(11, 125000, 440);
constexpr DataRate SF10_125 = lora(10, 125000, 980);
constexpr DataRate SF9_125 = lora(9, 125000, 1760);
constexpr DataRate SF8_125 = lora(8, 125000, 3125);
constexpr DataRate SF7_125 = lora(7, 125000, 5470);
constexpr DataRate SF6_125 = lora(6, 125000, 9375);
constexpr DataRate SF5_125 = lora(5, 125000, 15625);
constexpr DataRate SF7_250 = lora(7, 250000, 11000);
constexpr DataRate SF8_500 = lora(8, 500000, 12500);
constexpr DataRate FSK_50K = fsk(50000);
constexpr DataRate LR_FHSS_1_3_1523K = lr_fhss(1, 3, 1523000, 162);

constexpr DataRateEntry EU868_DATA_RATES[] = {
    SF12_125,
    SF11_125,
    SF10_125,
    SF9_125,
    SF8_125,
    SF7_125,
    SF7_250,
    FSK_50K,
    lr_fhss(1, 3, 137000, 162),
    lr_fhss(2, 3, 137000, 325),
    lr_fhss(1, 3, 336000, 162),
    lr_fhss(2, 3, 336000, 325),
    SF6_125,
    SF5_125,
};

// EU433, AS923 and RU864.
constexpr DataRateEntry EU433_DATA_RATES[] = {
    SF12_125, SF11_125, SF10_125, SF9_125,  SF8_125,  SF7_125, SF7_250,
    FSK_50K,  reserved, reserved, reserved, reserved, SF6_125, SF5_125,
};

constexpr DataRateEntry KR920_DATA_RATES[] = {
    SF12_125, SF11_125, SF10_125, SF9_125,  SF8_125,  SF7_125, reserved,
    reserved, reserved, reserved, reserved, reserved, SF6_125, SF5_125,
};

constexpr DataRateEntry IN865_DATA_RATES[] = {
    SF12_125, SF11_125, SF10_125, SF9_125,  SF8_125,  SF7_125, reserved,
    FSK_50K,  reserved, reserved, reserved, reserved, SF6_125, SF5_125,
};

// The four RP002-1.0.5 CN470-510 plans.
constexpr DataRateEntry CN470_DATA_RATES[] = {
    SF12_125, SF11_125, SF10_125, SF9_125, SF8_125, SF7_125, lora(7, 500000, 21900), FSK_50K,
};

constexpr DataRateEntry CN470_96_DATA_RATES[] = {
    SF12_125, SF11_125, SF10_125, SF9_125, SF8_125, SF7_125,
};

constexpr DataRateEntry AU915_UPLINK_DATA_RATES[] = {
    SF12_125, SF11_125, SF10_125, SF9_125, SF8_125, SF7_125, SF8_500, LR_FHSS_1_3_1523K, reserved, SF6_125, SF5_125,
};

constexpr DataRateEntry US915_UPLINK_DATA_RATES[] = {
    SF10_125, SF9_125, SF8_125, SF7_125, SF8_500, LR_FHSS_1_3_1523K, lr_fhss(2, 3, 1523000, 325), SF6_125, SF5_125,
};

// US915 and AU915 number their downlinks on their own.
constexpr DataRateEntry US_AU_DOWNLINK_DATA_RATES[] = {
    lora(5, 500000, 62500),
    reserved,
    reserved,
    reserved,
    reserved,
    reserved,
    reserved,
    reserved,
    lora(12, 500000, 980),
    lora(11, 500000, 1760),
    lora(10, 500000, 3900),
    lora(9, 500000, 7000),
    SF8_500,
    lora(7, 500000, 21900),
    lora(6, 500000, 37500),
};

// ---- Payload limits (repeater tables; the direct ones follow by rule) ----

constexpr MaxPayloadEntry EU868_PAYLOAD[] = {
    limit(59, 51),   limit(59, 51), limit(59, 51),   limit(123, 115), limit(230, 222), limit(230, 222), limit(230, 222),
    limit(230, 222), limit(58, 50), limit(123, 115), limit(58, 50),   limit(123, 115), limit(230, 222), limit(230, 222),
};
constexpr auto EU868_PAYLOAD_DIRECT = direct_limits(EU868_PAYLOAD);

// EU433 and RU864.
constexpr MaxPayloadEntry EU433_PAYLOAD[] = {
    limit(59, 51),   limit(59, 51), limit(59, 51), limit(123, 115), limit(230, 222), limit(230, 222), limit(230, 222),
    limit(230, 222), no_limit,      no_limit,      no_limit,        no_limit,        limit(230, 222), limit(230, 222),
};
constexpr auto EU433_PAYLOAD_DIRECT = direct_limits(EU433_PAYLOAD);

constexpr MaxPayloadEntry AS923_PAYLOAD[] = {
    limit(59, 51),   limit(59, 51), limit(123, 115), limit(123, 115), limit(230, 222), limit(230, 222), limit(230, 222),
    limit(230, 222), no_limit,      no_limit,        no_limit,        no_limit,        limit(230, 222), limit(230, 222),
};
constexpr auto AS923_PAYLOAD_DIRECT = direct_limits(AS923_PAYLOAD);

constexpr MaxPayloadEntry AS923_PAYLOAD_DWELL_LIMITED[] = {
    no_limit,        no_limit, limit(19, 11), limit(61, 53), limit(133, 125), limit(230, 222), limit(230, 222),
    limit(230, 222), no_limit, no_limit,      no_limit,      no_limit,        limit(230, 222), limit(230, 222),
};

constexpr MaxPayloadEntry KR920_PAYLOAD[] = {
    limit(59, 51), limit(59, 51), limit(59, 51), limit(123, 115), limit(230, 222), limit(230, 222), no_limit,
    no_limit,      no_limit,      no_limit,      no_limit,        no_limit,        limit(230, 222), limit(230, 222),
};
constexpr auto KR920_PAYLOAD_DIRECT = direct_limits(KR920_PAYLOAD);

constexpr MaxPayloadEntry IN865_PAYLOAD[] = {
    limit(59, 51),   limit(59, 51), limit(59, 51), limit(123, 115), limit(230, 222), limit(230, 222), no_limit,
    limit(230, 222), no_limit,      no_limit,      no_limit,        no_limit,        limit(230, 222), limit(230, 222),
};
constexpr auto IN865_PAYLOAD_DIRECT = direct_limits(IN865_PAYLOAD);

constexpr MaxPayloadEntry CN470_PAYLOAD[] = {
    no_limit,        limit(31, 23),   limit(94, 86),   limit(192, 184),
    limit(230, 222), limit(230, 222), limit(230, 222), limit(230, 222),
};
constexpr auto CN470_PAYLOAD_DIRECT = direct_limits(CN470_PAYLOAD);

constexpr MaxPayloadEntry CN470_96_PAYLOAD[] = {
    limit(59, 51), limit(59, 51), limit(59, 51), limit(123, 115), limit(230, 222), limit(230, 222),
};
constexpr auto CN470_96_PAYLOAD_DIRECT = direct_limits(CN470_96_PAYLOAD);

constexpr MaxPayloadEntry AU915_UPLINK_PAYLOAD[] = {
    limit(59, 51),   limit(59, 51), limit(59, 51), limit(123, 115), limit(230, 222), limit(230, 222),
    limit(230, 222), limit(58, 50), no_limit,      limit(230, 222), limit(230, 222),
};
constexpr auto AU915_UPLINK_PAYLOAD_DIRECT = direct_limits(AU915_UPLINK_PAYLOAD);

constexpr MaxPayloadEntry AU915_PAYLOAD_DWELL_LIMITED[] = {
    no_limit,        no_limit,      limit(19, 11), limit(61, 53),   limit(133, 125), limit(230, 222),
    limit(230, 222), limit(58, 50), no_limit,      limit(230, 222), limit(230, 222),
};

constexpr MaxPayloadEntry US915_UPLINK_PAYLOAD[] = {
    limit(19, 11), limit(61, 53),   limit(133, 125), limit(230, 222), limit(230, 222),
    limit(58, 50), limit(133, 125), limit(230, 222), limit(230, 222),
};
constexpr auto US915_UPLINK_PAYLOAD_DIRECT = direct_limits(US915_UPLINK_PAYLOAD);

constexpr MaxPayloadEntry US_AU_DOWNLINK_PAYLOAD[] = {
    limit(230, 222), no_limit,        no_limit,        no_limit,        no_limit,
    no_limit,        no_limit,        no_limit,        limit(61, 53),   limit(137, 129),
    limit(230, 222), limit(230, 222), limit(230, 222), limit(230, 222), limit(230, 222),
};
constexpr auto US_AU_DOWNLINK_PAYLOAD_DIRECT = direct_limits(US_AU_DOWNLINK_PAYLOAD);

// ---- Channels ----

constexpr ChannelBlock EU868_CHANNELS[] = {{868100000, 200000, 3, 0, 5}};
constexpr ChannelBlock EU433_CHANNELS[] = {{433175000, 200000, 3, 0, 5}};
constexpr ChannelBlock AS923_JOIN_CHANNELS[] = {{923200000, 200000, 2, 2, 5}};
constexpr ChannelBlock AS923_CHANNELS[] = {{923200000, 200000, 2, 0, 5}};
constexpr ChannelBlock KR920_CHANNELS[] = {{922100000, 200000, 3, 0, 5}};
constexpr ChannelBlock IN865_CHANNELS[] = {
    {865062500, 0, 1, 0, 5},
    {865402500, 0, 1, 0, 5},
    {865985000, 0, 1, 0, 5},
};
constexpr ChannelBlock RU864_CHANNELS[] = {{868900000, 200000, 2, 0, 5}};

constexpr ChannelBlock US915_JOIN_CHANNELS[] = {
    {902300000, 200000, 64, 0, 0},
    {903000000, 1600000, 8, 4, 4},
};
constexpr ChannelBlock US915_CHANNELS[] = {
    {902300000, 200000, 64, 0, 3},
    {903000000, 1600000, 8, 4, 4},
};
constexpr ChannelBlock AU915_JOIN_CHANNELS[] = {
    {915200000, 200000, 64, 2, 2},
    {915900000, 1600000, 8, 6, 6},
};
constexpr ChannelBlock AU915_CHANNELS[] = {
    {915200000, 200000, 64, 0, 5},
    {915900000, 1600000, 8, 6, 7},
};
constexpr ChannelBlock DOWNSTREAM_923[] = {{923300000, 600000, 8, 8, 13}};

// The join channels of the four RP002-1.0.5 CN470-510 plans, one block per
// join plan, in join-plan order.
constexpr ChannelBlock CN470_JOIN_CHANNELS[] = {
    {470900000, 1600000, 4, 0, 5}, {504100000, 1600000, 4, 0, 5}, {479900000, 20000000, 2, 0, 5},
    {470300000, 2000000, 5, 0, 5}, {480300000, 2000000, 5, 0, 5},
};
constexpr ChannelBlock CN470_CHANNELS[] = {
    {470300000, 200000, 32, 0, 5},
    {503500000, 200000, 32, 0, 5},
};
constexpr ChannelBlock CN470_DOWNLINK_CHANNELS[] = {
    {483900000, 200000, 32, 0, 5},
    {490300000, 200000, 32, 0, 5},
};
// Type B of the 20 MHz antenna answers on the very channels it transmits on.
constexpr ChannelBlock CN470_20B_CHANNELS[] = {
    {476900000, 200000, 32, 0, 5},
    {496900000, 200000, 32, 0, 5},
};
constexpr ChannelBlock CN470_26A_CHANNELS[] = {{470300000, 200000, 48, 0, 5}};
constexpr ChannelBlock CN470_26A_DOWNLINK_CHANNELS[] = {{490100000, 200000, 24, 0, 5}};
constexpr ChannelBlock CN470_26B_CHANNELS[] = {{480300000, 200000, 48, 0, 5}};
constexpr ChannelBlock CN470_26B_DOWNLINK_CHANNELS[] = {{500100000, 200000, 24, 0, 5}};
constexpr ChannelBlock CN470_96_CHANNELS[] = {{470300000, 200000, 96, 0, 5}};
constexpr ChannelBlock CN470_96_DOWNLINK_CHANNELS[] = {{500300000, 200000, 48, 0, 5}};

// A join on one of these runs selects a CN470-510 plan and fixes where its
// accept and second window fall.
constexpr JoinPlan CN470_JOIN_PLANS[] = {
    {CN470_JOIN_CHANNELS[0], 484500000, 1600000, 485300000, 1600000, &plans::CN470},
    {CN470_JOIN_CHANNELS[1], 490900000, 1600000, 491700000, 1600000, &plans::CN470},
    {CN470_JOIN_CHANNELS[2], 479900000, 20000000, 478300000, 20000000, &plans::CN470_20B},
    {CN470_JOIN_CHANNELS[3], 492500000, 0, 492500000, 0, &plans::CN470_26A},
    {CN470_JOIN_CHANNELS[4], 502500000, 0, 502500000, 0, &plans::CN470_26B},
};

// ---- Sub-bands ----

constexpr SubBand EU868_SUB_BANDS[] = {
    {868000000, 868600000, 10, 16},
    {869400000, 869650000, 100, 27},
};
constexpr SubBand EU433_SUB_BANDS[] = {{433050000, 434790000, 100, 12}};
constexpr SubBand AS923_SUB_BANDS[] = {{923000000, 923500000, 10, 16}};
// Unrestricted in time, yet with their own power ceilings.
constexpr SubBand KR920_SUB_BANDS[] = {
    {920900000, 921900000, 1000, 10},
    {922100000, 923300000, 1000, 14},
};
constexpr SubBand RU864_SUB_BANDS[] = {{868700000, 869200000, 10, 16}};

// ---- RX1 data rates, by uplink data rate (row) and RX1DROffset (column) ----

constexpr std::uint8_t EU868_RX1[14][6] = {
    {0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0}, {2, 1, 0, 0, 0, 0},  {3, 2, 1, 0, 0, 0},   {4, 3, 2, 1, 0, 0},
    {5, 4, 3, 2, 1, 0}, {6, 5, 4, 3, 2, 1}, {7, 6, 5, 4, 3, 2},  {1, 0, 0, 0, 0, 0},   {2, 1, 0, 0, 0, 0},
    {1, 0, 0, 0, 0, 0}, {2, 1, 0, 0, 0, 0}, {12, 5, 4, 3, 2, 1}, {13, 12, 5, 4, 3, 2},
};
constexpr auto EU868_RX1_ROWS = rows_of(EU868_RX1);

// EU433 and RU864.
constexpr std::uint8_t EU433_RX1[14][6] = {
    {0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0}, {2, 1, 0, 0, 0, 0},  {3, 2, 1, 0, 0, 0},   {4, 3, 2, 1, 0, 0},
    {5, 4, 3, 2, 1, 0}, {6, 5, 4, 3, 2, 1}, {7, 6, 5, 4, 3, 2},  {0, 0, 0, 0, 0, 0},   {0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, {12, 5, 4, 3, 2, 1}, {13, 12, 5, 4, 3, 2},
};
constexpr auto EU433_RX1_ROWS = rows_of(EU433_RX1);

constexpr std::uint8_t KR920_RX1[14][6] = {
    {0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0}, {2, 1, 0, 0, 0, 0},  {3, 2, 1, 0, 0, 0},   {4, 3, 2, 1, 0, 0},
    {5, 4, 3, 2, 1, 0}, {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0},  {0, 0, 0, 0, 0, 0},   {0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, {12, 5, 4, 3, 2, 1}, {13, 12, 5, 4, 3, 2},
};
constexpr auto KR920_RX1_ROWS = rows_of(KR920_RX1);

constexpr std::uint8_t AS923_RX1[14][8] = {
    {0, 0, 0, 0, 0, 0, 1, 2},    {1, 0, 0, 0, 0, 0, 2, 3},     {2, 1, 0, 0, 0, 0, 3, 4}, {3, 2, 1, 0, 0, 0, 4, 5},
    {4, 3, 2, 1, 0, 0, 5, 6},    {5, 4, 3, 2, 1, 0, 6, 7},     {6, 5, 4, 3, 2, 1, 7, 7}, {7, 6, 5, 4, 3, 2, 7, 7},
    {0, 0, 0, 0, 0, 0, 1, 2},    {0, 0, 0, 0, 0, 0, 1, 2},     {0, 0, 0, 0, 0, 0, 1, 2}, {0, 0, 0, 0, 0, 0, 1, 2},
    {12, 5, 4, 3, 2, 1, 13, 13}, {13, 12, 5, 4, 3, 2, 13, 13},
};
constexpr auto AS923_RX1_ROWS = rows_of(AS923_RX1);

// Under the dwell-time limit a downlink never goes below DR2.
constexpr std::uint8_t AS923_RX1_DWELL_LIMITED[14][8] = {
    {2, 2, 2, 2, 2, 2, 2, 2},    {2, 2, 2, 2, 2, 2, 2, 3},     {2, 2, 2, 2, 2, 2, 3, 4}, {3, 2, 2, 2, 2, 2, 4, 5},
    {4, 3, 2, 2, 2, 2, 5, 6},    {5, 4, 3, 2, 2, 2, 6, 7},     {6, 5, 4, 3, 2, 2, 7, 7}, {7, 6, 5, 4, 3, 2, 7, 7},
    {2, 2, 2, 2, 2, 2, 2, 2},    {2, 2, 2, 2, 2, 2, 2, 2},     {2, 2, 2, 2, 2, 2, 2, 2}, {2, 2, 2, 2, 2, 2, 2, 2},
    {12, 5, 4, 3, 2, 2, 13, 13}, {13, 12, 5, 4, 3, 2, 13, 13},
};
constexpr auto AS923_RX1_DWELL_LIMITED_ROWS = rows_of(AS923_RX1_DWELL_LIMITED);

constexpr std::uint8_t IN865_RX1[14][8] = {
    {0, 0, 0, 0, 0, 0, 1, 2},    {1, 0, 0, 0, 0, 0, 2, 3},     {2, 1, 0, 0, 0, 0, 3, 4}, {3, 2, 1, 0, 0, 0, 4, 5},
    {4, 3, 2, 1, 0, 0, 5, 5},    {5, 4, 3, 2, 1, 0, 5, 7},     {0, 0, 0, 0, 0, 0, 1, 2}, {7, 5, 5, 4, 3, 2, 7, 7},
    {0, 0, 0, 0, 0, 0, 1, 2},    {0, 0, 0, 0, 0, 0, 1, 2},     {0, 0, 0, 0, 0, 0, 1, 2}, {0, 0, 0, 0, 0, 0, 1, 2},
    {12, 5, 4, 3, 2, 1, 13, 13}, {13, 12, 5, 4, 3, 2, 13, 13},
};
constexpr auto IN865_RX1_ROWS = rows_of(IN865_RX1);

constexpr std::uint8_t CN470_RX1[8][6] = {
    {0, 0, 0, 0, 0, 0}, {1, 1, 1, 1, 1, 1}, {2, 1, 1, 1, 1, 1}, {3, 2, 1, 1, 1, 1},
    {4, 3, 2, 1, 1, 1}, {5, 4, 3, 2, 1, 1}, {6, 5, 4, 3, 2, 1}, {7, 6, 5, 4, 3, 2},
};
constexpr auto CN470_RX1_ROWS = rows_of(CN470_RX1);

constexpr std::uint8_t CN470_96_RX1[6][6] = {
    {0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0}, {2, 1, 0, 0, 0, 0},
    {3, 2, 1, 0, 0, 0}, {4, 3, 2, 1, 0, 0}, {5, 4, 3, 2, 1, 0},
};
constexpr auto CN470_96_RX1_ROWS = rows_of(CN470_96_RX1);

constexpr std::uint8_t US915_RX1[9][4] = {
    {10, 9, 8, 8}, {11, 10, 9, 8}, {12, 11, 10, 9},  {13, 12, 11, 10}, {13, 13, 12, 11},
    {10, 9, 8, 8}, {11, 10, 9, 8}, {14, 13, 12, 11}, {0, 14, 13, 12},
};
constexpr auto US915_RX1_ROWS = rows_of(US915_RX1);

constexpr std::uint8_t AU915_RX1[11][6] = {
    {8, 8, 8, 8, 8, 8},    {9, 8, 8, 8, 8, 8},      {10, 9, 8, 8, 8, 8},     {11, 10, 9, 8, 8, 8},
    {12, 11, 10, 9, 8, 8}, {13, 12, 11, 10, 9, 8},  {13, 13, 12, 11, 10, 9}, {9, 8, 8, 8, 8, 8},
    {8, 8, 8, 8, 8, 8},    {14, 13, 12, 11, 10, 9}, {0, 14, 13, 12, 11, 10},
};
constexpr auto AU915_RX1_ROWS = rows_of(AU915_RX1);

// ---- Adaptive back-off: the next lower data rate of each uplink data rate ----

constexpr std::optional<std::uint8_t> EU868_BACKOFF[] = {slowest, 0, 1, 2, 3, 4, 5, 6, 0, 8, 0, 10, 5, 12};
// EU433, AS923 and RU864.
constexpr std::optional<std::uint8_t> EU433_BACKOFF[] = {
    slowest, 0, 1, 2, 3, 4, 5, 6, slowest, slowest, slowest, slowest, 5, 12,
};
constexpr std::optional<std::uint8_t> KR920_BACKOFF[] = {
    slowest, 0, 1, 2, 3, 4, slowest, slowest, slowest, slowest, slowest, slowest, 5, 12,
};
constexpr std::optional<std::uint8_t> IN865_BACKOFF[] = {
    slowest, 0, 1, 2, 3, 4, slowest, 5, slowest, slowest, slowest, slowest, 5, 12,
};
constexpr std::optional<std::uint8_t> CN470_BACKOFF[] = {slowest, 0, 1, 2, 3, 4, 5, 6};
constexpr std::optional<std::uint8_t> CN470_96_BACKOFF[] = {slowest, 0, 1, 2, 3, 4};
constexpr std::optional<std::uint8_t> US915_BACKOFF[] = {slowest, 0, 1, 2, 3, 0, 5, 3, 7};
constexpr std::optional<std::uint8_t> AU915_BACKOFF[] = {slowest, 0, 1, 2, 3, 4, 5, 0, slowest, 5, 9};

// ---- Default relay channels ----

constexpr RelayChannel EU868_RELAY[] = {{865100000, 865300000, 3}, {865500000, 865900000, 5}};
constexpr RelayChannel US_AU_RELAY[] = {{916700000, 918300000, 10}, {919900000, 921500000, 10}};
constexpr RelayChannel CN470_RELAY[] = {{472100000, 485300000, 3}, {494900000, 505500000, 5}};
constexpr RelayChannel AS923_RELAY[] = {{923600000, 923800000, 3}};
constexpr RelayChannel KR920_RELAY[] = {{922700000, 922900000, 3}, {923100000, 923100000, 5}};
constexpr RelayChannel IN865_RELAY[] = {{866000000, 866200000, 3}, {866700000, 866900000, 5}};
constexpr RelayChannel RU864_RELAY[] = {{866100000, 866300000, 3}, {866500000, 866900000, 5}};

// ---- ChMaskCntl meanings, values 0 to 7 ----

using MaskControls = std::array<MaskControl, 8>;
constexpr auto group = MaskControl::one_group;

constexpr MaskControls DYNAMIC_MASK_CONTROLS{
    group(0),
    group(1),
    group(2),
    group(3),
    group(4),
    MaskControl::banks(),
    MaskControl::all_channels(true),
    MaskControl::reserved(),
};
constexpr MaskControls US_AU_MASK_CONTROLS{
    group(0),
    group(1),
    group(2),
    group(3),
    group(4),
    MaskControl::paired_banks(),
    MaskControl::all_channels(true, 4),
    MaskControl::all_channels(false, 4),
};
// CN470 and CN470_20B.
constexpr MaskControls CN470_20_MASK_CONTROLS{
    group(0),
    group(1),
    group(2),
    group(3),
    MaskControl::reserved(),
    MaskControl::reserved(),
    MaskControl::all_channels(true),
    MaskControl::all_channels(false),
};
constexpr MaskControls CN470_26_MASK_CONTROLS{
    group(0),
    group(1),
    group(2),
    MaskControl::all_channels(true),
    MaskControl::all_channels(false),
    MaskControl::reserved(),
    MaskControl::reserved(),
    MaskControl::reserved(),
};
constexpr MaskControls CN470_96_MASK_CONTROLS{
    group(0),
    group(1),
    group(2),
    group(3),
    group(4),
    group(5),
    MaskControl::all_channels(true),
    MaskControl::reserved(),
};

}  // namespace

namespace plans {

constexpr ChannelPlan EU868{
    .name = "EU863-870",
    .uplink_data_rates = EU868_DATA_RATES,
    .downlink_data_rates = EU868_DATA_RATES,
    .max_payload_uplink_repeater = EU868_PAYLOAD,
    .max_payload_uplink_direct = EU868_PAYLOAD_DIRECT,
    .max_payload_downlink_repeater = EU868_PAYLOAD,
    .max_payload_downlink_direct = EU868_PAYLOAD_DIRECT,
    .max_payload_dwell_limited = std::nullopt,
    .join_channels = EU868_CHANNELS,
    .default_channels = EU868_CHANNELS,
    .downlink_channels = {},
    .sub_bands = EU868_SUB_BANDS,
    .rx1_rows = EU868_RX1_ROWS,
    .rx1_rows_dwell_limited = std::nullopt,
    .backoff = EU868_BACKOFF,
    .relay_channels = EU868_RELAY,
    .join_plans = {},
    .mask_controls = DYNAMIC_MASK_CONTROLS,
    .rx2_frequency_hz = 869525000,
    .rx2_data_rate = 0,
    .max_rx1_data_rate_offset = 5,
    .beacon = {869525000, 869525000, 3},
    .default_max_eirp_dbm = 16,
    .tx_power_step_db = 2,
    .max_tx_power_index = 7,
    .kind = PlanKind::dynamic(ChannelList::Mhz800),
    .power_reference = PowerReference::eirp(),
    .has_dwell_time_limit = false,
    .tx_param_setup = false,
    .join_sequence = JoinSequence::Random,
};

constexpr ChannelPlan US915{
    .name = "US902-928",
    .uplink_data_rates = US915_UPLINK_DATA_RATES,
    .downlink_data_rates = US_AU_DOWNLINK_DATA_RATES,
    .max_payload_uplink_repeater = US915_UPLINK_PAYLOAD,
    .max_payload_uplink_direct = US915_UPLINK_PAYLOAD_DIRECT,
    .max_payload_downlink_repeater = US_AU_DOWNLINK_PAYLOAD,
    .max_payload_downlink_direct = US_AU_DOWNLINK_PAYLOAD_DIRECT,
    .max_payload_dwell_limited = std::nullopt,
    .join_channels = US915_JOIN_CHANNELS,
    .default_channels = US915_CHANNELS,
    .downlink_channels = DOWNSTREAM_923,
    .sub_bands = {},
    .rx1_rows = US915_RX1_ROWS,
    .rx1_rows_dwell_limited = std::nullopt,
    .backoff = US915_BACKOFF,
    .relay_channels = US_AU_RELAY,
    .join_plans = {},
    .mask_controls = US_AU_MASK_CONTROLS,
    .rx2_frequency_hz = 923300000,
    .rx2_data_rate = 8,
    .max_rx1_data_rate_offset = 3,
    .beacon = {923300000, 923300000, 8},
    .default_max_eirp_dbm = 30,
    .tx_power_step_db = 2,
    .max_tx_power_index = 14,
    .kind = PlanKind::fixed(),
    .power_reference = PowerReference::conducted(6),
    .has_dwell_time_limit = true,
    .tx_param_setup = false,
    .join_sequence = JoinSequence::OctetPasses,
};

constexpr ChannelPlan EU433{
    .name = "EU433",
    .uplink_data_rates = EU433_DATA_RATES,
    .downlink_data_rates = EU433_DATA_RATES,
    .max_payload_uplink_repeater = EU433_PAYLOAD,
    .max_payload_uplink_direct = EU433_PAYLOAD_DIRECT,
    .max_payload_downlink_repeater = EU433_PAYLOAD,
    .max_payload_downlink_direct = EU433_PAYLOAD_DIRECT,
    .max_payload_dwell_limited = std::nullopt,
    .join_channels = EU433_CHANNELS,
    .default_channels = EU433_CHANNELS,
    .downlink_channels = {},
    .sub_bands = EU433_SUB_BANDS,
    .rx1_rows = EU433_RX1_ROWS,
    .rx1_rows_dwell_limited = std::nullopt,
    .backoff = EU433_BACKOFF,
    .relay_channels = {},
    .join_plans = {},
    .mask_controls = DYNAMIC_MASK_CONTROLS,
    .rx2_frequency_hz = 434665000,
    .rx2_data_rate = 0,
    .max_rx1_data_rate_offset = 5,
    .beacon = {434665000, 434665000, 3},
    .default_max_eirp_dbm = 12,
    .tx_power_step_db = 2,
    .max_tx_power_index = 5,
    .kind = PlanKind::dynamic(),
    .power_reference = PowerReference::eirp(),
    .has_dwell_time_limit = false,
    .tx_param_setup = false,
    .join_sequence = JoinSequence::Random,
};

constexpr ChannelPlan AU915{
    .name = "AU915-928",
    .uplink_data_rates = AU915_UPLINK_DATA_RATES,
    .downlink_data_rates = US_AU_DOWNLINK_DATA_RATES,
    .max_payload_uplink_repeater = AU915_UPLINK_PAYLOAD,
    .max_payload_uplink_direct = AU915_UPLINK_PAYLOAD_DIRECT,
    .max_payload_downlink_repeater = US_AU_DOWNLINK_PAYLOAD,
    .max_payload_downlink_direct = US_AU_DOWNLINK_PAYLOAD_DIRECT,
    .max_payload_dwell_limited = AU915_PAYLOAD_DWELL_LIMITED,
    .join_channels = AU915_JOIN_CHANNELS,
    .default_channels = AU915_CHANNELS,
    .downlink_channels = DOWNSTREAM_923,
    .sub_bands = {},
    .rx1_rows = AU915_RX1_ROWS,
    .rx1_rows_dwell_limited = std::nullopt,
    .backoff = AU915_BACKOFF,
    .relay_channels = US_AU_RELAY,
    .join_plans = {},
    .mask_controls = US_AU_MASK_CONTROLS,
    .rx2_frequency_hz = 923300000,
    .rx2_data_rate = 8,
    .max_rx1_data_rate_offset = 5,
    .beacon = {923300000, 923300000, 8},
    .default_max_eirp_dbm = 30,
    .tx_power_step_db = 2,
    .max_tx_power_index = 14,
    .kind = PlanKind::fixed(),
    .power_reference = PowerReference::eirp(),
    .has_dwell_time_limit = true,
    .tx_param_setup = true,
    .join_sequence = JoinSequence::OctetPasses,
};

// The RP002-1.0.5 plan for a 20 MHz antenna, type A.
constexpr ChannelPlan CN470{
    .name = "CN470-510",
    .uplink_data_rates = CN470_DATA_RATES,
    .downlink_data_rates = CN470_DATA_RATES,
    .max_payload_uplink_repeater = CN470_PAYLOAD,
    .max_payload_uplink_direct = CN470_PAYLOAD_DIRECT,
    .max_payload_downlink_repeater = CN470_PAYLOAD,
    .max_payload_downlink_direct = CN470_PAYLOAD_DIRECT,
    .max_payload_dwell_limited = std::nullopt,
    .join_channels = CN470_JOIN_CHANNELS,
    .default_channels = CN470_CHANNELS,
    .downlink_channels = CN470_DOWNLINK_CHANNELS,
    .sub_bands = {},
    .rx1_rows = CN470_RX1_ROWS,
    .rx1_rows_dwell_limited = std::nullopt,
    .backoff = CN470_BACKOFF,
    .relay_channels = CN470_RELAY,
    .join_plans = CN470_JOIN_PLANS,
    .mask_controls = CN470_20_MASK_CONTROLS,
    .rx2_frequency_hz = 486900000,
    .rx2_data_rate = 1,
    .max_rx1_data_rate_offset = 5,
    .beacon = {483900000, 483900000, 2},
    .default_max_eirp_dbm = 19,
    .tx_power_step_db = 2,
    .max_tx_power_index = 7,
    .kind = PlanKind::fixed(),
    .power_reference = PowerReference::eirp(),
    .has_dwell_time_limit = false,
    .tx_param_setup = false,
    .join_sequence = JoinSequence::Random,
};

constexpr ChannelPlan AS923{
    .name = "AS923",
    .uplink_data_rates = EU433_DATA_RATES,
    .downlink_data_rates = EU433_DATA_RATES,
    .max_payload_uplink_repeater = AS923_PAYLOAD,
    .max_payload_uplink_direct = AS923_PAYLOAD_DIRECT,
    .max_payload_downlink_repeater = AS923_PAYLOAD,
    .max_payload_downlink_direct = AS923_PAYLOAD_DIRECT,
    .max_payload_dwell_limited = AS923_PAYLOAD_DWELL_LIMITED,
    .join_channels = AS923_JOIN_CHANNELS,
    .default_channels = AS923_CHANNELS,
    .downlink_channels = {},
    .sub_bands = AS923_SUB_BANDS,
    .rx1_rows = AS923_RX1_ROWS,
    .rx1_rows_dwell_limited = AS923_RX1_DWELL_LIMITED_ROWS,
    .backoff = EU433_BACKOFF,
    .relay_channels = AS923_RELAY,
    .join_plans = {},
    .mask_controls = DYNAMIC_MASK_CONTROLS,
    .rx2_frequency_hz = 923200000,
    .rx2_data_rate = 2,
    .max_rx1_data_rate_offset = 7,
    .beacon = {923400000, 923400000, 3},
    .default_max_eirp_dbm = 16,
    .tx_power_step_db = 2,
    .max_tx_power_index = 7,
    .kind = PlanKind::dynamic(ChannelList::Mhz900),
    .power_reference = PowerReference::eirp(),
    .has_dwell_time_limit = true,
    .tx_param_setup = true,
    .join_sequence = JoinSequence::Random,
};

constexpr ChannelPlan KR920{
    .name = "KR920-923",
    .uplink_data_rates = KR920_DATA_RATES,
    .downlink_data_rates = KR920_DATA_RATES,
    .max_payload_uplink_repeater = KR920_PAYLOAD,
    .max_payload_uplink_direct = KR920_PAYLOAD_DIRECT,
    .max_payload_downlink_repeater = KR920_PAYLOAD,
    .max_payload_downlink_direct = KR920_PAYLOAD_DIRECT,
    .max_payload_dwell_limited = std::nullopt,
    .join_channels = KR920_CHANNELS,
    .default_channels = KR920_CHANNELS,
    .downlink_channels = {},
    .sub_bands = KR920_SUB_BANDS,
    .rx1_rows = KR920_RX1_ROWS,
    .rx1_rows_dwell_limited = std::nullopt,
    .backoff = KR920_BACKOFF,
    .relay_channels = KR920_RELAY,
    .join_plans = {},
    .mask_controls = DYNAMIC_MASK_CONTROLS,
    .rx2_frequency_hz = 921900000,
    .rx2_data_rate = 0,
    .max_rx1_data_rate_offset = 5,
    .beacon = {923100000, 923100000, 3},
    .default_max_eirp_dbm = 14,
    .tx_power_step_db = 2,
    .max_tx_power_index = 7,
    .kind = PlanKind::dynamic(ChannelList::Mhz900),
    .power_reference = PowerReference::eirp(),
    .has_dwell_time_limit = false,
    .tx_param_setup = false,
    .join_sequence = JoinSequence::Random,
};

constexpr ChannelPlan IN865{
    .name = "IN865",
    .uplink_data_rates = IN865_DATA_RATES,
    .downlink_data_rates = IN865_DATA_RATES,
    .max_payload_uplink_repeater = IN865_PAYLOAD,
    .max_payload_uplink_direct = IN865_PAYLOAD_DIRECT,
    .max_payload_downlink_repeater = IN865_PAYLOAD,
    .max_payload_downlink_direct = IN865_PAYLOAD_DIRECT,
    .max_payload_dwell_limited = std::nullopt,
    .join_channels = IN865_CHANNELS,
    .default_channels = IN865_CHANNELS,
    .downlink_channels = {},
    .sub_bands = {},
    .rx1_rows = IN865_RX1_ROWS,
    .rx1_rows_dwell_limited = std::nullopt,
    .backoff = IN865_BACKOFF,
    .relay_channels = IN865_RELAY,
    .join_plans = {},
    .mask_controls = DYNAMIC_MASK_CONTROLS,
    .rx2_frequency_hz = 866550000,
    .rx2_data_rate = 2,
    .max_rx1_data_rate_offset = 7,
    .beacon = {866550000, 866550000, 4},
    .default_max_eirp_dbm = 29,  // 29, not the 30 dBm of the band's regulation
    .tx_power_step_db = 2,
    .max_tx_power_index = 10,
    .kind = PlanKind::dynamic(ChannelList::Mhz800),
    .power_reference = PowerReference::eirp(),
    .has_dwell_time_limit = false,
    .tx_param_setup = false,
    .join_sequence = JoinSequence::Random,
};

constexpr ChannelPlan RU864{
    .name = "RU864-870",
    .uplink_data_rates = EU433_DATA_RATES,
    .downlink_data_rates = EU433_DATA_RATES,
    .max_payload_uplink_repeater = EU433_PAYLOAD,
    .max_payload_uplink_direct = EU433_PAYLOAD_DIRECT,
    .max_payload_downlink_repeater = EU433_PAYLOAD,
    .max_payload_downlink_direct = EU433_PAYLOAD_DIRECT,
    .max_payload_dwell_limited = std::nullopt,
    .join_channels = RU864_CHANNELS,
    .default_channels = RU864_CHANNELS,
    .downlink_channels = {},
    .sub_bands = RU864_SUB_BANDS,
    .rx1_rows = EU433_RX1_ROWS,
    .rx1_rows_dwell_limited = std::nullopt,
    .backoff = EU433_BACKOFF,
    .relay_channels = RU864_RELAY,
    .join_plans = {},
    .mask_controls = DYNAMIC_MASK_CONTROLS,
    .rx2_frequency_hz = 869100000,
    .rx2_data_rate = 0,
    .max_rx1_data_rate_offset = 5,
    .beacon = {869100000, 868900000, 3},
    .default_max_eirp_dbm = 16,
    .tx_power_step_db = 2,
    .max_tx_power_index = 7,
    .kind = PlanKind::dynamic(ChannelList::Mhz800),
    .power_reference = PowerReference::eirp(),
    .has_dwell_time_limit = false,
    .tx_param_setup = false,
    .join_sequence = JoinSequence::Random,
};

// The RP002-1.0.5 plan for a 20 MHz antenna, type B.
constexpr ChannelPlan CN470_20B{
    .name = "CN470-510",
    .uplink_data_rates = CN470_DATA_RATES,
    .downlink_data_rates = CN470_DATA_RATES,
    .max_payload_uplink_repeater = CN470_PAYLOAD,
    .max_payload_uplink_direct = CN470_PAYLOAD_DIRECT,
    .max_payload_downlink_repeater = CN470_PAYLOAD,
    .max_payload_downlink_direct = CN470_PAYLOAD_DIRECT,
    .max_payload_dwell_limited = std::nullopt,
    .join_channels = CN470_JOIN_CHANNELS,
    .default_channels = CN470_20B_CHANNELS,
    .downlink_channels = CN470_20B_CHANNELS,
    .sub_bands = {},
    .rx1_rows = CN470_RX1_ROWS,
    .rx1_rows_dwell_limited = std::nullopt,
    .backoff = CN470_BACKOFF,
    .relay_channels = CN470_RELAY,
    .join_plans = CN470_JOIN_PLANS,
    .mask_controls = CN470_20_MASK_CONTROLS,
    .rx2_frequency_hz = 498300000,
    .rx2_data_rate = 1,
    .max_rx1_data_rate_offset = 5,
    .beacon = {481500000, 476900000, 2},
    .default_max_eirp_dbm = 19,
    .tx_power_step_db = 2,
    .max_tx_power_index = 7,
    .kind = PlanKind::fixed(),
    .power_reference = PowerReference::eirp(),
    .has_dwell_time_limit = false,
    .tx_param_setup = false,
    .join_sequence = JoinSequence::Random,
};

// The RP002-1.0.5 plan for a 26 MHz antenna, type A.
constexpr ChannelPlan CN470_26A{
    .name = "CN470-510",
    .uplink_data_rates = CN470_DATA_RATES,
    .downlink_data_rates = CN470_DATA_RATES,
    .max_payload_uplink_repeater = CN470_PAYLOAD,
    .max_payload_uplink_direct = CN470_PAYLOAD_DIRECT,
    .max_payload_downlink_repeater = CN470_PAYLOAD,
    .max_payload_downlink_direct = CN470_PAYLOAD_DIRECT,
    .max_payload_dwell_limited = std::nullopt,
    .join_channels = CN470_JOIN_CHANNELS,
    .default_channels = CN470_26A_CHANNELS,
    .downlink_channels = CN470_26A_DOWNLINK_CHANNELS,
    .sub_bands = {},
    .rx1_rows = CN470_RX1_ROWS,
    .rx1_rows_dwell_limited = std::nullopt,
    .backoff = CN470_BACKOFF,
    .relay_channels = CN470_RELAY,
    .join_plans = CN470_JOIN_PLANS,
    .mask_controls = CN470_26_MASK_CONTROLS,
    .rx2_frequency_hz = 492500000,
    .rx2_data_rate = 1,
    .max_rx1_data_rate_offset = 5,
    .beacon = {494900000, 494900000, 2},
    .default_max_eirp_dbm = 19,
    .tx_power_step_db = 2,
    .max_tx_power_index = 7,
    .kind = PlanKind::fixed(),
    .power_reference = PowerReference::eirp(),
    .has_dwell_time_limit = false,
    .tx_param_setup = false,
    .join_sequence = JoinSequence::Random,
};

// The RP002-1.0.5 plan for a 26 MHz antenna, type B.
constexpr ChannelPlan CN470_26B{
    .name = "CN470-510",
    .uplink_data_rates = CN470_DATA_RATES,
    .downlink_data_rates = CN470_DATA_RATES,
    .max_payload_uplink_repeater = CN470_PAYLOAD,
    .max_payload_uplink_direct = CN470_PAYLOAD_DIRECT,
    .max_payload_downlink_repeater = CN470_PAYLOAD,
    .max_payload_downlink_direct = CN470_PAYLOAD_DIRECT,
    .max_payload_dwell_limited = std::nullopt,
    .join_channels = CN470_JOIN_CHANNELS,
    .default_channels = CN470_26B_CHANNELS,
    .downlink_channels = CN470_26B_DOWNLINK_CHANNELS,
    .sub_bands = {},
    .rx1_rows = CN470_RX1_ROWS,
    .rx1_rows_dwell_limited = std::nullopt,
    .backoff = CN470_BACKOFF,
    .relay_channels = CN470_RELAY,
    .join_plans = CN470_JOIN_PLANS,
    .mask_controls = CN470_26_MASK_CONTROLS,
    .rx2_frequency_hz = 502500000,
    .rx2_data_rate = 1,
    .max_rx1_data_rate_offset = 5,
    .beacon = {504900000, 504900000, 2},
    .default_max_eirp_dbm = 19,
    .tx_power_step_db = 2,
    .max_tx_power_index = 7,
    .kind = PlanKind::fixed(),
    .power_reference = PowerReference::eirp(),
    .has_dwell_time_limit = false,
    .tx_param_setup = false,
    .join_sequence = JoinSequence::Random,
};

// The 96-channel plan of the LoRaWAN 1.0.3 Regional Parameters revision A.
constexpr ChannelPlan CN470_96{
    .name = "CN470-510",
    .uplink_data_rates = CN470_96_DATA_RATES,
    .downlink_data_rates = CN470_96_DATA_RATES,
    .max_payload_uplink_repeater = CN470_96_PAYLOAD,
    .max_payload_uplink_direct = CN470_96_PAYLOAD_DIRECT,
    .max_payload_downlink_repeater = CN470_96_PAYLOAD,
    .max_payload_downlink_direct = CN470_96_PAYLOAD_DIRECT,
    .max_payload_dwell_limited = std::nullopt,
    .join_channels = CN470_96_CHANNELS,
    .default_channels = CN470_96_CHANNELS,
    .downlink_channels = CN470_96_DOWNLINK_CHANNELS,
    .sub_bands = {},
    .rx1_rows = CN470_96_RX1_ROWS,
    .rx1_rows_dwell_limited = std::nullopt,
    .backoff = CN470_96_BACKOFF,
    .relay_channels = {},
    .join_plans = {},
    .mask_controls = CN470_96_MASK_CONTROLS,
    .rx2_frequency_hz = 505300000,
    .rx2_data_rate = 0,
    .max_rx1_data_rate_offset = 5,
    .beacon = {508300000, 508300000, 2},
    .default_max_eirp_dbm = 19,
    .tx_power_step_db = 2,
    .max_tx_power_index = 7,
    .kind = PlanKind::fixed(),
    .power_reference = PowerReference::eirp(),
    .has_dwell_time_limit = false,
    .tx_param_setup = false,
    .join_sequence = JoinSequence::Random,
};

}  // namespace plans

// Structural invariants every published plan keeps, checked where the tables
// are written so that a transcription slip fails the build.
namespace {

constexpr bool rows_fit(std::span<const Rx1Row> rows, const ChannelPlan& plan) {
    if (rows.size() != plan.uplink_data_rates.size()) return false;
    for (Rx1Row row : rows) {
        if (row.size() != std::size_t{plan.max_rx1_data_rate_offset} + 1) return false;
        for (std::uint8_t rate : row) {
            if (rate >= plan.downlink_data_rates.size()) return false;
        }
    }
    return true;
}

constexpr bool well_formed(const ChannelPlan& plan) {
    const std::size_t up = plan.uplink_data_rates.size();
    const std::size_t down = plan.downlink_data_rates.size();
    return up > 0 && rows_fit(plan.rx1_rows, plan) &&
           (!plan.rx1_rows_dwell_limited || rows_fit(*plan.rx1_rows_dwell_limited, plan)) &&
           plan.backoff.size() == up && plan.max_payload_uplink_repeater.size() == up &&
           plan.max_payload_uplink_direct.size() == up &&
           (!plan.max_payload_dwell_limited || plan.max_payload_dwell_limited->size() == up) &&
           plan.max_payload_downlink_repeater.size() == down && plan.max_payload_downlink_direct.size() == down &&
           plan.rx2_data_rate < down;
}

static_assert(well_formed(plans::EU868));
static_assert(well_formed(plans::US915));
static_assert(well_formed(plans::EU433));
static_assert(well_formed(plans::AU915));
static_assert(well_formed(plans::CN470));
static_assert(well_formed(plans::AS923));
static_assert(well_formed(plans::KR920));
static_assert(well_formed(plans::IN865));
static_assert(well_formed(plans::RU864));
static_assert(well_formed(plans::CN470_20B));
static_assert(well_formed(plans::CN470_26A));
static_assert(well_formed(plans::CN470_26B));
static_assert(well_formed(plans::CN470_96));

}  // namespace

}  // namespace trovik::lora
