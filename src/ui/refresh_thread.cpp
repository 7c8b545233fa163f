#include "ui/refresh_thread.h"

#include "monitor/worker_outlets.h"

namespace tarnwick {

TRefreshThread::TRefreshThread(TRefresh& refresh, THandOver& handOver, TRefreshOutlets& window, QObject* parent)
    : QThread(parent), Refresh_(refresh), HandOver_(handOver), Window_(window) {}

void TRefreshThread::run() {
    try {
        TWorkerOutlets outlets(HandOver_, Window_);
        Refresh_.Run(outlets);
        outlets.Flush();
    } catch (const TRefreshCancelled&) {
        // Shutting down: the window no longer takes our steps.
    } catch (const std::exception&) {
        // A refresh never shows a message; the next tick starts afresh.
    }
}

}  // namespace tarnwick
