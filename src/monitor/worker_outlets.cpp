#include "monitor/worker_outlets.h"

#include <utility>

namespace tarnwick {

TWorkerOutlets::TWorkerOutlets(THandOver& handOver, TRefreshOutlets& window, size_t batchSize)
    : HandOver_(handOver), Window_(window), BatchSize_(batchSize == 0 ? 1 : batchSize) {
    Steps_.reserve(BatchSize_);
}

int TWorkerOutlets::GridRowCount() {
    Flush();
    int rows = 0;
    HandOver_.Run([&] { rows = Window_.GridRowCount(); });
    return rows;
}

void TWorkerOutlets::SetGridRowCount(int rows) { Queue(TSetRowCount{rows}); }

void TWorkerOutlets::WriteGridRow(int row, const TConnectionRow& texts) { Queue(TWriteRow{row, texts}); }

void TWorkerOutlets::AddLog(const std::string& text, LogKind kind) { Queue(TLog{text, kind}); }

void TWorkerOutlets::CheckRules(int row, const std::string& remoteAddr, int localPort, int remotePort) {
    Queue(TRuleCheck{row, remoteAddr, localPort, remotePort});
}

void TWorkerOutlets::Queue(TStep step) {
    Steps_.push_back(std::move(step));
    if (Steps_.size() >= BatchSize_) Flush();
}

void TWorkerOutlets::Flush() {
    if (Steps_.empty()) return;
    std::vector<TStep> batch;
    batch.swap(Steps_);
    Steps_.reserve(BatchSize_);
    HandOver_.Run([this, &batch] {
        for (TStep& step : batch) {
            std::visit(
                [this](auto& s) {
                    using T = std::decay_t<decltype(s)>;
                    if constexpr (std::is_same_v<T, TSetRowCount>) Window_.SetGridRowCount(s.Rows);
                    if constexpr (std::is_same_v<T, TWriteRow>) Window_.WriteGridRow(s.Row, s.Texts);
                    if constexpr (std::is_same_v<T, TLog>) Window_.AddLog(s.Text, s.Kind);
                    if constexpr (std::is_same_v<T, TRuleCheck>)
                        Window_.CheckRules(s.Row, s.RemoteAddr, s.LocalPort, s.RemotePort);
                },
                step);
        }
    });
}

}  // namespace tarnwick
