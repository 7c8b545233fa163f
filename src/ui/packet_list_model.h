// grdDataList's rows, read from the capture session: model row m is list row
// m (the titles are the view's header); the last model row is always the
// empty row that takes the next packet.
//
// The session's list changes at once; the views hear of it when Flush runs,
// which the window does at most once per frame. Until then the model shows
// the rows as last announced.
#pragma once

#include <QAbstractTableModel>

namespace tarnwick {

class TCaptureSession;

class TPacketListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TPacketListModel(TCaptureSession& session, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Tells the views what changed in the list since the last call: one
    // insertion of the rows appended, or one reset after the list started
    // afresh. False when nothing changed.
    bool Flush();

private:
    TCaptureSession& Session_;
    int ShownRows_ = 0;  // packet rows the views know
};

}  // namespace tarnwick
