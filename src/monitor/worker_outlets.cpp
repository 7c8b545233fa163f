#include "monitor/worker_outlets.h"

#include <exception>
#include <memory>
#include <utility>

namespace tarnwick {

TWorkerOutlets::TWorkerOutlets(THandOver& handOver, TRefreshOutlets& window, size_t batchSize)
    : HandOver_(handOver), Window_(window), BatchSize_(batchSize == 0 ? 1 : batchSize) {
    Steps_.reserve(BatchSize_);
}

int TWorkerOutlets::GridRowCount() {
    Flush();
    // The answer lives in the task, not on this stack: a cancelled hand-over
    // lets the worker unwind while the window thread may still be in the task.
    auto rows = std::make_shared<int>(0);
    if (!Stopping_ && !HandOver_.Run([rows, &window = Window_] { *rows = window.GridRowCount(); })) Stopping_ = true;
    return *rows;
}

void TWorkerOutlets::SetGridRowCount(int rows) { Queue(TSetRowCount{rows}); }

void TWorkerOutlets::WriteGridRow(int row, const TConnectionRow& texts) { Queue(TWriteRow{row, texts}); }

void TWorkerOutlets::AddLog(const std::string& text, LogKind kind, const std::optional<TLogConnection>& connection) {
    Queue(TLog{text, kind, connection});
}

void TWorkerOutlets::CheckRules(int row, const TLogConnection& connection) { Queue(TRuleCheck{row, connection}); }

void TWorkerOutlets::Queue(TStep step) {
    if (Stopping_) return;
    Steps_.push_back(std::move(step));
    if (Steps_.size() >= BatchSize_) Flush();
}

void TWorkerOutlets::Flush() {
    if (Steps_.empty()) return;
    // The task owns its batch: a shutdown may release this worker while the
    // window thread is still inside the task (a modal box opened by a step).
    auto batch = std::make_shared<std::vector<TStep>>();
    batch->swap(Steps_);
    Steps_.reserve(BatchSize_);
    if (!HandOver_.Run([batch, &window = Window_] { RunSteps(*batch, window); })) Stopping_ = true;
}

void TWorkerOutlets::RunSteps(std::vector<TStep>& batch, TRefreshOutlets& window) {
    // Every step runs even when one before it fails: the connections of a
    // batch are already in the connection list, so a step skipped here would
    // be an event lost for good. The first error still ends the refresh.
    std::exception_ptr firstError;
    for (TStep& step : batch) {
        try {
            std::visit(
                [&window](auto& s) {
                    using T = std::decay_t<decltype(s)>;
                    if constexpr (std::is_same_v<T, TSetRowCount>) window.SetGridRowCount(s.Rows);
                    if constexpr (std::is_same_v<T, TWriteRow>) window.WriteGridRow(s.Row, s.Texts);
                    if constexpr (std::is_same_v<T, TLog>) window.AddLog(s.Text, s.Kind, s.Connection);
                    if constexpr (std::is_same_v<T, TRuleCheck>) window.CheckRules(s.Row, s.Connection);
                },
                step);
        } catch (...) {
            if (!firstError) firstError = std::current_exception();
        }
    }
    if (firstError) std::rethrow_exception(firstError);
}

}  // namespace tarnwick
