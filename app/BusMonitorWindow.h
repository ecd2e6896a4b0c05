// The bus monitor: a non-modal window listing every frame on the bus as it happens.
//
// Thread rules: GUI thread only. It never waits for the bus: a timer copies new frames out of the recorder,
// which the exchanges of every thread fill under its own short lock.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>

class CBusFrameModel;
class CBusRecorder;
class QCheckBox;
class QHBoxLayout;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;

class CBusMonitorWindow : public QWidget {
    Q_OBJECT
public:
    // highByteFirst tells the byte order of register values at the moment they are shown.
    CBusMonitorWindow(CBusRecorder& recorder, std::function<bool()> highByteFirst, QWidget* parent = nullptr);

    // Takes the frames recorded since the last call (nothing while paused). The timer calls it too.
    void Refresh();
    void SetPaused(bool paused);
    bool IsPaused() const;
    // Forgets the rows shown; the recording itself is kept.
    void ClearRows();
    // Shows only frames of one ID (text "" for all); the rows are rebuilt from what the recorder still holds.
    void SetIdFilter(const QString& text);
    void SetFollow(bool follow);
    // Writes the rows shown as text lines, with the trace's line wherever the line rate changes, replacing
    // the whole file at once. "Cannot save PATH: cause" (the system's reason) when it cannot, else empty.
    QString SaveTo(const QString& path) const;

    int RowCount() const;
    QString RowText(int row) const;
    QTableView* View() const { return m_pView; }

private:
    // The button row above the frames, and the frames' view, in the order the window lays them out.
    QHBoxLayout* CreateBar();
    void CreateView();
    // Copies what the recorder holds from m_nNextSeq on into the rows, paused or not.
    void TakeFrames();
    void OnSave();
    // Reads the filter field; a text that is no ID 0..254 turns the field red and shows everything.
    void OnFilterEdited();

    CBusRecorder& m_recorder;
    std::function<bool()> m_fnHighByteFirst;
    CBusFrameModel* m_pModel = nullptr;
    QTableView* m_pView = nullptr;
    QPushButton* m_btnPause = nullptr;
    QPushButton* m_btnClear = nullptr;
    QLineEdit* m_editId = nullptr;
    QCheckBox* m_checkFollow = nullptr;
    QPushButton* m_btnSave = nullptr;
    QTimer* m_pTimer = nullptr;
    uint64_t m_nNextSeq = 0;   // the first frame not yet taken
    uint64_t m_nClearSeq = 0;  // frames before this were cleared away
};
