// The bus monitor's rows: recorded frames, filtered by ID, never more than the recorder's ring holds.
//
// Thread rules: GUI thread only.
#pragma once

#include <QAbstractTableModel>
#include <deque>
#include <vector>

#include "link/BusRecorder.h"

class CBusFrameModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum EColumn { TimeColumn, RateColumn, DirectionColumn, BytesColumn, MeaningColumn, ColumnCount };

    explicit CBusFrameModel(std::size_t capacity, QObject* parent = nullptr);

    // Appends the frames that pass the filter, dropping the oldest rows beyond the capacity.
    void Append(const std::vector<CBusFrame>& frames);
    void Clear();
    // -1 shows every ID; otherwise frames of exchanges with that ID (asked or answering).
    void SetIdFilter(int id) { m_nIdFilter = id; }
    int IdFilter() const { return m_nIdFilter; }
    bool Passes(const CBusFrame& frame) const;
    // The byte order of 16-bit register values, for the meanings.
    void SetHighByteFirst(bool highByteFirst) { m_bHighByteFirst = highByteFirst; }
    // The rows as trace lines: time, direction, bytes, meaning.
    QString RowText(int row) const;
    // The line rate of a row's frame, 0 when unknown.
    uint32_t RowRate(int row) const;
    // The trace's line for a change of rate before the row (its time and rate).
    QString RateChangeText(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const std::size_t m_nCapacity;
    std::deque<CBusFrame> m_frames;
    int m_nIdFilter = -1;
    bool m_bHighByteFirst = true;
};
