// TCaptureData_F: the "Data Capture" window. Captures the machine's IPv4
// packets, lists those that pass the filter (two endpoints and a protocol) in
// grdDataList, at most 200 before the list starts afresh, and dumps the
// payload of the clicked packet as hex (Memo1) and text (Memo2).
//
// Each window owns its capture component and frees itself when closed. It is
// application-modal and stays on top.
//
// Packets are read on the window thread when a capture's descriptor polls
// readable, a batch at a time, so the event loop stays responsive under load.
// Every listed packet goes into the list in order at once; the grid's view
// hears of the new rows at most once per frame.
#pragma once

#include <QAbstractTableModel>
#include <QWidget>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/cap_ip.h"
#include "capture/capture_filter.h"
#include "capture/packet_dump.h"
#include "monitor/connection_snapshot.h"
#include "monitor/grid_row_mapping.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSocketNotifier;
class QTableView;
class QTimer;
class QToolButton;

namespace tarnwick {

class TIPAddressEdit;
class TMessageBoxes;

// The filter that captures one connection of the connection list: for TCP
// the remote endpoint as endpoint 1 and the local one as endpoint 2, for UDP
// the local endpoint as endpoint 1 and no endpoint 2. Addresses are in the
// form the address fields take (first number in the most significant byte),
// ports in host order.
struct TCaptureEndpoints {
    std::string Protocol;  // "TCP" or "UDP"
    uint32_t Addr1 = 0;
    int Port1 = 0;
    uint32_t Addr2 = 0;
    int Port2 = 0;
};

// The endpoints of a connection found in the tables, or of snapshot row `row`.
TCaptureEndpoints CaptureEndpointsOf(const TFoundConnection& found);
TCaptureEndpoints CaptureEndpointsOf(const ConnectionSnapshot& snapshot, const TSnapshotRowRef& row);

// grdDataList's rows: model row m is grid row m + 1 (grid row 0, the titles,
// is the view's header); the last model row is always the empty row that
// takes the next packet.
//
// The list itself (the "logical" rows) changes at once; the views are told
// by Flush, which the window runs at most once per frame.
class TPacketListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    using TCells = std::array<std::string, kPacketListColumns>;

    explicit TPacketListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The list as the grid numbers it: header row, packets, the empty row (2..201).
    int GridRowCount() const;
    // Cell `column` of grid row `row`; empty for the header and the empty row.
    const std::string& Cell(int row, int column) const;

    // Writes a packet into the empty last row and adds a new empty row.
    void AppendPacket(TCells cells);
    // Back to the header row and one empty row.
    void Clear();

    // Tells the views what changed since the last call: one insertion of all
    // rows appended, or one reset after a Clear. False when nothing changed.
    bool Flush();
    bool HasUnflushedClear() const { return ClearPending_; }
    bool HasUnflushedRows() const { return ClearPending_ || !Pending_.empty(); }

private:
    std::vector<TCells> Shown_;    // rows the views know
    std::vector<TCells> Pending_;  // rows appended since (after Shown_, or alone after a Clear)
    bool ClearPending_ = false;
};

class TCaptureData_F final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 711;
    static constexpr int kClientHeight = 483;
    static constexpr int kPacketSlots = 200;
    // The view is told of new rows at most this often.
    static constexpr int kFlushIntervalMs = 16;
    // Packets read per readiness notification of one capture.
    static constexpr int kReadBatch = 64;

    enum class TWindowState { Idle, Capturing, Paused };

    // One payload of the list.
    struct Tmy_data {
        std::vector<uint8_t> Bytes;
    };

    // A top-level window owned by `parent`, freed when it closes.
    TCaptureData_F(TPacketSource& source, TMessageBoxes& boxes, QWidget* parent = nullptr);
    ~TCaptureData_F() override;

    // "Data &Capture": a new empty window, capture not started, shown.
    static TCaptureData_F* OpenEmpty(TPacketSource& source, TMessageBoxes& boxes, QWidget* owner);
    // "C&apture Data": a new window with the filter of `endpoints`, capture
    // started, shown. When the capture cannot start the error box is all the
    // user sees: the window is freed and nullptr returned.
    static TCaptureData_F* OpenForConnection(TPacketSource& source, TMessageBoxes& boxes, QWidget* owner,
                                             const TCaptureEndpoints& endpoints);

    // Fills the filter from `endpoints` and presses Start. False when the
    // capture could not start (the window stays Idle, the error was shown).
    bool StartForConnection(const TCaptureEndpoints& endpoints);

    // Handlers.
    void btnStartClick();
    void btnPauseClick();
    void btnStopClick();
    void cap_ip1Cap(const TCapturedPacket& packet);
    bool IsFilteredOut(const std::string& proto, const std::string& sourceIP, const std::string& destIP,
                       const std::string& sourcePort, const std::string& destPort) const;
    void grdDataListClick();

    // The filter as the controls hold it now.
    TCaptureFilter ControlFilter() const;
    TWindowState WindowState() const;
    TPacketListModel& ListModel() { return *Model_; }
    // Tells the grid's view of the rows listed since the last update (done by
    // itself at most once per frame).
    void FlushList();
    // Times the grid's view was told of changes.
    int ViewUpdates() const { return ViewUpdates_; }
    // Packets listed since the window was made (also those the reset removed).
    long long ListedPackets() const { return ListedPackets_; }

    Tcap_ip cap_ip1;
    std::array<Tmy_data, kPacketSlots> PacketData;

    QToolButton* btnStart = nullptr;
    QToolButton* btnPause = nullptr;
    QToolButton* btnStop = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    TIPAddressEdit* edtAddr1 = nullptr;
    TIPAddressEdit* edtAddr2 = nullptr;
    QLineEdit* edtPort1 = nullptr;
    QLineEdit* edtPort2 = nullptr;
    QComboBox* cbbProtocol = nullptr;
    QFrame* Panel1 = nullptr;
    QTableView* grdDataList = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void ResetList();
    void SetFilterControlsEnabled(bool enabled);
    void WatchCaptures();
    void RemoveWatchers();
    void ReadCapture(size_t index);

    TMessageBoxes& Boxes_;
    TPacketListModel* Model_ = nullptr;
    QTimer* FlushTimer_ = nullptr;
    // One watcher per open capture; removed before the captures close.
    std::vector<QSocketNotifier*> Watchers_;
    bool Flushing_ = false;
    bool Centred_ = false;
    int ViewUpdates_ = 0;
    long long ListedPackets_ = 0;
};

}  // namespace tarnwick
