// tarnwick-capture-window SECONDS [PORT]: the Data Capture window under load.
//
// Opens the window with the capture source the program uses (libpcap when
// this process holds CAP_NET_RAW, else tarnwick-helper) and the filter UDP, endpoint 1
// 127.0.0.1 (port PORT when given, else any), as "Capture Data" on a
// connection does, and lets it capture for SECONDS seconds. Meanwhile a 5 ms
// heartbeat timer measures how late the window thread's event loop comes
// back to it (packet reads, list updates, painting alike).
//
// Prints "capturing" on stdout once the capture runs (start the load then),
// and at the end one line:
//   listed L received R dropped D stall_ms S late_ms_p99 P view_updates U cpu_s C
// L: packets the window listed; R, D: the captures' totals (all interfaces);
// S: the longest stall (heartbeat lateness); P: the 99th percentile of the
// lateness; U: times the grid's view was told of new rows; C: the process's
// CPU time over the run. Exits 1 when the capture cannot start.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/linux/privileged_services.h"
#include "ui/capture_data_form.h"
#include "ui/message_boxes.h"

namespace {

using namespace tarnwick;

// No dialog ever opens: what the window would show goes to stderr.
class TStderrBoxes final : public TMessageBoxes {
public:
    bool Ask(QWidget*, const QString& text) override {
        std::fprintf(stderr, "tarnwick-capture-window: asked: %s\n", qPrintable(text));
        return false;
    }
    void Show(QWidget*, const QString& text, const QString&, QMessageBox::Icon) override {
        std::fprintf(stderr, "tarnwick-capture-window: %s\n", qPrintable(text));
    }
};

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    bool ok = args.size() == 2 || args.size() == 3;
    const double seconds = ok ? args[1].toDouble(&ok) : 0;
    int port = 0;
    if (ok && args.size() == 3) port = args[2].toInt(&ok);
    if (!ok || seconds <= 0 || port < 0 || port > 65535) {
        std::fprintf(stderr, "usage: tarnwick-capture-window SECONDS [PORT]\n");
        return 1;
    }

    // Started from the window thread, which lives as long as the helper is used.
    TPrivilegedServices services;
    services.StartHelperIfUsed();
    TPacketSource& source = services.Packets();
    TStderrBoxes boxes;
    TCaptureEndpoints endpoints;
    endpoints.Protocol = "UDP";
    endpoints.Addr1 = 0x7F000001;  // 127.0.0.1
    endpoints.Port1 = port;
    TCaptureData_F* form = TCaptureData_F::OpenForConnection(source, boxes, nullptr, endpoints);
    if (form == nullptr) {
        std::fprintf(stderr, "tarnwick-capture-window: the capture did not start\n");
        return 1;
    }
    if (form->Session().State() != TCaptureState::Capturing) {
        std::fprintf(stderr, "tarnwick-capture-window: the window is not capturing\n");
        return 1;
    }
    std::printf("capturing on %zu interface(s)\n", form->Session().Captures());
    std::fflush(stdout);

    constexpr int kBeatMs = 5;
    std::vector<double> lateness;
    lateness.reserve(static_cast<size_t>(seconds * 1000 / kBeatMs) + 16);
    QElapsedTimer clock;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(kBeatMs);
    qint64 last = 0;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        lateness.push_back(std::max(0.0, static_cast<double>(now - last) / 1e6 - kBeatMs));
        last = now;
    });
    const double cpuBefore = CpuSeconds();
    clock.start();
    heartbeat.start();

    QTimer::singleShot(static_cast<int>(seconds * 1000), [&] {
        heartbeat.stop();
        const double cpu = CpuSeconds() - cpuBefore;
        // Stopped first: the counters are then final, and the list holds
        // every packet read. Stats sums over every capture the session opened.
        form->btnStopClick();
        const TCaptureStats stats = form->Session().Stats();
        const long long listed = form->Session().ListedPackets();
        const int updates = form->ViewUpdates();
        std::vector<double> sorted = lateness;
        std::sort(sorted.begin(), sorted.end());
        const double worst = sorted.empty() ? 0 : sorted.back();
        const double p99 = sorted.empty() ? 0 : sorted[static_cast<size_t>(0.99 * (sorted.size() - 1))];
        std::printf("listed %lld received %llu dropped %llu stall_ms %.2f late_ms_p99 %.2f view_updates %d "
                    "beats %zu cpu_s %.2f\n",
                    listed, static_cast<unsigned long long>(stats.Received),
                    static_cast<unsigned long long>(stats.Dropped), worst, p99, updates, lateness.size(), cpu);
        std::fflush(stdout);
        form->close();
        app.quit();
    });
    return app.exec();
}
