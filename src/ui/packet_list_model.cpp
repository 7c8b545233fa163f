#include "ui/packet_list_model.h"

#include <string_view>

#include "capture/capture_session.h"
#include "capture/packet_dump.h"

namespace tarnwick {

TPacketListModel::TPacketListModel(TCaptureSession& session, QObject* parent)
    : QAbstractTableModel(parent), Session_(session) {}

int TPacketListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ShownRows_ + 1; }

int TPacketListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(kPacketListColumns);
}

QVariant TPacketListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    if (index.row() >= ShownRows_) return QString();
    const TPacketRecord* record = Session_.AnnouncedRecord(static_cast<size_t>(index.row()));
    if (record == nullptr) return QString();
    // Texts are bytes; the Data cell shows each byte as one character.
    return QString::fromLatin1(record->Cell(static_cast<size_t>(index.column())));
}

QVariant TPacketListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= static_cast<int>(kPacketListColumns))
        return {};
    const std::string_view title = kPacketListHeaders[static_cast<size_t>(section)];
    return QString::fromLatin1(title.data(), static_cast<qsizetype>(title.size()));
}

bool TPacketListModel::Flush() {
    if (!Session_.HasListChange()) return false;
    const TListChange change = Session_.TakeListChange();
    const int rows = static_cast<int>(change.First + change.Count);
    if (change.Reset) {
        beginResetModel();
        ShownRows_ = rows;
        endResetModel();
        return true;
    }
    beginInsertRows({}, ShownRows_, rows - 1);
    ShownRows_ = rows;
    endInsertRows();
    return true;
}

}  // namespace tarnwick
