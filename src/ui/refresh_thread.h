// TRefreshThread: one periodic refresh on a worker thread. Its grid rows, log
// lines and rule checks are handed to the window thread, which runs them
// while the worker waits.
#pragma once

#include <QThread>

#include "monitor/hand_over.h"
#include "monitor/refresh.h"

namespace tarnwick {

class TRefreshThread final : public QThread {
    Q_OBJECT
public:
    // `window` is called on the window thread only, through `handOver`.
    TRefreshThread(TRefresh& refresh, THandOver& handOver, TRefreshOutlets& window, QObject* parent = nullptr);

protected:
    // Execute: the refresh. A cancelled hand-over (shutdown) or any error ends
    // it quietly; the next refresh starts afresh.
    void run() override;

private:
    TRefresh& Refresh_;
    THandOver& HandOver_;
    TRefreshOutlets& Window_;
};

}  // namespace tarnwick
