// The outlets of a refresh that runs on a worker: every step is handed to the
// window thread's outlets, in order, and the worker waits for it. Steps are
// handed over in batches so that a refresh of thousands of rows costs the
// window thread a few short pauses rather than thousands of thread switches.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "monitor/hand_over.h"
#include "monitor/refresh.h"

namespace tarnwick {

class TWorkerOutlets final : public TRefreshOutlets {
public:
    static constexpr size_t kDefaultBatchSize = 512;

    TWorkerOutlets(THandOver& handOver, TRefreshOutlets& window, size_t batchSize = kDefaultBatchSize);

    // Waits for the window thread to answer, after the steps queued before;
    // 0 once stopping.
    int GridRowCount() override;

    void SetGridRowCount(int rows) override;
    void WriteGridRow(int row, const TConnectionRow& texts) override;
    void AddLog(const std::string& text, LogKind kind, const std::optional<TLogConnection>& connection) override;
    void CheckRules(int row, const TLogConnection& connection) override;

    // Hands the queued steps over and waits until they have run. The worker
    // calls it once more when its refresh is done, also when it failed. A step
    // that throws does not stop the steps after it; the first error is
    // rethrown here once all have run.
    void Flush();

    // True once the hand-over was cancelled: every step since is dropped.
    bool Stopping() const override { return Stopping_; }

private:
    struct TSetRowCount {
        int Rows;
    };
    struct TWriteRow {
        int Row;
        TConnectionRow Texts;
    };
    struct TLog {
        std::string Text;
        LogKind Kind;
        std::optional<TLogConnection> Connection;
    };
    struct TRuleCheck {
        int Row;
        TLogConnection Connection;
    };
    using TStep = std::variant<TSetRowCount, TWriteRow, TLog, TRuleCheck>;

    void Queue(TStep step);
    static void RunSteps(std::vector<TStep>& batch, TRefreshOutlets& window);

    THandOver& HandOver_;
    TRefreshOutlets& Window_;
    size_t BatchSize_;
    std::vector<TStep> Steps_;
    bool Stopping_ = false;
};

}  // namespace tarnwick
