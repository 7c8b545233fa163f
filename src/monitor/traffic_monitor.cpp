#include "monitor/traffic_monitor.h"

#include <algorithm>
#include <tuple>

#include "monitor/process_names.h"

namespace tarnwick {

TTrafficPoint::TShare TTrafficPoint::ShareOf(std::string_view name) const {
    for (const TShare& share : Shares)
        if (share.Name == name) return share;
    return TShare{std::string(name), 0, 0};
}

TTrafficMonitor::TTrafficMonitor(std::function<TClock::time_point()> clock) : Rates_(std::move(clock)) {}

void TTrafficMonitor::BeginRefresh() {
    Rates_.BeginRefresh();
    Programs_.clear();
    LastProgram_ = nullptr;
    RatesKnown_ = Rates_.RatesKnown();
}

TConnectionTraffic TTrafficMonitor::AddConnection(const TConnectionKey& key, std::string_view program,
                                                  const TSocketTraffic& counters) {
    const TConnectionTraffic traffic = Rates_.Update(key, counters);
    // Sockets without a known owner are one share, named as the log names them.
    if (program.empty()) program = kUnknownProcessText;
    if (LastProgram_ == nullptr || LastProgram_->Name != program) {
        auto it = Programs_.find(program);
        if (it == Programs_.end())
            it = Programs_.emplace(std::string(program), TProgramTraffic{std::string(program)}).first;
        LastProgram_ = &it->second;
    }
    TProgramTraffic& sum = *LastProgram_;
    ++sum.Connections;
    sum.BytesSent += traffic.BytesSent;
    sum.BytesReceived += traffic.BytesReceived;
    if (traffic.SendRate && traffic.ReceiveRate) {
        sum.SendRate += *traffic.SendRate;
        sum.ReceiveRate += *traffic.ReceiveRate;
    }
    return traffic;
}

void TTrafficMonitor::EndRefresh(bool complete) {
    Rates_.EndRefresh(complete);
    auto summary = std::make_shared<TTrafficSummary>();
    // The chart places the point when the counters were read.
    summary->At = Rates_.ReadingTime();
    summary->RatesKnown = RatesKnown_ && complete;
    summary->Programs.reserve(Programs_.size());
    for (auto& [name, program] : Programs_) {
        summary->SendRate += program.SendRate;
        summary->ReceiveRate += program.ReceiveRate;
        summary->Programs.push_back(std::move(program));
    }
    Programs_.clear();
    std::sort(summary->Programs.begin(), summary->Programs.end(), [](const TProgramTraffic& a, const TProgramTraffic& b) {
        return std::make_tuple(-(a.SendRate + a.ReceiveRate), -static_cast<double>(a.BytesSent + a.BytesReceived),
                               std::string_view(a.Name)) <
               std::make_tuple(-(b.SendRate + b.ReceiveRate), -static_cast<double>(b.BytesSent + b.BytesReceived),
                               std::string_view(b.Name));
    });

    auto point = std::make_shared<TTrafficPoint>();
    point->At = summary->At;
    point->SendRate = summary->SendRate;
    point->ReceiveRate = summary->ReceiveRate;
    for (const TProgramTraffic& program : summary->Programs) {
        if (program.SendRate + program.ReceiveRate <= 0) break;  // ranked: the rest had none
        point->Shares.push_back({program.Name, program.SendRate, program.ReceiveRate});
    }

    std::lock_guard lock(Mutex_);
    Latest_ = std::move(summary);
    // A refresh without rates adds no point: the chart would dip to zero for
    // want of a reading, not for want of traffic.
    if (Latest_->RatesKnown) History_.push_back(std::move(point));
    while (!History_.empty() && History_.back()->At - History_.front()->At > kHistorySpan) History_.pop_front();
}

std::shared_ptr<const TTrafficSummary> TTrafficMonitor::Latest() const {
    std::lock_guard lock(Mutex_);
    return Latest_;
}

std::vector<std::shared_ptr<const TTrafficPoint>> TTrafficMonitor::History() const {
    std::lock_guard lock(Mutex_);
    return {History_.begin(), History_.end()};
}

}  // namespace tarnwick
