#include "trovik/lorawan/device/answers.hpp"

#include <algorithm>

namespace trovik::lorawan::device {

bool Answers::push_encoded(std::span<const std::uint8_t> command, AnswerKind kind) noexcept {
    if (count >= kMaxEntries || command.empty() || command.size() > kMaxEntryLen) return false;
    Entry& entry = entries[count++];
    entry = {kind, static_cast<std::uint8_t>(command.size()), {}};
    std::ranges::copy(command, entry.bytes.begin());
    return true;
}

void Answers::heard_downlink() noexcept {
    std::uint8_t kept = 0;
    for (std::size_t i = 0; i < count; ++i)
        if (entries[i].kind == AnswerKind::OwnRequest) entries[kept++] = entries[i];
    std::fill(entries.begin() + kept, entries.begin() + count, Entry{});
    count = kept;
}

std::size_t Answers::len() const noexcept {
    std::size_t total = std::size_t{link_check_requested} + std::size_t{device_time_requested};
    for (const Entry& entry : queued())
        total += entry.len;
    return total;
}

Answers::Report Answers::write(std::span<std::uint8_t> out) const noexcept {
    Report report;
    const auto append = [&](std::span<const std::uint8_t> bytes) {
        if (out.size() - report.written < bytes.size()) return false;
        std::ranges::copy(bytes, out.begin() + static_cast<std::ptrdiff_t>(report.written));
        report.written += bytes.size();
        return true;
    };
    for (const Entry& entry : queued()) {
        if (entry.kind == AnswerKind::OwnRequest) continue;
        if (!append(entry.encoded())) return report;
        ++report.answers_written;
    }
    for (const Entry& entry : queued()) {
        if (entry.kind != AnswerKind::OwnRequest) continue;
        if (!append(entry.encoded())) return report;
        ++report.requests_written;
    }
    if (link_check_requested) report.link_check = append(std::span(&kLinkCheckReq, 1));
    if (device_time_requested) report.device_time = append(std::span(&kDeviceTimeReq, 1));
    return report;
}

void Answers::sent(const Report& report) noexcept {
    std::size_t answers = 0;
    std::size_t requests = 0;
    std::uint8_t kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const Entry& entry = entries[i];
        bool keep = true;
        if (entry.kind == AnswerKind::OwnRequest)
            keep = requests++ >= report.requests_written;
        else if (answers++ < report.answers_written)
            keep = entry.kind == AnswerKind::Sticky;
        if (keep) entries[kept++] = entry;
    }
    std::fill(entries.begin() + kept, entries.begin() + count, Entry{});
    count = kept;
    if (report.link_check) link_check_requested = false;
    if (report.device_time) device_time_requested = false;
}

}  // namespace trovik::lorawan::device
