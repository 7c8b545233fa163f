// TCaptureData_F: the "Data Capture" window. Lays out the filter controls,
// the packet list (grdDataList) and the hex (Memo1) and text (Memo2) dumps of
// the clicked packet, and wires them to a capture session, which holds the
// capture, its filter and the list.
//
// Each window owns its session and frees itself when closed. It is
// application-modal and stays on top.
//
// Packets are read on the session's own thread, which never waits for the
// window; the window takes what was listed in batches and tells the grid's
// view of new rows at most once per frame, so neither holds the other up
// under load. The capture's failures come with the batches and are shown in
// an error box, a capture that cannot start alike.
//
// "&Record..." below the dumps records the capture from then on until Stop
// into a pcapng file the user chooses; the line beside it says to which file,
// and how the recording ended.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "capture/capture_endpoints.h"
#include "capture/capture_filter.h"
#include "capture/capture_session.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSocketNotifier;
class QTableView;
class QTimer;
class QToolButton;

namespace tarnwick {

class TIPAddressEdit;
class TMessageBoxes;
class TPacketListModel;

class TCaptureData_F final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 711;
    static constexpr int kClientHeight = 513;
    // The view is told of new rows at most this often.
    static constexpr int kFlushIntervalMs = 16;

    // A top-level window owned by `parent`, freed when it closes.
    TCaptureData_F(TPacketSource& source, TMessageBoxes& boxes, QWidget* parent = nullptr);
    ~TCaptureData_F() override;

    // "Data &Capture": a new empty window, capture not started, shown. Its
    // recordings name each packet's owner from `owners` (see SetOwners).
    static TCaptureData_F* OpenEmpty(TPacketSource& source, TMessageBoxes& boxes, QWidget* owner,
                                     std::shared_ptr<const TSocketOwnerFeed> owners = nullptr);
    // "C&apture Data": a new window with the filter of `endpoints`, capture
    // started, shown. When the capture cannot start the error box is all the
    // user sees: the window is freed and nullptr returned.
    static TCaptureData_F* OpenForConnection(TPacketSource& source, TMessageBoxes& boxes, QWidget* owner,
                                             const TCaptureEndpoints& endpoints,
                                             std::shared_ptr<const TSocketOwnerFeed> owners = nullptr);

    // "Capture &Program Traffic": a new window that captures the packets of
    // `program`'s sockets, which it finds in `owners` as each refresh
    // publishes them, capture started, shown; nullptr as OpenForConnection.
    static TCaptureData_F* OpenForProgram(TPacketSource& source, TMessageBoxes& boxes, QWidget* owner,
                                          const TProgramSelector& program,
                                          std::shared_ptr<const TSocketOwnerFeed> owners);

    // Where a program's capture finds the owners of sockets, and recordings
    // the owner of each packet's connection, from the next Start on.
    void SetOwners(std::shared_ptr<const TSocketOwnerFeed> owners) { Session_.SetOwners(std::move(owners)); }
    // From the next Start on, only `program`'s packets pass the filter
    // (nullopt: every program's); the title says which program it is.
    void SetProgram(std::optional<TProgramSelector> program);
    const std::optional<TProgramSelector>& Program() const { return Program_; }

    // Fills the filter from `endpoints` and presses Start. False when the
    // capture could not start (the window stays Idle, the error was shown).
    bool StartForConnection(const TCaptureEndpoints& endpoints);

    // Handlers.
    void btnStartClick();
    void btnPauseClick();
    void btnStopClick();
    void btnRecordClick();
    void grdDataListClick();

    // Records the running capture into the file at `path` from now until
    // Stop. False, with the failure shown, when it cannot.
    bool RecordTo(const QString& path);
    // Asks where to record: the chosen file, or nullopt when the user backed
    // out. A save dialog unless a test puts something else here.
    std::function<std::optional<QString>(QWidget* parent)> AskRecordFile;
    // How recordings name the owner of each packet's connection.
    void SetPacketOwners(TPacketOwnerLookup owners) { Session_.SetPacketOwners(std::move(owners)); }

    const TCaptureSession& Session() const { return Session_; }
    TPacketListModel& ListModel() { return *Model_; }
    // Takes the packets the session's thread listed and tells the grid's view
    // of the rows listed since the last update (done by itself at most once
    // per frame); shows the failures the capture reported meanwhile.
    void FlushList();
    // Times the grid's view was told of changes.
    int ViewUpdates() const { return ViewUpdates_; }

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
    QPushButton* btnRecord = nullptr;
    QLabel* lblRecording = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The filter as the controls hold it now.
    TCaptureFilter ControlFilter() const;
    // Enables the buttons and the filter controls as the session's state
    // allows, and says what the recording does.
    void ShowState();
    // An error box with the texts of `failures`, a line each, and then one
    // for those that came while it was open, until none are left.
    void ShowFailures(std::vector<TFailure> failures);

    TCaptureSession Session_;
    std::optional<TProgramSelector> Program_;
    TMessageBoxes& Boxes_;
    TPacketListModel* Model_ = nullptr;
    QTimer* FlushTimer_ = nullptr;
    // Watches the session's batches of listed packets.
    QSocketNotifier* BatchWatcher_ = nullptr;
    bool Flushing_ = false;
    bool ShowingFailures_ = false;
    bool Centred_ = false;
    int ViewUpdates_ = 0;
};

}  // namespace tarnwick
