// The capture window's packet list at its fullest (199 packets and the empty
// row), and the cost of deciding whether a captured packet is listed:
//
//   BM_FillListCells:  every cell of the full list read through the model's
//                      data(), as a view does when it shows the rows;
//   BM_PaintList:      the list view painted as laid out in the window;
//   BM_FilterPacket:   one packet against a connection's filter (protocol,
//                      two addresses, two ports), over a mix of packets;
//   BM_ParseAndFilter: the same with the parsing of the packet's bytes, the
//                      work done for every packet a capture reads.
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTableView>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/capture_filter.h"
#include "capture/capture_session.h"
#include "capture/packet_parser.h"
#include "fakes/fake_packet_source.h"
#include "ui/capture_data_form.h"
#include "ui/message_boxes.h"
#include "ui/packet_list_model.h"

namespace tarnwick::bench {
namespace {

using tarnwick::testing::MakeIpPacket;
using tarnwick::testing::TBytes;
using tarnwick::testing::TFakePacketSource;

constexpr int kListedPackets = static_cast<int>(TCaptureSession::kPacketSlots) - 1;

class TSilentBoxes final : public TMessageBoxes {
public:
    bool Ask(QWidget*, const QString&) override { return false; }
    void Show(QWidget*, const QString&, const QString&, QMessageBox::Icon) override {}
};

// A TCP conversation between 10.0.0.5:80 and 10.0.0.9:40000 with a short
// text payload, and now and then other traffic of the same hosts.
TBytes SamplePacket(int n) {
    const std::string text = "GET /index-" + std::to_string(n) + ".html HTTP/1.1";
    const TBytes payload(text.begin(), text.end());
    switch (n % 4) {
        case 0: return MakeIpPacket(6, {10, 0, 0, 5}, {10, 0, 0, 9}, 80, 40000, payload);
        case 1: return MakeIpPacket(6, {10, 0, 0, 9}, {10, 0, 0, 5}, 40000, 80, payload);
        case 2: return MakeIpPacket(17, {10, 0, 0, 9}, {10, 0, 0, 53}, 5353, 53, payload);
        default: return MakeIpPacket(6, {10, 0, 0, 9}, {10, 0, 0, 7}, 40001, 443, payload);
    }
}

TCaptureFilter ConnectionFilter() {
    TCaptureFilter filter;
    filter.Protocol = "TCP";
    filter.Addr1 = "10.0.0.5";
    filter.Port1 = "80";
    filter.Addr2 = "10.0.0.9";
    filter.Port2 = "40000";
    return filter;
}

void BM_FillListCells(benchmark::State& state) {
    TFakePacketSource source;
    TCaptureSession session(source);
    if (!session.Start({}).Ok()) {
        state.SkipWithError("the fake capture did not start");
        return;
    }
    for (int n = 0; n < kListedPackets; ++n) {
        source.Latest().Push(SamplePacket(n));
        session.ReadCapture(0);
    }
    TPacketListModel model(session);
    model.Flush();
    const int rows = model.rowCount();
    const int columns = model.columnCount();
    for (auto _ : state) {
        for (int row = 0; row < rows; ++row)
            for (int column = 0; column < columns; ++column)
                benchmark::DoNotOptimize(model.data(model.index(row, column), Qt::DisplayRole));
    }
    state.counters["cells"] = rows * columns;
}
BENCHMARK(BM_FillListCells)->Unit(benchmark::kMicrosecond);

void BM_PaintList(benchmark::State& state) {
    TFakePacketSource source;
    TSilentBoxes boxes;
    TCaptureData_F form(source, boxes);
    form.show();
    form.btnStartClick();
    for (int n = 0; n < kListedPackets; ++n) source.Latest().Push(SamplePacket(n));
    QElapsedTimer clock;
    clock.start();
    while (form.Session().ListedPackets() < kListedPackets && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    form.FlushList();
    if (form.Session().RecordCount() != static_cast<size_t>(kListedPackets)) {
        state.SkipWithError("the packets were not listed");
        return;
    }
    form.grdDataList->scrollToTop();
    for (auto _ : state) benchmark::DoNotOptimize(form.grdDataList->grab());
    form.btnStopClick();
}
BENCHMARK(BM_PaintList)->Unit(benchmark::kMicrosecond);

std::vector<TBytes> SamplePackets() {
    std::vector<TBytes> packets;
    for (int n = 0; n < kListedPackets; ++n) packets.push_back(SamplePacket(n));
    return packets;
}

void BM_FilterPacket(benchmark::State& state) {
    const std::vector<TBytes> bytes = SamplePackets();
    std::vector<TCapturedPacket> packets;
    for (const TBytes& packet : bytes) packets.push_back(*ParsePacket("10.0.0.5", packet.data(), packet.size()));
    const TPacketFilter filter(ConnectionFilter());
    size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(filter.Lists(packets[next]));
        next = next + 1 == packets.size() ? 0 : next + 1;
    }
}
BENCHMARK(BM_FilterPacket);

void BM_ParseAndFilter(benchmark::State& state) {
    const std::vector<TBytes> bytes = SamplePackets();
    const TPacketFilter filter(ConnectionFilter());
    size_t next = 0;
    for (auto _ : state) {
        const TBytes& packet = bytes[next];
        const auto parsed = ParsePacket("10.0.0.5", packet.data(), packet.size());
        benchmark::DoNotOptimize(filter.Lists(*parsed));
        next = next + 1 == bytes.size() ? 0 : next + 1;
    }
}
BENCHMARK(BM_ParseAndFilter);

}  // namespace
}  // namespace tarnwick::bench

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
