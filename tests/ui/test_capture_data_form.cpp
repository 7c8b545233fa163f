// The capture window on the offscreen platform over a fake packet source:
// its looks, and its wiring to the capture session: buttons, the filter taken
// from the controls at Start, packets read by the session's thread into the
// list, the dumps, a burst of packets, a capture that cannot start and one
// that fails while it runs; recording from Record to Stop, and a recording
// whose file fails.
#include "ui/capture_data_form.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <winerror.h>
#endif

#include "common/inet_address.h"
#include "common/temp_folder.h"
#include "fakes/fake_packet_source.h"
#include "ui/app_title.h"
#include "ui/ip_address_edit.h"
#include "ui/packet_list_model.h"
#include "ui/scripted_boxes.h"
#ifdef _WIN32
#include "platform/windows/win32_failure.h"
#endif

namespace tarnwick {
namespace {

using testing::MakeIpPacket;
using testing::MakeUdpPacket;
using testing::TBytes;
using testing::TFakePacketSource;
using testing::TScriptedBoxes;
using TState = TCaptureState;

class CaptureDataForm : public ::testing::Test {
protected:
    void SetUp() override { Form = new TCaptureData_F(Source, Boxes); }
    void TearDown() override {
        delete Form.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Queues `bytes` on the capture opened last and runs the window's events
    // until it has listed them.
    void Deliver(TBytes bytes) {
        const long long listed = Form->Session().ListedPackets();
        Source.Latest().Push(std::move(bytes));
        QElapsedTimer clock;
        clock.start();
        while (Form->Session().ListedPackets() == listed && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ASSERT_EQ(Form->Session().ListedPackets(), listed + 1);
    }
    // The same for a packet the filter keeps out: it is read before any
    // packet queued after it is listed.
    void DeliverFiltered(TBytes bytes) { Source.Latest().Push(std::move(bytes)); }
    QString Shown(int row, int column) const {
        return Form->ListModel().data(Form->ListModel().index(row, column), Qt::DisplayRole).toString();
    }
    void ClickRow(int row) {
        Form->FlushList();
        Form->grdDataList->setCurrentIndex(Form->ListModel().index(row, 0));
        Form->grdDataListClick();
    }

    TFakePacketSource Source;
    TScriptedBoxes Boxes;
    QPointer<TCaptureData_F> Form;
};

TEST_F(CaptureDataForm, OpensModalOnTopAndIdleWithAnOpenFilterAndAnEmptyList) {
    EXPECT_EQ(Form->windowTitle(), "Data Capture");
    EXPECT_EQ(Form->minimumSize(), Form->maximumSize());  // not resizable
    EXPECT_TRUE(Form->testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_TRUE(Form->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(Form->windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(Form->edtAddr1->Text(), "0.0.0.0");
    EXPECT_EQ(Form->edtPort2->text(), "0");

    QStringList items;
    for (int i = 0; i < Form->cbbProtocol->count(); ++i) items << Form->cbbProtocol->itemText(i);
    EXPECT_EQ(items, QStringList({"", "IP", "ICMP", "IGMP", "GGP", "TCP", "PUP", "UDP", "IDP", "NP", "RAW", "MAX",
                                  "ICMPv6"}));
    EXPECT_EQ(Form->cbbProtocol->currentIndex(), 0);

    QStringList headers;
    for (int c = 0; c < Form->ListModel().columnCount(); ++c)
        headers << Form->ListModel().headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    EXPECT_EQ(headers, QStringList({"Protocol", "Source Addr", "Source Port", "Dest Addr", "Dest Port", "Data Size",
                                    "Data"}));
    EXPECT_EQ(Form->ListModel().rowCount(), 1);  // the empty row under the header
    EXPECT_EQ(Form->Session().State(), TState::Idle);
}

TEST_F(CaptureDataForm, DrawsGreyRuledHeaderAndGreenOnBlackCells) {
    Form->show();
    Form->btnStartClick();
    Deliver(MakeUdpPacket(1000, 2000, "WWWWWWWWWWWWWWWWWWWW"));
    Form->FlushList();
    QCoreApplication::processEvents();
    const QImage image = Form->grdDataList->grab().toImage();
    EXPECT_EQ(image.pixelColor(40, 1), QColor(0x80, 0x80, 0x80));
    EXPECT_EQ(image.pixelColor(40, 3), QColor(Qt::black));  // a rule every third pixel row
    const int rowTop = Form->grdDataList->horizontalHeader()->height();
    // The Data cell of the packet row: black with green letters; the empty row black.
    bool green = false;
    for (int x = 6 * 96; x < 6 * 96 + 90; ++x)
        for (int y = rowTop + 3; y < rowTop + 16; ++y) green |= image.pixelColor(x, y) == QColor(0x00, 0xFF, 0x00);
    EXPECT_TRUE(green);
    EXPECT_EQ(image.pixelColor(6 * 96 + 1, rowTop + 1), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(40, rowTop + 18 + 10), QColor(Qt::black));
}

TEST_F(CaptureDataForm, ButtonsAndFilterControlsFollowTheSessionState) {
    auto enabled = [this] {
        return std::vector<bool>{Form->btnStart->isEnabled(),  Form->btnPause->isEnabled(),
                                 Form->btnPause->isChecked(),  Form->btnStop->isEnabled(),
                                 Form->Label5->isEnabled(),    Form->edtAddr2->isEnabled(),
                                 Form->edtPort1->isEnabled(),  Form->cbbProtocol->isEnabled()};
    };
    const std::vector<bool> idle{true, false, false, false, true, true, true, true};
    const std::vector<bool> capturing{false, true, false, true, false, false, false, false};
    const std::vector<bool> paused{false, true, true, false, false, false, false, false};
    EXPECT_EQ(enabled(), idle);

    QTest::mouseClick(Form->btnStart, Qt::LeftButton);
    EXPECT_EQ(Form->Session().State(), TState::Capturing);
    EXPECT_EQ(enabled(), capturing);
    QTest::mouseClick(Form->btnPause, Qt::LeftButton);
    EXPECT_EQ(Form->Session().State(), TState::Paused);
    EXPECT_EQ(enabled(), paused);
    QTest::mouseClick(Form->btnPause, Qt::LeftButton);
    EXPECT_EQ(Form->Session().State(), TState::Capturing);
    EXPECT_EQ(enabled(), capturing);
    QTest::mouseClick(Form->btnStop, Qt::LeftButton);
    EXPECT_EQ(Form->Session().State(), TState::Idle);
    EXPECT_EQ(enabled(), idle);
    EXPECT_EQ(Source.Opened.at(0)->Closes, 1);
}

TEST_F(CaptureDataForm, APauseThatPausesNothingLeavesThePauseButtonUp) {
    Source.Addresses.clear();
    Form->btnStartClick();
    QTest::mouseClick(Form->btnPause, Qt::LeftButton);  // the checkable button toggles itself first
    EXPECT_FALSE(Form->btnPause->isChecked());
    EXPECT_TRUE(Form->btnStop->isEnabled());
}

TEST_F(CaptureDataForm, ACaptureThatCannotStartIsReportedAndTheWindowStaysIdle) {
    Source.Refusal = "eth0: You don't have permission to perform this capture (CAP_NET_RAW is needed)";
    Form->btnStartClick();
    ASSERT_EQ(Boxes.Shown.size(), 1u);
    EXPECT_EQ(Boxes.Shown[0].toStdString(), *Source.Refusal);
    EXPECT_EQ(Boxes.ShownCaptions[0], kApplicationTitle);
    EXPECT_TRUE(Form->btnStart->isEnabled());
    EXPECT_TRUE(Form->edtPort1->isEnabled());

    // From the connection list: only the box, no window.
    TCaptureEndpoints endpoints{"UDP", 0x7F000001, 53, 0, 0};
    EXPECT_EQ(TCaptureData_F::OpenForConnection(Source, Boxes, nullptr, endpoints), nullptr);
    EXPECT_EQ(Boxes.Shown.size(), 2u);
}

TEST_F(CaptureDataForm, FailuresOfARunningCaptureAreShownAndOneThatEndsItLeavesTheWindowIdle) {
    // Runs the window's events until it has shown `count` boxes.
    const auto awaitBoxes = [this](size_t count) {
        QElapsedTimer clock;
        clock.start();
        while (Boxes.Shown.size() < count && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return Boxes.Shown.size();
    };
    Form->show();
    Form->btnStartClick();
    testing::TFakeCaptureState& capture = Source.Latest();
    capture.FailNextRead("recvfrom: Network is down");
    ASSERT_EQ(awaitBoxes(1), 1u);
    EXPECT_EQ(Boxes.Shown[0], "recvfrom: Network is down");
    EXPECT_EQ(Boxes.ShownCaptions[0], kApplicationTitle);
    EXPECT_EQ(Form->Session().State(), TState::Capturing);  // one read failed; the capture goes on

#ifdef _WIN32
    GTEST_SKIP() << "a fake capture cannot hang up on Windows: no other socket can take its number";
#else
    capture.HangUp();
    ASSERT_EQ(awaitBoxes(2), 2u);
    EXPECT_EQ(Boxes.Shown[1], "every capture has failed");
    EXPECT_EQ(Form->Session().State(), TState::Idle);
    EXPECT_TRUE(Form->btnStart->isEnabled());
    EXPECT_EQ(capture.Closes, 1);
#endif
}

TEST_F(CaptureDataForm, RecordsFromRecordUntilStopIntoTheChosenFileAndSaysSo) {
    testing::TTempFolder folder;
    const QString path = QString::fromStdString(folder.File("window.pcapng"));
    Form->AskRecordFile = [&path](QWidget*) -> std::optional<QString> { return path; };
    EXPECT_FALSE(Form->btnRecord->isEnabled());  // nothing to record yet
    Form->btnStartClick();
    Deliver(MakeUdpPacket(1, 2, "before"));
    QTest::mouseClick(Form->btnRecord, Qt::LeftButton);
    EXPECT_EQ(Form->lblRecording->text(), "Recording to " + path);
    EXPECT_FALSE(Form->btnRecord->isEnabled());
    Deliver(MakeUdpPacket(1, 2, "one"));
    Deliver(MakeUdpPacket(1, 2, "two"));
    Form->btnStopClick();
    EXPECT_EQ(Form->lblRecording->text(), "Recorded 2 packets to " + path);
    EXPECT_TRUE(Boxes.Shown.empty());
    Form->btnStartClick();  // a new capture records nothing until asked to
    EXPECT_EQ(Form->lblRecording->text(), "");
}

TEST_F(CaptureDataForm, ARecordingWhoseFileFailsIsShownAndTheCaptureGoesOn) {
    Form->show();
    Form->btnStartClick();
    // /dev/full takes what is written, then says the disk is full. Windows
    // has no such file; under Wine, whose drive Z: is the host's root, the
    // host's is there.
#ifdef _WIN32
    if (!Form->RecordTo("/dev/full")) GTEST_SKIP() << "no /dev/full, a file that opens and then refuses writes";
    const std::string diskFull = FailureFromWin32(ERROR_DISK_FULL, {}).ErrnoText();
#else
    ASSERT_TRUE(Form->RecordTo("/dev/full"));
    const std::string diskFull = "No space left on device";
#endif
    Deliver(MakeUdpPacket(1, 2, "lost"));
    QElapsedTimer clock;
    clock.start();
    while (Boxes.Shown.empty() && clock.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ASSERT_EQ(Boxes.Shown.size(), 1u);
    EXPECT_EQ(Boxes.Shown[0], QString::fromStdString("recording to /dev/full: " + diskFull));
    EXPECT_EQ(Form->lblRecording->text(), QString::fromStdString("Recording to /dev/full failed: " + diskFull));
    EXPECT_EQ(Form->Session().State(), TState::Capturing);

    EXPECT_FALSE(Form->RecordTo(QString::fromStdString(testing::TTempFolder().File("no/such/folder.pcapng"))));
    EXPECT_EQ(Boxes.Shown.size(), 2u);
}

TEST_F(CaptureDataForm, TheFilterIsTakenFromTheControlsAtStartAndKept) {
    Form->edtAddr1->SetValue(0x0A000005);  // 10.0.0.5
    Form->edtPort1->setText(QStringLiteral("80"));
    Form->cbbProtocol->setCurrentText(QStringLiteral("TCP"));
    Form->btnStartClick();
    Deliver(MakeIpPacket(6, {10, 0, 0, 9}, {10, 0, 0, 5}, 40000, 80, {'a'}));

    // Changed during the capture: no effect until the next Start.
    Form->edtPort1->setText(QStringLiteral("0"));
    Form->cbbProtocol->setCurrentText(QStringLiteral("UDP"));
    DeliverFiltered(MakeIpPacket(17, {10, 0, 0, 9}, {10, 0, 0, 5}, 40000, 53, {'u'}));
    Deliver(MakeIpPacket(6, {10, 0, 0, 5}, {10, 0, 0, 9}, 80, 40000, {'b'}));
    Form->FlushList();
    ASSERT_EQ(Form->ListModel().rowCount(), 3);
    EXPECT_EQ(Shown(0, 6), "a");
    EXPECT_EQ(Shown(1, 6), "b");

    Form->btnStopClick();
    Form->btnStartClick();
    Deliver(MakeIpPacket(17, {10, 0, 0, 9}, {10, 0, 0, 5}, 40000, 53, {'u'}));
    EXPECT_EQ(Form->Session().RecordCount(), 1u);
}

TEST_F(CaptureDataForm, ClickingARowDumpsItsPayload) {
    Form->btnStartClick();
    Deliver(MakeUdpPacket(1, 2, "ABCDEFGHIJKLMN\r\n"));

    ClickRow(0);
    EXPECT_EQ(Form->Memo1->toPlainText(),
              "41 42 43 44 45 46 47 48   |  ABCDEFGH\n"
              "49 4A 4B 4C 4D 4E 0D 0A   |  IJKLMN..");
    EXPECT_EQ(Form->Memo2->toPlainText(), "ABCDEFGHIJKLMN..");

    ClickRow(1);  // the empty row
    EXPECT_EQ(Form->Memo1->toPlainText(), "");
    EXPECT_EQ(Form->Memo2->document()->blockCount(), 1);
    EXPECT_EQ(Form->Memo2->toPlainText(), "");
}

TEST_F(CaptureDataForm, ABurstKeepsEveryPacketInOrderWithFewViewUpdates) {
    QSignalSpy inserted(&Form->ListModel(), &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(&Form->ListModel(), &QAbstractItemModel::modelReset);
    Form->show();
    Form->btnStartClick();
    reset.clear();
    const int updatesBefore = Form->ViewUpdates();
    testing::TFakeCaptureState& capture = Source.Latest();
    constexpr int kPackets = 5150;
    for (int n = 1; n <= kPackets; ++n) capture.Push(MakeUdpPacket(1000, 2000, std::to_string(n)));

    QElapsedTimer clock;
    clock.start();
    while ((Form->Session().ListedPackets() < kPackets || Form->Session().HasListChange()) &&
           clock.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const qint64 elapsed = clock.elapsed();
    ASSERT_EQ(capture.Waiting(), 0u);
    EXPECT_EQ(Form->Session().ListedPackets(), kPackets);

    // 5150 = 25 full lists and 150 packets: the last 150, in order, on view.
    ASSERT_EQ(Form->ListModel().rowCount(), 151);
    for (int row = 0; row < 150; ++row) ASSERT_EQ(Shown(row, 6), QString::number(5001 + row)) << row;
    // At most one view update per frame, not one per packet.
    const int updates = Form->ViewUpdates() - updatesBefore;
    EXPECT_EQ(updates, static_cast<int>(inserted.count() + reset.count()));
    EXPECT_LE(updates, elapsed / TCaptureData_F::kFlushIntervalMs + 2);
    EXPECT_LT(updates, kPackets / 20);
}

TEST_F(CaptureDataForm, OpensForAConnectionWithItsEndpoints) {
    const TCaptureEndpoints tcp{"TCP", 0x5DB8D822, 443, 0xC0A80107, 51000};
    QPointer<TCaptureData_F> opened = TCaptureData_F::OpenForConnection(Source, Boxes, nullptr, tcp);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(opened->isVisible());
    EXPECT_EQ(opened->edtAddr1->Text(), "93.184.216.34");
    EXPECT_EQ(opened->edtPort1->text(), "443");
    EXPECT_EQ(opened->edtAddr2->Text(), "192.168.1.7");
    EXPECT_EQ(opened->edtPort2->text(), "51000");
    EXPECT_EQ(opened->cbbProtocol->currentText(), "TCP");
    EXPECT_EQ(opened->Session().State(), TState::Capturing);

    // Closing frees the window and closes its captures once.
    opened->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(opened.isNull());
    EXPECT_EQ(Source.Opened.back()->Closes, 1);

    TCaptureEndpoints udp6{"UDP", 0, 5353, 0, 0};
    udp6.V6 = true;
    udp6.Addr1V6 = *ParseIp6("2001:db8::7");
    QPointer<TCaptureData_F> opened6 = TCaptureData_F::OpenForConnection(Source, Boxes, nullptr, udp6);
    ASSERT_TRUE(opened6);
    EXPECT_EQ(opened6->edtAddr1->Text(), "2001:db8::7");
    EXPECT_EQ(opened6->edtAddr2->Text(), "::");
    EXPECT_EQ(opened6->cbbProtocol->currentText(), "UDP");
    delete opened6.data();

    QPointer<TCaptureData_F> empty = TCaptureData_F::OpenEmpty(Source, Boxes, nullptr);
    EXPECT_EQ(empty->Session().State(), TState::Idle);
    EXPECT_TRUE(empty->isVisible());
    delete empty.data();
}

TEST_F(CaptureDataForm, ClosingWhileCapturingStopsWatchingBeforeTheCapturesClose) {
    Source.Addresses = {"10.0.0.1", "10.0.0.2"};
    Form->show();
    Form->btnStartClick();
    auto first = Source.Opened.at(0);
    // Read or not by the session's thread, a packet's batch still waits for the window.
    first->Push(MakeUdpPacket(1, 2, "late"));
    Form->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(Form.isNull());
    QCoreApplication::processEvents();  // nothing may reach the freed window now
    for (const auto& state : Source.Opened) EXPECT_EQ(state->Closes, 1);
}

}  // namespace
}  // namespace tarnwick
