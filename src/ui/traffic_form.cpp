#include "ui/traffic_form.h"

#include <QHeaderView>
#include <QPainter>
#include <QPainterPath>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "monitor/traffic_texts.h"

namespace tarnwick {

namespace {

const QColor kSendColour(0xE0, 0x60, 0x20);
const QColor kReceiveColour(0x20, 0x80, 0xE0);
constexpr int kMargin = 8;
constexpr int kLegendHeight = 16;

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

TTrafficChart::TTrafficChart(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TrafficChart"));
    setMinimumHeight(120);
}

void TTrafficChart::SetPoints(std::vector<std::shared_ptr<const TTrafficPoint>> points) {
    Points_ = std::move(points);
    update();
}

void TTrafficChart::SetHighlight(const std::string& program) {
    Highlight_ = program;
    update();
}

double TTrafficChart::ScaleTop() const {
    double top = 1024;  // an idle network still gets a readable scale
    for (const auto& point : Points_) top = std::max({top, point->SendRate, point->ReceiveRate});
    return top * 1.1;
}

void TTrafficChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const QRectF area = QRectF(rect()).adjusted(kMargin, kMargin + kLegendHeight, -kMargin, -kMargin);
    painter.setPen(QColor(0x40, 0x40, 0x40));
    for (int k = 0; k <= 4; ++k) {
        const double y = area.top() + area.height() * k / 4;
        painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
    }
    const double top = ScaleTop();
    painter.setPen(Qt::white);
    painter.drawText(QRectF(kMargin, 0, width() - 2 * kMargin, kLegendHeight + kMargin), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("%1 max, last %2 minutes")
                         .arg(Text(ByteRateText(top)))
                         .arg(TTrafficMonitor::kHistorySpan.count()));
    if (Points_.empty()) return;

    // Time runs left to right, the newest point at the right edge.
    const auto newest = Points_.back()->At;
    const double span = std::chrono::duration<double>(TTrafficMonitor::kHistorySpan).count();
    const auto x = [&](const TTrafficPoint& point) {
        const double age = std::chrono::duration<double>(newest - point.At).count();
        return area.right() - area.width() * std::min(age, span) / span;
    };
    const auto y = [&](double rate) { return area.bottom() - area.height() * std::clamp(rate / top, 0.0, 1.0); };
    const auto line = [&](auto rateOf) {
        QPainterPath path;
        for (size_t i = 0; i < Points_.size(); ++i) {
            const QPointF at(x(*Points_[i]), y(rateOf(*Points_[i])));
            if (i == 0) path.moveTo(at); else path.lineTo(at);
        }
        return path;
    };
    painter.setRenderHint(QPainter::Antialiasing);
    if (!Highlight_.empty()) {
        // The program's share: its rates filled down to the axis, under the totals.
        for (const auto& [colour, send] : {std::pair{kReceiveColour, false}, std::pair{kSendColour, true}}) {
            QPainterPath share = line([&, send = send](const TTrafficPoint& p) {
                const TTrafficPoint::TShare s = p.ShareOf(Highlight_);
                return send ? s.SendRate : s.ReceiveRate;
            });
            share.lineTo(x(*Points_.back()), area.bottom());
            share.lineTo(x(*Points_.front()), area.bottom());
            share.closeSubpath();
            QColor fill = colour;
            fill.setAlpha(110);
            painter.fillPath(share, fill);
        }
    }
    painter.setPen(QPen(kReceiveColour, 2));
    painter.drawPath(line([](const TTrafficPoint& p) { return p.ReceiveRate; }));
    painter.setPen(QPen(kSendColour, 2));
    painter.drawPath(line([](const TTrafficPoint& p) { return p.SendRate; }));
    painter.drawText(QRectF(kMargin, 0, width() - 2 * kMargin, kLegendHeight + kMargin), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("send"));
    painter.setPen(kReceiveColour);
    painter.drawText(QRectF(kMargin, 0, width() - 2 * kMargin - 40, kLegendHeight + kMargin),
                     Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("receive"));
}

TTraffic_F::TTraffic_F(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("Traffic_F"));
    setWindowTitle(QStringLiteral("Traffic Graph"));
    resize(600, 480);
    auto* layout = new QVBoxLayout(this);
    Chart = new TTrafficChart(this);
    layout->addWidget(Chart, 1);
    lsvPrograms = new QTableWidget(0, 6, this);
    lsvPrograms->setObjectName(QStringLiteral("lsvPrograms"));
    lsvPrograms->setHorizontalHeaderLabels({QStringLiteral("Process"), QStringLiteral("Connections"),
                                            QStringLiteral("Send Rate"), QStringLiteral("Receive Rate"),
                                            QStringLiteral("Sent"), QStringLiteral("Received")});
    lsvPrograms->verticalHeader()->hide();
    lsvPrograms->horizontalHeader()->setStretchLastSection(true);
    lsvPrograms->setSelectionBehavior(QAbstractItemView::SelectRows);
    lsvPrograms->setSelectionMode(QAbstractItemView::SingleSelection);
    lsvPrograms->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(lsvPrograms, 1);
    connect(lsvPrograms, &QTableWidget::itemSelectionChanged, this, &TTraffic_F::SelectionChanged);
}

void TTraffic_F::ShowTraffic(std::shared_ptr<const TTrafficSummary> summary,
                             std::vector<std::shared_ptr<const TTrafficPoint>> points) {
    Summary_ = std::move(summary);
    Chart->SetPoints(std::move(points));
    // The selection follows the program, wherever its rank moved it.
    const std::string selected = Chart->Highlight();
    const QSignalBlocker blocker(lsvPrograms);
    lsvPrograms->clearSelection();
    const int rows = Summary_ ? static_cast<int>(Summary_->Programs.size()) : 0;
    lsvPrograms->setRowCount(rows);
    for (int r = 0; r < rows; ++r) {
        const TProgramTraffic& p = Summary_->Programs[static_cast<size_t>(r)];
        const QString cells[] = {Text(p.Name),
                                 QString::number(p.Connections),
                                 Summary_->RatesKnown ? Text(ByteRateText(p.SendRate)) : QStringLiteral("-"),
                                 Summary_->RatesKnown ? Text(ByteRateText(p.ReceiveRate)) : QStringLiteral("-"),
                                 Text(ByteSizeText(p.BytesSent)),
                                 Text(ByteSizeText(p.BytesReceived))};
        for (int c = 0; c < 6; ++c) {
            QTableWidgetItem* item = lsvPrograms->item(r, c);
            if (!item) lsvPrograms->setItem(r, c, item = new QTableWidgetItem);
            item->setText(cells[c]);
        }
        if (!selected.empty() && p.Name == selected) lsvPrograms->selectRow(r);
    }
}

void TTraffic_F::SelectionChanged() {
    const QList<QTableWidgetItem*> items = lsvPrograms->selectedItems();
    const int row = items.isEmpty() ? -1 : items.front()->row();
    const bool valid = Summary_ && row >= 0 && row < static_cast<int>(Summary_->Programs.size());
    Chart->SetHighlight(valid ? Summary_->Programs[static_cast<size_t>(row)].Name : std::string());
}

}  // namespace tarnwick
