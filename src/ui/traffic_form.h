// The traffic window (Tools -> Traffic Graph): a chart of the total send and
// receive rates of the last ten minutes, one point per refresh, over the
// programs ranked by their current rate. Selecting a program shades its share
// of the chart. The window only draws: the summary and the points are
// computed by the refresh (see monitor/traffic_monitor.h).
#pragma once

#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "monitor/traffic_monitor.h"

class QTableWidget;

namespace tarnwick {

class TTrafficChart final : public QWidget {
    Q_OBJECT
public:
    explicit TTrafficChart(QWidget* parent = nullptr);

    void SetPoints(std::vector<std::shared_ptr<const TTrafficPoint>> points);
    // The program whose share is shaded; empty for none.
    void SetHighlight(const std::string& program);
    const std::string& Highlight() const { return Highlight_; }
    // The top of the rate scale, in bytes a second.
    double ScaleTop() const;

    QSize sizeHint() const override { return {560, 220}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<std::shared_ptr<const TTrafficPoint>> Points_;
    std::string Highlight_;
};

class TTraffic_F final : public QWidget {
    Q_OBJECT
public:
    explicit TTraffic_F(QWidget* parent = nullptr);

    // The results of the last refresh.
    void ShowTraffic(std::shared_ptr<const TTrafficSummary> summary,
                     std::vector<std::shared_ptr<const TTrafficPoint>> points);

    TTrafficChart* Chart = nullptr;
    QTableWidget* lsvPrograms = nullptr;

private:
    void SelectionChanged();
    std::shared_ptr<const TTrafficSummary> Summary_;
};

}  // namespace tarnwick
