// "Traffic monitor": every frame on the serial line and the TCP connection as
// it happens, with time of day, gap, direction, link, bytes and a decoded
// summary; pause, clear, filter, CSV export and a capture file for Wireshark.
// The list keeps the newest MaxFrames frames, each as its bytes (in an
// allocation of their own size), its time and a few flags; the summary is
// decoded again whenever it is shown, filtered or exported.
#pragma once

#include "monitor/traffic_decode.h"
#include "monitor/traffic_frame.h"

#include <QAbstractTableModel>
#include <QList>
#include <QSortFilterProxyModel>
#include <QTimer>
#include <QWidget>
#include <array>
#include <deque>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace qvx {

class TrafficTap;

struct TrafficRow {
    TrafficFrame frame;
    qint64 gapUsec = -1; // since the frame before, -1 for the first
    qint16 unit = -1;
    bool error = false;
    // A reply that repeats the request before it byte for byte (the decoder
    // needs only this of the request).
    bool echo = false;

    // A row for frame that holds its bytes in an allocation of their exact
    // size (a read leaves a buffer of many kilobytes behind a few bytes).
    static TrafficRow compact(const TrafficFrame &frame);
    FrameSummary decode() const;
    QString summary() const { return decode().text; }
};

class TrafficModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Time, Gap, Dir, Link, Unit, Bytes, Summary, ColumnCount };
    static constexpr qsizetype MaxFrames = 100000;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void append(std::deque<TrafficRow> &rows);
    void clear();
    const TrafficRow &row(int r) const { return m_rows.at(static_cast<size_t>(r)); }
    QString text(int r, int column) const;
    // The bytes the list holds: rows and frame bytes with their allocations.
    qsizetype bytesHeld() const;

private:
    std::deque<TrafficRow> m_rows;
};

class TrafficFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    void setText(const QString &text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    QString m_text;
};

class TrafficMonitorWindow : public QWidget {
    Q_OBJECT
public:
    explicit TrafficMonitorWindow(TrafficTap &tap, QWidget *parent = nullptr);

    TrafficModel &model() { return m_model; }
    QTableView *view() const { return m_view; }
    // Frames seen since the last Clear, held ones included.
    qint64 framesSeen() const { return m_seen; }
    // Takes frames as the tap delivers them (also used by the benchmark).
    void addFrames(const QList<TrafficFrame> &frames);
    // Moves frames waiting for the next display update into the list now.
    void showPending();

    // The rows the list shows (the filter applied), as CSV and as capture.
    QByteArray csvText() const;
    QByteArray captureBytes() const;

public slots:
    void exportCsv();
    void saveCapture();

private:
    void setPaused(bool paused);
    void setFilterText(const QString &text);
    void setColumnWidths();
    void clearList();
    void updateCount();
    QList<int> shownRows() const;

    TrafficTap &m_tap;
    TrafficModel m_model;
    TrafficFilter m_filter;
    QTableView *m_view;
    QPushButton *m_pause;
    QLineEdit *m_filterEdit;
    QLabel *m_count;
    QTimer m_update;
    std::deque<TrafficRow> m_incoming; // decoded, not yet in the list (updates and pause)
    bool m_paused = false;
    qint64 m_seen = 0;
    qint64 m_lastUsec = 0;
    std::array<QByteArray, 3> m_lastRequest; // per link, for the echo check
    QString m_lastFolder;
};

} // namespace qvx
