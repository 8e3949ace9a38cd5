#include "monitor/traffic_monitor_window.h"

#include "monitor/give_back_memory.h"
#include "monitor/pcapng_writer.h"
#include "monitor/traffic_tap.h"
#include "transport/modbus.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

namespace qvx {

// --- the list ----------------------------------------------------------------------

TrafficRow TrafficRow::compact(const TrafficFrame &frame)
{
    TrafficRow row;
    row.frame.usec = frame.usec;
    row.frame.dir = frame.dir;
    row.frame.link = frame.link;
    row.frame.blockCheck = frame.blockCheck;
    row.frame.bytes = QByteArray(frame.bytes.constData(), frame.bytes.size());
    return row;
}

FrameSummary TrafficRow::decode() const
{
    return decodeTrafficFrame(frame, echo ? frame.bytes : QByteArray());
}

qsizetype TrafficModel::bytesHeld() const
{
    // A heap block costs its header and rounds up to 16 bytes.
    auto block = [](qsizetype n) { return (n + 8 + 15) / 16 * 16; };
    qsizetype bytes = qsizetype(m_rows.size()) * qsizetype(sizeof(TrafficRow));
    for (const TrafficRow &r : m_rows)
        if (!r.frame.bytes.isNull())
            bytes += block(16 + r.frame.bytes.capacity() + 1);
    return bytes;
}

int TrafficModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TrafficModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString TrafficModel::text(int r, int column) const
{
    const TrafficRow &row = m_rows.at(static_cast<size_t>(r));
    switch (column) {
    case Time:
        return QDateTime::fromMSecsSinceEpoch(row.frame.usec / 1000).toString(QStringLiteral("HH:mm:ss.zzz"));
    case Gap:
        return row.gapUsec < 0 ? QString() : QString::number(row.gapUsec / 1000.0, 'f', 1);
    case Dir:
        return trafficDirText(row.frame.dir);
    case Link:
        return trafficLinkText(row.frame.link);
    case Unit:
        return row.unit < 0 ? QString() : QString::number(row.unit);
    case Bytes:
        return hexBytes(row.frame.bytes).trimmed();
    case Summary:
        return row.summary();
    default:
        return {};
    }
}

QVariant TrafficModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const TrafficRow &row = m_rows.at(static_cast<size_t>(index.row()));
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return text(index.row(), index.column());
    case Qt::BackgroundRole:
        if (row.error)
            return QBrush(QColor(0xFF, 0xDD, 0xDD));
        return QBrush(row.frame.dir == TrafficDir::Tx ? QColor(0xE6, 0xEE, 0xFF) : QColor(0xE8, 0xF8, 0xE8));
    case Qt::ForegroundRole:
        if (row.error)
            return QBrush(QColor(0xA0, 0x00, 0x00));
        return QBrush(row.frame.dir == TrafficDir::Tx ? QColor(0x00, 0x30, 0x90) : QColor(0x00, 0x60, 0x20));
    default:
        return {};
    }
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return {};
    static const char *const names[] = {"Time", "Gap ms", "Dir", "Link", "Unit", "Bytes", "Summary"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(names[section]) : QString();
}

void TrafficModel::append(std::deque<TrafficRow> &rows)
{
    if (rows.empty())
        return;
    while (static_cast<qsizetype>(rows.size()) > MaxFrames)
        rows.pop_front();
    const qsizetype over = static_cast<qsizetype>(m_rows.size() + rows.size()) - MaxFrames;
    if (over > 0) {
        beginRemoveRows({}, 0, static_cast<int>(over - 1));
        m_rows.erase(m_rows.begin(), m_rows.begin() + over);
        endRemoveRows();
    }
    const int first = static_cast<int>(m_rows.size());
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    for (TrafficRow &r : rows)
        m_rows.push_back(std::move(r));
    endInsertRows();
    rows.clear();
}

void TrafficModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    endResetModel();
}

void TrafficFilter::setText(const QString &text)
{
    m_text = text.trimmed();
    invalidateFilter();
}

bool TrafficFilter::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    if (m_text.isEmpty())
        return true;
    const auto *m = static_cast<const TrafficModel *>(sourceModel());
    const TrafficRow &r = m->row(sourceRow);
    return (r.unit >= 0 && QString::number(r.unit) == m_text) ||
           r.summary().contains(m_text, Qt::CaseInsensitive);
}

// --- the window ----------------------------------------------------------------------

TrafficMonitorWindow::TrafficMonitorWindow(TrafficTap &tap, QWidget *parent)
    : QWidget(parent, Qt::Window), m_tap(tap)
{
    setObjectName(QStringLiteral("TrafficMonitor"));
    setWindowTitle(QStringLiteral("Traffic monitor"));
    resize(980, 560);

    m_pause = new QPushButton(QStringLiteral("Pause"));
    m_pause->setObjectName(QStringLiteral("MonitorPause"));
    m_pause->setCheckable(true);
    auto *clear = new QPushButton(QStringLiteral("Clear"));
    clear->setObjectName(QStringLiteral("MonitorClear"));
    auto *filterLabel = new QLabel(QStringLiteral("Filter:"));
    m_filterEdit = new QLineEdit;
    m_filterEdit->setObjectName(QStringLiteral("MonitorFilter"));
    m_filterEdit->setAccessibleName(QStringLiteral("Filter:"));
    m_filterEdit->setPlaceholderText(QStringLiteral("text in the summary, or a unit"));
    m_filterEdit->setClearButtonEnabled(true);
    filterLabel->setBuddy(m_filterEdit);
    auto *csv = new QPushButton(QStringLiteral("Export CSV..."));
    csv->setObjectName(QStringLiteral("MonitorExportCsv"));
    auto *capture = new QPushButton(QStringLiteral("Save capture..."));
    capture->setObjectName(QStringLiteral("MonitorSaveCapture"));
    m_count = new QLabel;
    m_count->setObjectName(QStringLiteral("MonitorCount"));

    auto *bar = new QHBoxLayout;
    bar->addWidget(m_pause);
    bar->addWidget(clear);
    bar->addWidget(filterLabel);
    bar->addWidget(m_filterEdit, 1);
    bar->addWidget(csv);
    bar->addWidget(capture);

    m_view = new QTableView;
    m_view->setObjectName(QStringLiteral("MonitorList"));
    m_view->setAccessibleName(QStringLiteral("Frames"));
    m_view->setModel(&m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setWordWrap(false);
    m_view->verticalHeader()->setVisible(false);
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    m_view->horizontalHeader()->setStretchLastSection(true);
    setColumnWidths();

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_count);

    connect(&tap, &TrafficTap::frames, this, &TrafficMonitorWindow::addFrames);
    connect(m_pause, &QPushButton::clicked, this, [this](bool on) { guard([&] { setPaused(on); }, this); });
    connect(clear, &QPushButton::clicked, this, [this] { guard([this] { clearList(); }, this); });
    connect(m_filterEdit, &QLineEdit::textChanged, this, &TrafficMonitorWindow::setFilterText);
    connect(csv, &QPushButton::clicked, this, &TrafficMonitorWindow::exportCsv);
    connect(capture, &QPushButton::clicked, this, &TrafficMonitorWindow::saveCapture);
    // The list takes new frames ten times a second rather than one by one, so
    // a busy line costs the window one update per tenth.
    m_update.setInterval(100);
    connect(&m_update, &QTimer::timeout, this, &TrafficMonitorWindow::showPending);
    m_update.start();
    updateCount();
}

void TrafficMonitorWindow::addFrames(const QList<TrafficFrame> &frames)
{
    for (const TrafficFrame &f : frames) {
        TrafficRow row = TrafficRow::compact(f);
        row.gapUsec = m_lastUsec ? f.usec - m_lastUsec : -1;
        m_lastUsec = f.usec;
        QByteArray &last = m_lastRequest.at(static_cast<size_t>(f.link));
        row.echo = f.dir == TrafficDir::Rx && !last.isEmpty() && row.frame.bytes == last;
        const FrameSummary s = row.decode();
        if (f.dir == TrafficDir::Tx)
            last = row.frame.bytes; // shares the row's copy
        row.error = s.error;
        bool ok = false;
        const int unit = s.unit.toInt(&ok);
        row.unit = ok ? static_cast<qint16>(unit) : qint16(-1);
        m_incoming.push_back(std::move(row));
        ++m_seen;
    }
    // Held frames are bounded like the list.
    while (static_cast<qsizetype>(m_incoming.size()) > TrafficModel::MaxFrames)
        m_incoming.pop_front();
}

void TrafficMonitorWindow::showPending()
{
    if (!m_paused && !m_incoming.empty()) {
        // Follow the newest frame only while the operator is at the bottom.
        QScrollBar *bar = m_view->verticalScrollBar();
        const bool atBottom = bar->value() >= bar->maximum() - 1;
        m_model.append(m_incoming);
        if (atBottom)
            m_view->scrollToBottom();
    }
    updateCount();
}

void TrafficMonitorWindow::setPaused(bool paused)
{
    m_paused = paused;
    m_pause->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    m_pause->setAccessibleName(m_pause->text());
    if (!paused)
        showPending();
    updateCount();
}

void TrafficMonitorWindow::clearList()
{
    m_incoming = {};
    m_model.clear();
    m_seen = 0;
    m_lastUsec = 0;
    updateCount();
    giveBackFreedMemory();
}

void TrafficMonitorWindow::updateCount()
{
    QString text = QStringLiteral("%1 frames seen, %2 in the list").arg(m_seen).arg(m_model.rowCount());
    if (m_paused)
        text += QStringLiteral(", paused: %1 waiting").arg(m_incoming.size());
    if (m_count->text() != text)
        m_count->setText(text);
}

void TrafficMonitorWindow::setColumnWidths()
{
    const int widths[] = {96, 60, 34, 40, 40, 300};
    for (int c = 0; c < 6; ++c)
        m_view->setColumnWidth(c, widths[c]);
}

void TrafficMonitorWindow::setFilterText(const QString &text)
{
    // Without a filter the list shows the frames directly: a filter model
    // over 100,000 rows would cost every update the upkeep of its mapping.
    const bool filtering = !text.trimmed().isEmpty();
    m_filter.setText(text);
    if (filtering && !m_filter.sourceModel())
        m_filter.setSourceModel(&m_model);
    QAbstractItemModel *wanted = filtering ? static_cast<QAbstractItemModel *>(&m_filter) : &m_model;
    if (m_view->model() != wanted) {
        m_view->setModel(wanted);
        setColumnWidths();
        if (!filtering)
            m_filter.setSourceModel(nullptr);
        m_view->scrollToBottom();
    }
}

QList<int> TrafficMonitorWindow::shownRows() const
{
    QList<int> rows;
    if (m_view->model() == &m_model) {
        rows.reserve(m_model.rowCount());
        for (int r = 0; r < m_model.rowCount(); ++r)
            rows << r;
        return rows;
    }
    rows.reserve(m_filter.rowCount());
    for (int r = 0; r < m_filter.rowCount(); ++r)
        rows << m_filter.mapToSource(m_filter.index(r, 0)).row();
    return rows;
}

QByteArray TrafficMonitorWindow::csvText() const
{
    QByteArray out = "Date;Time;Gap ms;Dir;Link;Unit;Bytes;Summary\r\n";
    for (int r : shownRows()) {
        QStringList fields;
        fields << QDateTime::fromMSecsSinceEpoch(m_model.row(r).frame.usec / 1000)
                      .toString(QStringLiteral("yyyy-MM-dd"));
        for (int c = 0; c < TrafficModel::ColumnCount; ++c) {
            QString t = m_model.text(r, c);
            if (t.contains(QLatin1Char(';')) || t.contains(QLatin1Char('"')))
                t = QLatin1Char('"') + t.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
            fields << t;
        }
        out += fields.join(QLatin1Char(';')).toLatin1() + "\r\n";
    }
    return out;
}

QByteArray TrafficMonitorWindow::captureBytes() const
{
    PcapngWriter w;
    for (int r : shownRows()) {
        const TrafficRow &row = m_model.row(r);
        w.add(row.frame, trafficLinkText(row.frame.link) + QLatin1Char(' ') + trafficDirText(row.frame.dir) +
                             QStringLiteral(": ") + row.summary());
    }
    return w.bytes();
}

namespace {
bool writeWhole(const QString &path, const QByteArray &bytes)
{
    QSaveFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit();
}
} // namespace

void TrafficMonitorWindow::exportCsv()
{
    guard(
        [this] {
            m_tap.flushAll();
            showPending();
            const QString path = dialogs().saveFileName(
                this, {QStringLiteral("Export traffic as CSV"), m_lastFolder, QStringLiteral("traffic.csv"),
                       QStringLiteral("CSV files (*.csv)"), QStringLiteral("csv")});
            if (path.isEmpty())
                return;
            m_lastFolder = QFileInfo(path).absolutePath();
            if (!writeWhole(path, csvText()))
                dialogs().message(this, DialogIcon::Error, QStringLiteral("Export CSV"),
                                  QStringLiteral("Can not write file %1").arg(path));
        },
        this);
}

void TrafficMonitorWindow::saveCapture()
{
    guard(
        [this] {
            m_tap.flushAll();
            showPending();
            const QString path = dialogs().saveFileName(this, {QStringLiteral("Save capture for Wireshark"),
                                                               m_lastFolder, QStringLiteral("traffic.pcapng"),
                                                               QStringLiteral("pcapng capture (*.pcapng)"),
                                                               QStringLiteral("pcapng")});
            if (path.isEmpty())
                return;
            m_lastFolder = QFileInfo(path).absolutePath();
            if (!writeWhole(path, captureBytes()))
                dialogs().message(this, DialogIcon::Error, QStringLiteral("Save capture"),
                                  QStringLiteral("Can not write file %1").arg(path));
        },
        this);
}

} // namespace qvx
