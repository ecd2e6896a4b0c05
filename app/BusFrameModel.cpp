// Meanings are worked out only for the rows on screen, so a burst of frames costs a copy each, nothing more.
#include "app/BusFrameModel.h"

#include <QBrush>
#include <QColor>
#include <algorithm>

#include "link/FrameDecoder.h"

CBusFrameModel::CBusFrameModel(std::size_t capacity, QObject* parent)
    : QAbstractTableModel(parent), m_nCapacity(capacity < 1 ? 1 : capacity) {}

bool CBusFrameModel::Passes(const CBusFrame& frame) const {
    if (m_nIdFilter < 0) return true;
    if (frame.outcome.askedId == m_nIdFilter) return true;
    return frame.direction == EDirection::Received && frame.count > 2 && frame.bytes[2] == m_nIdFilter;
}

void CBusFrameModel::Append(const std::vector<CBusFrame>& frames) {
    std::vector<const CBusFrame*> passing;
    passing.reserve(frames.size());
    for (const CBusFrame& frame : frames)
        if (Passes(frame)) passing.push_back(&frame);
    if (passing.empty()) return;
    // Only the newest fit when a burst is larger than the whole capacity.
    if (passing.size() > m_nCapacity)
        passing.erase(passing.begin(), passing.end() - static_cast<long>(m_nCapacity));
    const std::size_t overflow =
        m_frames.size() + passing.size() > m_nCapacity ? m_frames.size() + passing.size() - m_nCapacity : 0;
    if (overflow > 0) {
        beginRemoveRows({}, 0, static_cast<int>(overflow) - 1);
        m_frames.erase(m_frames.begin(), m_frames.begin() + static_cast<long>(overflow));
        endRemoveRows();
    }
    const int first = static_cast<int>(m_frames.size());
    beginInsertRows({}, first, first + static_cast<int>(passing.size()) - 1);
    for (const CBusFrame* frame : passing) m_frames.push_back(*frame);
    endInsertRows();
}

void CBusFrameModel::Clear() {
    beginResetModel();
    m_frames.clear();
    m_frames.shrink_to_fit();
    endResetModel();
}

QString CBusFrameModel::RowText(int row) const {
    return QString::fromStdString(TraceLine(m_frames.at(static_cast<std::size_t>(row)), m_bHighByteFirst));
}

uint32_t CBusFrameModel::RowRate(int row) const {
    return m_frames.at(static_cast<std::size_t>(row)).rate;
}

QString CBusFrameModel::RateChangeText(int row) const {
    return QString::fromStdString(RateChangeLine(m_frames.at(static_cast<std::size_t>(row))));
}

int CBusFrameModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_frames.size());
}

int CBusFrameModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CBusFrameModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(m_frames.size())) return {};
    const CBusFrame& frame = m_frames[static_cast<std::size_t>(index.row())];
    if (role == Qt::ForegroundRole) {
        if (!frame.outcome.IsGood()) return QBrush(QColor(0xB0, 0x00, 0x00));
        if (frame.outcome.error != 0) return QBrush(QColor(0xB0, 0x60, 0x00));
        return {};
    }
    // Long frames and meanings are cut at the column's edge; the tip shows them whole.
    if (role == Qt::ToolTipRole && index.column() >= BytesColumn)
        return QString::fromStdString(index.column() == BytesColumn ? FrameHex(frame)
                                                                    : DescribeFrame(frame, m_bHighByteFirst));
    if (role != Qt::DisplayRole) return {};
    switch (index.column()) {
        case TimeColumn:
            return QString::fromStdString(FrameTime(frame));
        case RateColumn:
            return frame.rate != 0 ? QString::number(frame.rate) : QString();
        case DirectionColumn:
            return frame.direction == EDirection::Sent ? QStringLiteral(">") : QStringLiteral("<");
        case BytesColumn: {
            const std::string hex = FrameHex(frame);
            return hex.empty() ? QStringLiteral("--") : QString::fromStdString(hex);
        }
        case MeaningColumn:
            return QString::fromStdString(DescribeFrame(frame, m_bHighByteFirst));
        default:
            return {};
    }
}

QVariant CBusFrameModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const kTitles[ColumnCount] = {"Time (s)", "Rate", "Dir", "Bytes", "Meaning"};
    return section >= 0 && section < ColumnCount ? tr(kTitles[section]) : QVariant();
}
