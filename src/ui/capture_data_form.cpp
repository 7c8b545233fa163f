#include "ui/capture_data_form.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

#include <initializer_list>
#include <string>
#include <utility>

#include "capture/packet_dump.h"
#include "capture/packet_parser.h"
#include "common/inet_address.h"
#include "platform/record_file.h"
#include "ui/app_title.h"
#include "ui/capture_buttons.h"
#include "ui/connection_grid.h"
#include "ui/form_style.h"
#include "ui/ip_address_edit.h"
#include "ui/message_boxes.h"
#include "ui/packet_list_model.h"

namespace tarnwick {

namespace {

const QColor kDataGreen(0x00, 0xFF, 0x00);
constexpr int kDefaultColWidth = 96;
constexpr int kTextInset = 3;

const char* const kProtocolItems[] = {"",   "IP", "ICMP", "IGMP", "GGP", "TCP",      "PUP",
                                      "UDP", "IDP", "NP",  "RAW",  "MAX", kIcmp6Name};

// grdDataListDrawCell for the packet rows and the empty row: black, the text
// in green three pixels in from the top left, selected or not.
class TPacketCellDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        painter->save();
        painter->setClipRect(option.rect);
        painter->fillRect(option.rect, Qt::black);
        painter->setPen(kDataGreen);
        painter->setFont(option.font);
        painter->drawText(option.rect.adjusted(kTextInset, kTextInset, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
    }
};

QPlainTextEdit* DumpMemo(QWidget* parent, const char* name, const QRect& place, const QFont& font) {
    auto* memo = new QPlainTextEdit(parent);
    memo->setObjectName(QString::fromLatin1(name));
    memo->setGeometry(place);
    memo->setFont(font);
    memo->setReadOnly(true);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette colours = memo->palette();
    colours.setColor(QPalette::Base, Qt::black);
    colours.setColor(QPalette::Text, Qt::white);
    memo->setPalette(colours);
    return memo;
}

}  // namespace

TCaptureData_F::TCaptureData_F(TPacketSource& source, TMessageBoxes& boxes, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      Session_(source),
      Boxes_(boxes) {
    setObjectName(QStringLiteral("CaptureData_F"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::ApplicationModal);
    setWindowTitle(QStringLiteral("Data Capture"));
    setFixedSize(kClientWidth, kClientHeight);
    setFont(FormFont());
    ApplyFormColour(*this);

    btnStart = CaptureButton(this, "btnStart", TCaptureGlyph::Start, QColor(0x00, 0x90, 0x00), 9);
    btnPause = CaptureButton(this, "btnPause", TCaptureGlyph::Pause, QColor(0x20, 0x40, 0xA0), 49);
    btnPause->setCheckable(true);
    btnStop = CaptureButton(this, "btnStop", TCaptureGlyph::Stop, QColor(0xC0, 0x00, 0x00), 89);
    btnStart->setToolTip(QStringLiteral("Start"));
    btnPause->setToolTip(QStringLiteral("Pause"));
    btnStop->setToolTip(QStringLiteral("Stop"));

    auto whiteLabel = [this](const char* name, const char* text) {
        auto* label = new QLabel(QString::fromLatin1(text), this);
        label->setObjectName(QString::fromLatin1(name));
        QPalette labelColours = label->palette();
        labelColours.setColor(QPalette::Active, QPalette::WindowText, Qt::white);
        labelColours.setColor(QPalette::Inactive, QPalette::WindowText, Qt::white);
        labelColours.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0xB0, 0xC0, 0xCC));
        label->setPalette(labelColours);
        return label;
    };
    auto makeLabel = [&whiteLabel](const char* name, const char* text, int left, int top) {
        QLabel* label = whiteLabel(name, text);
        label->adjustSize();
        label->move(left, top + (23 - label->height()) / 2);
        return label;
    };
    Label1 = makeLabel("Label1", "Addr1:", 125, 7);
    edtAddr1 = new TIPAddressEdit(this);
    edtAddr1->setObjectName(QStringLiteral("edtAddr1"));
    edtAddr1->setGeometry(163, 7, 108, 23);
    Label2 = makeLabel("Label2", "Addr2:", 278, 7);
    edtAddr2 = new TIPAddressEdit(this);
    edtAddr2->setObjectName(QStringLiteral("edtAddr2"));
    edtAddr2->setGeometry(316, 7, 108, 23);
    Label3 = makeLabel("Label3", "Port1:", 428, 7);
    edtPort1 = new QLineEdit(QStringLiteral("0"), this);
    edtPort1->setObjectName(QStringLiteral("edtPort1"));
    edtPort1->setGeometry(464, 7, 36, 23);
    Label4 = makeLabel("Label4", "Port2:", 504, 6);
    edtPort2 = new QLineEdit(QStringLiteral("0"), this);
    edtPort2->setObjectName(QStringLiteral("edtPort2"));
    edtPort2->setGeometry(540, 6, 36, 23);
    Label5 = makeLabel("Label5", "Protocol:", 582, 7);
    cbbProtocol = new QComboBox(this);
    cbbProtocol->setObjectName(QStringLiteral("cbbProtocol"));
    cbbProtocol->setEditable(false);
    for (const char* item : kProtocolItems) cbbProtocol->addItem(QString::fromLatin1(item));
    cbbProtocol->setCurrentIndex(0);
    cbbProtocol->setGeometry(633, 6, 74, 23);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);  // lowered outer and inner bevel
    Panel1->setLineWidth(2);
    Panel1->setGeometry(6, 41, 700, 283);
    auto* panelLayout = new QHBoxLayout(Panel1);
    panelLayout->setContentsMargins(2, 2, 2, 2);

    Model_ = new TPacketListModel(Session_, this);
    grdDataList = new QTableView(Panel1);
    grdDataList->setObjectName(QStringLiteral("grdDataList"));
    grdDataList->setHorizontalHeader(new TGridHeaderView(grdDataList));
    grdDataList->setItemDelegate(new TPacketCellDelegate(grdDataList));
    grdDataList->setModel(Model_);
    grdDataList->setFont(FormFont());
    grdDataList->verticalHeader()->hide();
    grdDataList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grdDataList->verticalHeader()->setMinimumSectionSize(kGridRowHeight);
    grdDataList->verticalHeader()->setDefaultSectionSize(kGridRowHeight);
    grdDataList->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grdDataList->horizontalHeader()->setDefaultSectionSize(kDefaultColWidth);
    for (int column = 0; column < static_cast<int>(kPacketListColumns); ++column)
        grdDataList->horizontalHeader()->resizeSection(column, kDefaultColWidth);
    grdDataList->setShowGrid(false);
    grdDataList->setFrameShape(QFrame::NoFrame);
    grdDataList->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdDataList->setSelectionMode(QAbstractItemView::SingleSelection);
    grdDataList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdDataList->setWordWrap(false);
    grdDataList->setCornerButtonEnabled(false);
    grdDataList->setAutoFillBackground(true);
    QPalette gridColours = grdDataList->palette();
    gridColours.setColor(QPalette::Base, Qt::black);
    gridColours.setColor(QPalette::Window, Qt::black);
    gridColours.setColor(QPalette::Text, Qt::white);
    grdDataList->setPalette(gridColours);
    panelLayout->addWidget(grdDataList);

    QFont memo1Font = PixelFont({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("Monospace")}, 13);
    memo1Font.setStyleHint(QFont::TypeWriter);
    memo1Font.setFixedPitch(true);
    Memo1 = DumpMemo(this, "Memo1", QRect(6, 324, 369, 153), memo1Font);
    Memo2 = DumpMemo(this, "Memo2", QRect(375, 324, 330, 153),
                     PixelFont({QStringLiteral("MS Sans Serif"), QStringLiteral("Sans Serif")}, 13));

    btnRecord = new QPushButton(QStringLiteral("&Record..."), this);
    btnRecord->setObjectName(QStringLiteral("btnRecord"));
    btnRecord->setGeometry(6, 484, 90, 24);
    lblRecording = whiteLabel("lblRecording", "");
    lblRecording->setGeometry(104, 484, 601, 24);
    AskRecordFile = [](QWidget* parent) -> std::optional<QString> {
        QFileDialog dialog(parent, QStringLiteral("Record to"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilters({QStringLiteral("pcapng captures (*.pcapng)"), QStringLiteral("All files (*)")});
        dialog.setDefaultSuffix(QStringLiteral("pcapng"));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
        return dialog.selectedFiles().front();
    };

    FlushTimer_ = new QTimer(this);
    FlushTimer_->setSingleShot(true);
    FlushTimer_->setInterval(kFlushIntervalMs);
    connect(FlushTimer_, &QTimer::timeout, this, &TCaptureData_F::FlushList);
    Session_.ReadInBackground();
    // A batch waits: it is taken with the next update of the view, at most
    // one frame later. Watching stops until then, so that the descriptor,
    // readable until the batch is taken, does not wake the window meanwhile.
    BatchWatcher_ = new QSocketNotifier(Session_.BatchFd(), QSocketNotifier::Read, this);
    connect(BatchWatcher_, &QSocketNotifier::activated, this, [this] {
        BatchWatcher_->setEnabled(false);
        if (!FlushTimer_->isActive()) FlushTimer_->start();
    });

    connect(btnStart, &QToolButton::clicked, this, &TCaptureData_F::btnStartClick);
    connect(btnPause, &QToolButton::clicked, this, &TCaptureData_F::btnPauseClick);
    connect(btnStop, &QToolButton::clicked, this, &TCaptureData_F::btnStopClick);
    connect(btnRecord, &QPushButton::clicked, this, &TCaptureData_F::btnRecordClick);
    connect(grdDataList, &QTableView::clicked, this, &TCaptureData_F::grdDataListClick);
    // Moving the selection with the keyboard shows that packet too; rows
    // shifting under an update do not.
    connect(grdDataList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!Flushing_ && current.isValid()) grdDataListClick();
            });

    ShowState();
}

TCaptureData_F::~TCaptureData_F() {
    // Nothing watches the session's descriptor once it closes with the session.
    BatchWatcher_->setEnabled(false);
}

TCaptureData_F* TCaptureData_F::OpenEmpty(TPacketSource& source, TMessageBoxes& boxes, QWidget* owner,
                                          std::shared_ptr<const TSocketOwnerFeed> owners) {
    auto* form = new TCaptureData_F(source, boxes, owner);
    form->SetOwners(std::move(owners));
    form->show();
    return form;
}

TCaptureData_F* TCaptureData_F::OpenForConnection(TPacketSource& source, TMessageBoxes& boxes, QWidget* owner,
                                                  const TCaptureEndpoints& endpoints,
                                                  std::shared_ptr<const TSocketOwnerFeed> owners) {
    auto* form = new TCaptureData_F(source, boxes, owner);
    form->SetOwners(std::move(owners));
    if (!form->StartForConnection(endpoints)) {
        delete form;
        return nullptr;
    }
    form->show();
    return form;
}

TCaptureData_F* TCaptureData_F::OpenForProgram(TPacketSource& source, TMessageBoxes& boxes, QWidget* owner,
                                               const TProgramSelector& program,
                                               std::shared_ptr<const TSocketOwnerFeed> owners) {
    auto* form = new TCaptureData_F(source, boxes, owner);
    form->SetOwners(std::move(owners));
    form->SetProgram(program);
    form->btnStartClick();
    if (form->Session_.State() == TCaptureState::Idle) {
        delete form;
        return nullptr;
    }
    form->show();
    return form;
}

void TCaptureData_F::SetProgram(std::optional<TProgramSelector> program) {
    Program_ = std::move(program);
    setWindowTitle(Program_ ? QStringLiteral("Data Capture - Program: ") + QString::fromStdString(Program_->Text())
                            : QStringLiteral("Data Capture"));
}

bool TCaptureData_F::StartForConnection(const TCaptureEndpoints& endpoints) {
    if (endpoints.V6) {
        edtAddr1->SetText(QString::fromStdString(Ip6Text(endpoints.Addr1V6)));
        edtAddr2->SetText(QString::fromStdString(Ip6Text(endpoints.Addr2V6)));
    } else {
        edtAddr1->SetValue(endpoints.Addr1);
        edtAddr2->SetValue(endpoints.Addr2);
    }
    edtPort1->setText(QString::number(endpoints.Port1));
    edtPort2->setText(QString::number(endpoints.Port2));
    const int item = cbbProtocol->findText(QString::fromStdString(endpoints.Protocol));
    if (item >= 0) cbbProtocol->setCurrentIndex(item);
    btnStartClick();
    return Session_.State() != TCaptureState::Idle;
}

TCaptureFilter TCaptureData_F::ControlFilter() const {
    TCaptureFilter filter;
    filter.Protocol = cbbProtocol->currentText().toStdString();
    filter.Addr1 = edtAddr1->Text().toStdString();
    filter.Addr2 = edtAddr2->Text().toStdString();
    filter.Port1 = edtPort1->text().toStdString();
    filter.Port2 = edtPort2->text().toStdString();
    filter.Program = Program_;
    return filter;
}

void TCaptureData_F::ShowState() {
    const TCaptureSession::TRecordingStatus recording = Session_.Recording();
    const TCaptureControls controls = CaptureControlsIn(Session_.State(), recording.Running);
    btnRecord->setEnabled(controls.Record);
    lblRecording->setText(QString::fromLocal8Bit(TCaptureSession::RecordingText(recording)));
    btnStart->setEnabled(controls.Start);
    btnPause->setEnabled(controls.Pause);
    btnPause->setChecked(controls.PauseDown);
    btnStop->setEnabled(controls.Stop);
    for (QWidget* control : std::initializer_list<QWidget*>{Label1, Label2, Label3, Label4, Label5, edtAddr1, edtAddr2,
                                                             edtPort1, edtPort2, cbbProtocol})
        control->setEnabled(controls.Filter);
}

void TCaptureData_F::btnStartClick() {
    const TStatus started = Session_.Start(ControlFilter());
    ShowState();
    FlushList();  // the emptied list is on view before any message
    if (!started) ShowFailures({started.Failure()});
}

void TCaptureData_F::btnPauseClick() {
    if (Session_.State() == TCaptureState::Paused)
        Session_.Resume();
    else
        Session_.Pause();
    ShowState();  // also undoes the button's own toggle when nothing was paused
}

void TCaptureData_F::btnStopClick() {
    Session_.Stop();
    FlushList();  // the packets read before the stop are on view
    ShowState();
}

void TCaptureData_F::btnRecordClick() {
    if (const std::optional<QString> chosen = AskRecordFile(this)) RecordTo(*chosen);
}

bool TCaptureData_F::RecordTo(const QString& path) {
    TResult<std::unique_ptr<TRecordFile>> file = CreateRecordFile(QFile::encodeName(path).toStdString());
    TStatus started = file ? Session_.StartRecording(std::move(file).Value()) : TStatus(file.Failure());
    ShowState();
    if (!started) ShowFailures({started.Failure()});
    return started.Ok();
}

void TCaptureData_F::FlushList() {
    FlushTimer_->stop();
    Session_.TakeWaitingPackets();
    BatchWatcher_->setEnabled(true);
    Flushing_ = true;
    const bool changed = Model_->Flush();
    Flushing_ = false;
    if (changed) {
        ++ViewUpdates_;
        grdDataList->scrollToBottom();
    }
    // While a box is open, the box shows the failures after it when it closes.
    if (!ShowingFailures_) ShowFailures(Session_.TakeFailures());
}

void TCaptureData_F::ShowFailures(std::vector<TFailure> failures) {
    ShowingFailures_ = true;
    while (!failures.empty()) {
        ShowState();  // a capture that failed as a whole has stopped
        QStringList texts;
        for (const TFailure& failure : failures) texts << QString::fromLocal8Bit(failure.Text());
        Boxes_.Show(isVisible() ? this : parentWidget(), texts.join(QLatin1Char('\n')), kApplicationTitle,
                    QMessageBox::Critical);
        failures = Session_.TakeFailures();  // those that came while the box was open
    }
    ShowingFailures_ = false;
}

void TCaptureData_F::grdDataListClick() {
    // The dumps follow the list at once; the rows on view may lag behind a
    // fresh start until the next update, and then name no packet.
    if (Session_.HasUnannouncedClear()) FlushList();
    std::string hex;
    std::string text;
    if (const QModelIndex current = grdDataList->currentIndex(); current.isValid()) {
        hex = Session_.HexDump(static_cast<size_t>(current.row()));
        text = Session_.TextDump(static_cast<size_t>(current.row()));
    }
    Memo1->setPlainText(QString::fromLatin1(hex));
    Memo2->setPlainText(QString::fromLatin1(text));
}

void TCaptureData_F::showEvent(QShowEvent* event) {
    // Centred on the screen when it first opens.
    if (!Centred_) {
        Centred_ = true;
        CentreOnScreen(*this);
    }
    QWidget::showEvent(event);
}

}  // namespace tarnwick
