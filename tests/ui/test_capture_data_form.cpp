// The capture window on the offscreen platform over a fake packet source:
// its looks, the Start/Pause/Stop table, the filter read from the controls,
// the 200-packet list, the dumps, a burst of packets, and a capture that
// cannot start.
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
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <memory>
#include <string>
#include <vector>

#include "fakes/fake_packet_source.h"
#include "fakes/fake_platform.h"
#include "monitor/connection_snapshot.h"
#include "platform/ip_tables.h"
#include "platform/packet_source.h"
#include "ui/app_title.h"
#include "ui/ip_address_edit.h"
#include "ui/scripted_boxes.h"

namespace tarnwick {
namespace {

using testing::MakeIpPacket;
using testing::MakeUdpPacket;
using testing::TBytes;
using testing::TFakePacketSource;
using testing::TScriptedBoxes;
using TWindowState = TCaptureData_F::TWindowState;

class CaptureDataForm : public ::testing::Test {
protected:
    void SetUp() override { Form = new TCaptureData_F(Source, Boxes); }
    void TearDown() override {
        delete Form.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Hands `bytes` to the window as the capture would.
    void Deliver(const TBytes& bytes) {
        const auto packet = ParsePacket("10.0.0.1", bytes.data(), bytes.size());
        ASSERT_TRUE(packet);
        Form->cap_ip1Cap(*packet);
    }
    std::string Cell(int row, int column) const { return Form->ListModel().Cell(row, column); }
    void ClickRow(int gridRow) {
        Form->FlushList();
        Form->grdDataList->setCurrentIndex(Form->ListModel().index(gridRow - 1, 0));
        Form->grdDataListClick();
    }

    TFakePacketSource Source;
    TScriptedBoxes Boxes;
    QPointer<TCaptureData_F> Form;
};

TEST_F(CaptureDataForm, LooksAsLaidOut) {
    EXPECT_EQ(Form->windowTitle(), "Data Capture");
    EXPECT_EQ(Form->size(), QSize(711, 483));
    EXPECT_TRUE(Form->testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_TRUE(Form->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(Form->windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(Form->palette().color(QPalette::Window), QColor(0x4B, 0x7D, 0x9E));
    EXPECT_EQ(Form->Panel1->geometry(), QRect(6, 41, 700, 283));
    EXPECT_EQ(Form->edtAddr1->Text(), "0.0.0.0");
    EXPECT_EQ(Form->edtPort2->text(), "0");

    QStringList items;
    for (int i = 0; i < Form->cbbProtocol->count(); ++i) items << Form->cbbProtocol->itemText(i);
    EXPECT_EQ(items, QStringList({"", "IP", "ICMP", "IGMP", "GGP", "TCP", "PUP", "UDP", "IDP", "NP", "RAW", "MAX"}));
    EXPECT_EQ(Form->cbbProtocol->currentIndex(), 0);

    QStringList headers;
    for (int c = 0; c < Form->ListModel().columnCount(); ++c)
        headers << Form->ListModel().headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    EXPECT_EQ(headers, QStringList({"Protocol", "Source Addr", "Source Port", "Dest Addr", "Dest Port", "Data Size",
                                    "Data"}));
    EXPECT_EQ(Form->ListModel().GridRowCount(), 2);
    EXPECT_EQ(Form->ListModel().rowCount(), 1);  // the empty row under the header
    EXPECT_EQ(Form->grdDataList->horizontalHeader()->sectionSize(6), 96);
    EXPECT_EQ(Form->WindowState(), TWindowState::Idle);
}

TEST_F(CaptureDataForm, DrawsGreyRuledHeaderAndGreenOnBlackCells) {
    Form->show();
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

TEST_F(CaptureDataForm, StartPauseAndStopFollowTheStateTable) {
    auto filterEnabled = [this] {
        return std::vector<bool>{Form->Label1->isEnabled(),   Form->Label5->isEnabled(),   Form->edtAddr1->isEnabled(),
                                 Form->edtAddr2->isEnabled(), Form->edtPort1->isEnabled(), Form->edtPort2->isEnabled(),
                                 Form->cbbProtocol->isEnabled()};
    };
    const std::vector<bool> allOn(7, true), allOff(7, false);
    EXPECT_TRUE(Form->btnStart->isEnabled());
    EXPECT_FALSE(Form->btnPause->isEnabled());
    EXPECT_FALSE(Form->btnStop->isEnabled());
    EXPECT_EQ(filterEnabled(), allOn);

    QTest::mouseClick(Form->btnStart, Qt::LeftButton);
    EXPECT_EQ(Form->WindowState(), TWindowState::Capturing);
    EXPECT_FALSE(Form->btnStart->isEnabled());
    EXPECT_TRUE(Form->btnPause->isEnabled());
    EXPECT_FALSE(Form->btnPause->isChecked());
    EXPECT_TRUE(Form->btnStop->isEnabled());
    EXPECT_EQ(filterEnabled(), allOff);
    EXPECT_EQ(Form->cap_ip1.State(), Tcap_ip::TState::Capturing);

    QTest::mouseClick(Form->btnPause, Qt::LeftButton);
    EXPECT_EQ(Form->WindowState(), TWindowState::Paused);
    EXPECT_TRUE(Form->btnPause->isChecked());
    EXPECT_TRUE(Form->btnPause->isEnabled());
    EXPECT_FALSE(Form->btnStop->isEnabled());
    EXPECT_FALSE(Form->btnStart->isEnabled());
    EXPECT_TRUE(Form->cap_ip1.Paused());

    QTest::mouseClick(Form->btnPause, Qt::LeftButton);
    EXPECT_EQ(Form->WindowState(), TWindowState::Capturing);
    EXPECT_FALSE(Form->btnPause->isChecked());
    EXPECT_TRUE(Form->btnStop->isEnabled());

    Deliver(MakeUdpPacket(1, 2, "kept"));
    QTest::mouseClick(Form->btnStop, Qt::LeftButton);
    EXPECT_EQ(Form->WindowState(), TWindowState::Idle);
    EXPECT_TRUE(Form->btnStart->isEnabled());
    EXPECT_FALSE(Form->btnPause->isEnabled());
    EXPECT_FALSE(Form->btnStop->isEnabled());
    EXPECT_EQ(filterEnabled(), allOn);
    EXPECT_EQ(Form->ListModel().GridRowCount(), 3);  // the list stays until the next Start
    EXPECT_EQ(Source.Opened.at(0)->Closes, 1);

    QTest::mouseClick(Form->btnStart, Qt::LeftButton);  // starts afresh: empty list, new captures
    EXPECT_EQ(Form->ListModel().GridRowCount(), 2);
    EXPECT_TRUE(Form->PacketData[0].Bytes.empty());
    EXPECT_EQ(Source.Opened.size(), 2u);
}

TEST_F(CaptureDataForm, PauseAfterAStartWithoutAddressesChangesNothing) {
    Source.Addresses.clear();
    Form->btnStartClick();
    Form->btnPauseClick();
    EXPECT_FALSE(Form->btnPause->isChecked());
    EXPECT_TRUE(Form->btnStop->isEnabled());
    EXPECT_EQ(Form->WindowState(), TWindowState::Capturing);
}

TEST_F(CaptureDataForm, ACaptureThatCannotStartIsReportedAndTheWindowStaysIdle) {
    Source.Refusal = "eth0: You don't have permission to perform this capture (CAP_NET_RAW is needed)";
    Deliver(MakeUdpPacket(1, 2, "old"));
    Form->btnStartClick();
    ASSERT_EQ(Boxes.Shown.size(), 1u);
    EXPECT_EQ(Boxes.Shown[0].toStdString(), *Source.Refusal);
    EXPECT_EQ(Boxes.ShownCaptions[0], kApplicationTitle);
    EXPECT_EQ(Form->WindowState(), TWindowState::Idle);
    EXPECT_TRUE(Form->edtPort1->isEnabled());
    EXPECT_EQ(Form->ListModel().GridRowCount(), 2);  // emptied before the start was tried

    // From the connection list: only the box, no window.
    TCaptureEndpoints endpoints{"UDP", 0x7F000001, 53, 0, 0};
    EXPECT_EQ(TCaptureData_F::OpenForConnection(Source, Boxes, nullptr, endpoints), nullptr);
    EXPECT_EQ(Boxes.Shown.size(), 2u);

    Source.Refusal.reset();  // the next press tries again
    Form->btnStartClick();
    EXPECT_EQ(Form->WindowState(), TWindowState::Capturing);
}

TEST_F(CaptureDataForm, ListsWhatTheFilterControlsLetThrough) {
    Deliver(MakeIpPacket(47, {1, 1, 1, 1}, {2, 2, 2, 2}, 0, 0, {'g'}));  // nothing set: every packet
    EXPECT_EQ(Cell(1, 0), "");
    EXPECT_EQ(Cell(1, 5), "1");

    Form->edtAddr1->SetValue(0x0A000005);  // 10.0.0.5
    Form->edtPort1->setText(QStringLiteral("80"));
    Form->cbbProtocol->setCurrentText(QStringLiteral("TCP"));
    Deliver(MakeIpPacket(6, {10, 0, 0, 5}, {10, 0, 0, 9}, 80, 40000, {'a'}));     // from A1:P1
    Deliver(MakeIpPacket(6, {10, 0, 0, 9}, {10, 0, 0, 5}, 40000, 80, {'b'}));     // to A1:P1
    Deliver(MakeIpPacket(17, {10, 0, 0, 5}, {10, 0, 0, 9}, 80, 40000, {'u'}));    // not TCP
    Deliver(MakeIpPacket(6, {10, 0, 0, 50}, {10, 0, 0, 9}, 80, 40000, {'c'}));    // another address
    Deliver(MakeIpPacket(6, {10, 0, 0, 5}, {10, 0, 0, 9}, 8080, 40000, {'d'}));   // another port
    EXPECT_EQ(Form->ListModel().GridRowCount(), 5);
    EXPECT_EQ(Cell(2, 6), "a");
    EXPECT_EQ(Cell(3, 6), "b");

    Form->edtPort1->setText(QStringLiteral("080"));  // set, but no packet's port reads so
    Deliver(MakeIpPacket(6, {10, 0, 0, 5}, {10, 0, 0, 9}, 80, 40000, {'e'}));
    Form->edtPort1->setText(QStringLiteral("web"));  // not a number: unset
    Deliver(MakeIpPacket(6, {10, 0, 0, 9}, {10, 0, 0, 5}, 1, 2, {'f'}));
    EXPECT_EQ(Form->ListModel().GridRowCount(), 6);
    EXPECT_EQ(Cell(4, 6), "f");

    Form->cbbProtocol->setCurrentText(QStringLiteral("MAX"));
    Deliver(MakeIpPacket(6, {10, 0, 0, 5}, {10, 0, 0, 9}, 80, 40000, {'g'}));
    EXPECT_EQ(Form->ListModel().GridRowCount(), 6);
}

TEST_F(CaptureDataForm, TheTwoHundredthPacketEmptiesTheList) {
    for (int n = 1; n <= 199; ++n) Deliver(MakeUdpPacket(1000, 2000, "p" + std::to_string(n)));
    EXPECT_EQ(Form->ListModel().GridRowCount(), 201);
    EXPECT_EQ(Cell(199, 6), "p199");
    EXPECT_EQ(std::string(Form->PacketData[198].Bytes.begin(), Form->PacketData[198].Bytes.end()), "p199");

    Deliver(MakeUdpPacket(1000, 2000, "p200"));
    EXPECT_EQ(Form->ListModel().GridRowCount(), 2);
    for (const auto& slot : Form->PacketData) EXPECT_TRUE(slot.Bytes.empty());

    Deliver(MakeUdpPacket(1000, 2000, "p201"));
    EXPECT_EQ(Form->ListModel().GridRowCount(), 3);
    EXPECT_EQ(Cell(1, 6), "p201");
    EXPECT_EQ(std::string(Form->PacketData[0].Bytes.begin(), Form->PacketData[0].Bytes.end()), "p201");
    Form->FlushList();
    EXPECT_EQ(Form->ListModel().rowCount(), 2);
    EXPECT_EQ(Form->ListModel().data(Form->ListModel().index(0, 6), Qt::DisplayRole).toString(), "p201");
}

TEST_F(CaptureDataForm, ClickingARowDumpsItsPayload) {
    Deliver(MakeUdpPacket(1, 2, "ABCDEFGHIJKLMN\r\n"));
    TBytes zeroFirst{0, 'x', 0x14, 0x13, 0x7F};
    Deliver(MakeIpPacket(17, {1, 2, 3, 4}, {5, 6, 7, 8}, 1, 2, zeroFirst));

    ClickRow(1);
    EXPECT_EQ(Form->Memo1->toPlainText(),
              "41 42 43 44 45 46 47 48   |  ABCDEFGH\n"
              "49 4A 4B 4C 4D 4E 0D 0A   |  IJKLMN..");
    EXPECT_EQ(Form->Memo2->toPlainText(), "ABCDEFGHIJKLMN..");

    ClickRow(2);
    EXPECT_EQ(Cell(2, 6), "");  // the Data cell stops at the first zero byte
    EXPECT_EQ(Form->Memo1->toPlainText(), QString::fromLatin1("00 78 14 13 7F " + std::string(9, ' ') + "  |  .x\x14.\x7F"));
    EXPECT_EQ(Form->Memo2->toPlainText(), QString::fromLatin1(".x\x14.\x7F"));

    ClickRow(3);  // the empty row
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
    while ((!capture.Queue.empty() || Form->ListModel().HasUnflushedRows()) && clock.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const qint64 elapsed = clock.elapsed();
    ASSERT_TRUE(capture.Queue.empty());
    EXPECT_EQ(Form->ListedPackets(), kPackets);

    // 5150 = 25 full lists and 150 packets: the last 150, in order, on view.
    ASSERT_EQ(Form->ListModel().GridRowCount(), 152);
    ASSERT_EQ(Form->ListModel().rowCount(), 151);
    for (int row = 1; row <= 150; ++row) {
        ASSERT_EQ(Cell(row, 6), std::to_string(5000 + row)) << row;
        ASSERT_EQ(Form->ListModel().data(Form->ListModel().index(row - 1, 6), Qt::DisplayRole).toString(),
                  QString::number(5000 + row));
        ASSERT_EQ(std::string(Form->PacketData[static_cast<size_t>(row - 1)].Bytes.begin(),
                              Form->PacketData[static_cast<size_t>(row - 1)].Bytes.end()),
                  std::to_string(5000 + row));
    }
    // At most one view update per frame, not one per packet.
    const int updates = Form->ViewUpdates() - updatesBefore;
    EXPECT_EQ(updates, static_cast<int>(inserted.count() + reset.count()));
    EXPECT_LE(updates, elapsed / TCaptureData_F::kFlushIntervalMs + 2);
    EXPECT_LT(updates, kPackets / 20);
}

TEST_F(CaptureDataForm, OpensForAConnectionWithItsEndpoints) {
    testing::TFakeIpTables tables;
    testing::TFakeProcessList processes;
    tables.TcpRows = {{5, AddrField(192, 168, 1, 7), PortField(51000), AddrField(93, 184, 216, 34), PortField(443), 0}};
    tables.UdpRows = {{AddrField(127, 0, 0, 53), PortField(53), 0}};
    ConnectionSnapshot snapshot(true);
    snapshot.FetchTables(tables, processes);

    const TCaptureEndpoints tcp = CaptureEndpointsOf(snapshot, {true, 0});
    EXPECT_EQ(tcp.Protocol, "TCP");
    EXPECT_EQ(tcp.Port1, 443);
    EXPECT_EQ(tcp.Port2, 51000);

    QPointer<TCaptureData_F> opened = TCaptureData_F::OpenForConnection(Source, Boxes, nullptr, tcp);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(opened->isVisible());
    EXPECT_EQ(opened->edtAddr1->Text(), "93.184.216.34");
    EXPECT_EQ(opened->edtPort1->text(), "443");
    EXPECT_EQ(opened->edtAddr2->Text(), "192.168.1.7");
    EXPECT_EQ(opened->edtPort2->text(), "51000");
    EXPECT_EQ(opened->cbbProtocol->currentText(), "TCP");
    EXPECT_EQ(opened->WindowState(), TWindowState::Capturing);

    // Closing frees the window and closes its captures once.
    opened->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(opened.isNull());
    EXPECT_EQ(Source.Opened.back()->Closes, 1);

    const TCaptureEndpoints udp = CaptureEndpointsOf(snapshot, {false, 0});
    ASSERT_TRUE(Form->StartForConnection(udp));
    EXPECT_EQ(Form->edtAddr1->Text(), "127.0.0.53");
    EXPECT_EQ(Form->edtPort1->text(), "53");
    EXPECT_EQ(Form->edtAddr2->Text(), "0.0.0.0");
    EXPECT_EQ(Form->edtPort2->text(), "0");
    EXPECT_EQ(Form->cbbProtocol->currentText(), "UDP");

    QPointer<TCaptureData_F> empty = TCaptureData_F::OpenEmpty(Source, Boxes, nullptr);
    EXPECT_EQ(empty->WindowState(), TWindowState::Idle);
    EXPECT_TRUE(empty->isVisible());
    delete empty.data();
}

TEST_F(CaptureDataForm, ClosingWhileCapturingStopsWatchingBeforeTheCapturesClose) {
    Source.Addresses = {"10.0.0.1", "10.0.0.2"};
    Form->show();
    Form->btnStartClick();
    auto first = Source.Opened.at(0);
    first->Push(MakeUdpPacket(1, 2, "late"));  // a notification still waiting
    Form->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(Form.isNull());
    QCoreApplication::processEvents();  // nothing may reach the freed window now
    for (const auto& state : Source.Opened) EXPECT_EQ(state->Closes, 1);
    EXPECT_EQ(first->Reads, 0);
}

}  // namespace
}  // namespace tarnwick
