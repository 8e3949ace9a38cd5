#include "monitor/value_trends_window.h"

#include "meters/meter_table.h"
#include "monitor/trend_data.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTimeAxis>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QLocale>
#include <QMap>
#include <QMouseEvent>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QValueAxis>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <limits>
#include <numeric>

namespace qvx {

// The chart with mouse zoom and pan: drag with the left button to zoom into a
// time range, the wheel to zoom in and out, the right button to zoom out,
// the middle button (or Shift and the left button) to pan.
class TrendChartView : public QChartView {
public:
    std::function<void()> zoomed;

    explicit TrendChartView(QChart *chart) : QChartView(chart)
    {
        setRubberBand(QChartView::HorizontalRubberBand);
        setRenderHint(QPainter::Antialiasing, false);
    }

protected:
    void mousePressEvent(QMouseEvent *e) override
    {
        if (e->button() == Qt::MiddleButton ||
            (e->button() == Qt::LeftButton && (e->modifiers() & Qt::ShiftModifier))) {
            m_panning = true;
            m_last = e->position();
            e->accept();
            return;
        }
        QChartView::mousePressEvent(e);
    }
    void mouseMoveEvent(QMouseEvent *e) override
    {
        if (m_panning) {
            const QPointF d = e->position() - m_last;
            m_last = e->position();
            chart()->scroll(-d.x(), d.y());
            notify();
            e->accept();
            return;
        }
        QChartView::mouseMoveEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent *e) override
    {
        if (m_panning) {
            m_panning = false;
            e->accept();
            return;
        }
        QChartView::mouseReleaseEvent(e);
        notify();
    }
    void wheelEvent(QWheelEvent *e) override
    {
        const int steps = e->angleDelta().y() / 120;
        if (steps != 0) {
            chart()->zoom(steps > 0 ? 1.25 : 0.8);
            notify();
        }
        e->accept();
    }

private:
    void notify()
    {
        if (zoomed)
            zoomed();
    }
    bool m_panning = false;
    QPointF m_last;
};

namespace {
const QString NormalisedAxis = QStringLiteral("normalised");

QString axisTitle(const QString &quantity)
{
    return quantity.isEmpty() ? QStringLiteral("value") : quantity;
}
} // namespace

ValueTrendsWindow::ValueTrendsWindow(const MeterTable *table, QWidget *parent)
    : QWidget(parent, Qt::Window), m_table(table)
{
    setObjectName(QStringLiteral("ValueTrends"));
    setWindowTitle(QStringLiteral("Value trends"));
    resize(1000, 600);

    m_chart = new QChart;
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_timeAxis = new QDateTimeAxis;
    m_timeAxis->setFormat(QStringLiteral("dd.MM. HH:mm:ss"));
    m_timeAxis->setTitleText(QStringLiteral("time"));
    m_chart->addAxis(m_timeAxis, Qt::AlignBottom);
    m_view = new TrendChartView(m_chart);
    m_view->setObjectName(QStringLiteral("TrendsChart"));
    m_view->setAccessibleName(QStringLiteral("Chart"));
    m_view->zoomed = [this] { userZoomed(); };

    m_list = new QListWidget;
    m_list->setObjectName(QStringLiteral("TrendsRows"));
    m_list->setAccessibleName(QStringLiteral("Rows"));
    auto *rowsLabel = new QLabel(QStringLiteral("Rows"));
    rowsLabel->setBuddy(m_list);
    m_normalised = new QCheckBox(QStringLiteral("Normalised"));
    m_normalised->setObjectName(QStringLiteral("TrendsNormalised"));
    auto *open = new QPushButton(QStringLiteral("Open values log..."));
    open->setObjectName(QStringLiteral("TrendsOpenLog"));
    auto *image = new QPushButton(QStringLiteral("Save image..."));
    image->setObjectName(QStringLiteral("TrendsSaveImage"));
    auto *csv = new QPushButton(QStringLiteral("Export CSV..."));
    csv->setObjectName(QStringLiteral("TrendsExportCsv"));
    auto *reset = new QPushButton(QStringLiteral("Reset zoom"));
    reset->setObjectName(QStringLiteral("TrendsResetZoom"));
    m_status = new QLabel(QStringLiteral("Tick rows in the list to draw them."));
    m_status->setObjectName(QStringLiteral("TrendsStatus"));
    m_status->setWordWrap(true);

    auto *side = new QWidget;
    auto *sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    sideLayout->addWidget(rowsLabel);
    sideLayout->addWidget(m_list, 1);
    sideLayout->addWidget(m_normalised);
    auto *split = new QSplitter;
    split->addWidget(side);
    split->addWidget(m_view);
    split->setStretchFactor(1, 1);
    split->setSizes({260, 740});

    auto *bar = new QHBoxLayout;
    bar->addWidget(open);
    bar->addWidget(image);
    bar->addWidget(csv);
    bar->addWidget(reset);
    bar->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(split, 1);
    layout->addWidget(m_status);

    connect(m_list, &QListWidget::itemChanged, this, &ValueTrendsWindow::itemChanged);
    connect(m_normalised, &QCheckBox::toggled, this, [this] {
        rebuildAxes();
        scheduleRedraw();
    });
    connect(open, &QPushButton::clicked, this, &ValueTrendsWindow::openValuesLog);
    connect(image, &QPushButton::clicked, this, &ValueTrendsWindow::saveImage);
    connect(csv, &QPushButton::clicked, this, &ValueTrendsWindow::exportCsv);
    connect(reset, &QPushButton::clicked, this, &ValueTrendsWindow::resetZoom);
    m_redraw.setSingleShot(true);
    m_redraw.setInterval(30);
    connect(&m_redraw, &QTimer::timeout, this, &ValueTrendsWindow::redraw);
}

ValueTrendsWindow::~ValueTrendsWindow() = default;

QWidget *ValueTrendsWindow::chartView() const
{
    return m_view;
}

QString ValueTrendsWindow::rowName(int slot, int row) const
{
    const QString code = m_table ? m_table->code(slot, row).trimmed() : QString();
    const QString where = QStringLiteral("slot %1, row %2").arg(slot).arg(row);
    if (code.isEmpty())
        return QStringLiteral("Row %1 (slot %2)").arg(row).arg(slot);
    const QString name = obisCodeName(code);
    return name.isEmpty() ? QStringLiteral("%1 (%2)").arg(code, where)
                          : QStringLiteral("%1 %2 (%3)").arg(name, code, where);
}

ValueTrendsWindow::Series &ValueTrendsWindow::series(const QString &key, const QString &name,
                                                     const QString &quantity)
{
    auto it = m_series.find(key);
    if (it != m_series.end())
        return *it;
    Series s;
    s.name = name;
    s.quantity = quantity;
    s.item = new QListWidgetItem(name);
    s.item->setData(Qt::UserRole, key);
    s.item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    {
        const QSignalBlocker block(m_list);
        s.item->setCheckState(Qt::Unchecked);
        m_list->addItem(s.item);
    }
    m_order << key;
    return *m_series.insert(key, s);
}

void ValueTrendsWindow::addReading(int slot, const QVector<std::optional<qint64>> &values,
                                   const QDateTime &time)
{
    const double t = static_cast<double>(time.toMSecsSinceEpoch());
    for (int r = 1; r <= values.size(); ++r) {
        const std::optional<qint64> &v = values.at(r - 1);
        if (!v)
            continue;
        const QString key = QStringLiteral("s%1r%2").arg(slot).arg(r);
        const QString code = m_table ? m_table->code(slot, r) : QString();
        Series &s = series(key, rowName(slot, r), obisQuantity(code));
        // A reading older than the last point (the clock was set back) still
        // keeps the series in time order.
        if (!s.xs.isEmpty() && t < s.xs.back()) {
            const auto at = std::upper_bound(s.xs.begin(), s.xs.end(), t) - s.xs.begin();
            s.xs.insert(at, t);
            s.ys.insert(at, static_cast<double>(*v));
        } else {
            s.xs.append(t);
            s.ys.append(static_cast<double>(*v));
        }
    }
    scheduleRedraw();
}

void ValueTrendsWindow::addPoints(const QString &key, const QString &name, const QString &quantity,
                                  const QVector<double> &times, const QVector<double> &values)
{
    Series &s = series(key, name, quantity);
    const qsizetype n = std::min(times.size(), values.size());
    s.xs.reserve(s.xs.size() + n);
    s.ys.reserve(s.ys.size() + n);
    for (qsizetype i = 0; i < n; ++i) {
        s.xs.append(times.at(i));
        s.ys.append(values.at(i));
    }
    if (!std::is_sorted(s.xs.cbegin(), s.xs.cend())) {
        QVector<qsizetype> order(s.xs.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](qsizetype a, qsizetype b) { return s.xs[a] < s.xs[b]; });
        QVector<double> xs, ys;
        for (qsizetype i : order) {
            xs << s.xs.at(i);
            ys << s.ys.at(i);
        }
        s.xs = xs;
        s.ys = ys;
    }
    scheduleRedraw();
}

void ValueTrendsWindow::setShown(const QString &key, bool shown)
{
    auto it = m_series.find(key);
    if (it != m_series.end())
        it->item->setCheckState(shown ? Qt::Checked : Qt::Unchecked);
}

QStringList ValueTrendsWindow::seriesKeys() const
{
    return m_order;
}

qsizetype ValueTrendsWindow::pointCount(const QString &key) const
{
    auto it = m_series.constFind(key);
    return it == m_series.cend() ? 0 : it->xs.size();
}

qsizetype ValueTrendsWindow::drawnPointCount(const QString &key) const
{
    auto it = m_series.constFind(key);
    return it == m_series.cend() || !it->line || !it->line->chart() ? 0 : it->line->count();
}

QString ValueTrendsWindow::statusText() const
{
    return m_status->text();
}

void ValueTrendsWindow::itemChanged(QListWidgetItem *)
{
    rebuildAxes();
    scheduleRedraw();
}

void ValueTrendsWindow::scheduleRedraw()
{
    if (!m_redraw.isActive())
        m_redraw.start();
}

void ValueTrendsWindow::userZoomed()
{
    if (m_drawing)
        return;
    m_follow = false;
    scheduleRedraw();
}

void ValueTrendsWindow::resetZoom()
{
    m_follow = true;
    m_chart->zoomReset();
    redraw();
}

void ValueTrendsWindow::rebuildAxes()
{
    // Series come off the chart and every value axis goes; the ticked series
    // are put back on an axis of their kind (or the one normalised axis).
    for (Series &s : m_series) {
        if (s.line && s.line->chart())
            m_chart->removeSeries(s.line);
    }
    for (QValueAxis *a : std::as_const(m_axes)) {
        m_chart->removeAxis(a);
        delete a;
    }
    m_axes.clear();
    // The time axis goes and comes back too: an axis that lost all its
    // series stays hidden when series are attached to it again.
    const QDateTime from = m_timeAxis->min(), to = m_timeAxis->max();
    m_chart->removeAxis(m_timeAxis);
    m_chart->addAxis(m_timeAxis, Qt::AlignBottom);
    m_timeAxis->setRange(from, to);
    const bool normalised = m_normalised->isChecked();
    for (const QString &key : std::as_const(m_order)) {
        Series &s = m_series[key];
        if (s.item->checkState() != Qt::Checked)
            continue;
        if (!s.line) {
            s.line = new QLineSeries(this);
            s.line->setName(s.name);
        }
        const QString axisKey = normalised ? NormalisedAxis : axisTitle(s.quantity);
        QValueAxis *axis = m_axes.value(axisKey);
        if (!axis) {
            axis = new QValueAxis;
            axis->setTitleText(normalised ? QStringLiteral("normalised (0 = lowest, 1 = highest)") : axisKey);
            axis->setLabelFormat(normalised ? QStringLiteral("%.2f") : QStringLiteral("%.0f"));
            m_chart->addAxis(axis, m_axes.size() % 2 ? Qt::AlignRight : Qt::AlignLeft);
            m_axes.insert(axisKey, axis);
        }
        m_chart->addSeries(s.line);
        s.line->attachAxis(m_timeAxis);
        s.line->attachAxis(axis);
    }
}

void ValueTrendsWindow::redraw()
{
    m_redraw.stop();
    m_drawing = true;
    const bool normalised = m_normalised->isChecked();
    double x0 = std::numeric_limits<double>::max(), x1 = std::numeric_limits<double>::lowest();
    int shown = 0;
    for (const Series &s : std::as_const(m_series)) {
        if (!s.line || !s.line->chart() || s.xs.isEmpty())
            continue;
        ++shown;
        x0 = std::min(x0, s.xs.front());
        x1 = std::max(x1, s.xs.back());
    }
    if (shown == 0) {
        m_drawing = false;
        return;
    }
    if (m_follow) {
        if (x1 - x0 < 60000) { // a single reading still gets a readable axis
            x0 -= 30000;
            x1 += 30000;
        }
        m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(x0)),
                             QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(x1)));
    } else {
        x0 = static_cast<double>(m_timeAxis->min().toMSecsSinceEpoch());
        x1 = static_cast<double>(m_timeAxis->max().toMSecsSinceEpoch());
    }
    const int buckets = std::max(100, static_cast<int>(m_chart->plotArea().width()));
    QHash<QValueAxis *, QPair<double, double>> ranges;
    for (Series &s : m_series) {
        if (!s.line || !s.line->chart())
            continue;
        QVector<double> ys = s.ys;
        if (normalised && !ys.isEmpty()) {
            const auto [lo, hi] = std::minmax_element(ys.cbegin(), ys.cend());
            const double low = *lo, span = *hi - *lo;
            for (double &y : ys)
                y = span > 0 ? (y - low) / span : 0.5;
        }
        const QList<QPointF> points = thinSeries(s.xs, ys, x0, x1, buckets);
        s.line->replace(points);
        const QString axisKey = normalised ? NormalisedAxis : axisTitle(s.quantity);
        QValueAxis *axis = m_axes.value(axisKey);
        if (!axis)
            continue;
        if (!ranges.contains(axis))
            ranges.insert(axis, {std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest()});
        auto &r = ranges[axis];
        for (const QPointF &p : points) {
            if (p.x() < x0 || p.x() > x1)
                continue;
            r.first = std::min(r.first, p.y());
            r.second = std::max(r.second, p.y());
        }
    }
    for (auto it = ranges.cbegin(); it != ranges.cend(); ++it) {
        double lo = it->first, hi = it->second;
        if (lo > hi)
            continue;
        const double pad = hi > lo ? (hi - lo) * 0.05 : std::max(1.0, std::abs(hi) * 0.05);
        it.key()->setRange(lo - pad, hi + pad);
    }
    m_drawing = false;
}

QByteArray ValueTrendsWindow::csvText() const
{
    QStringList keys;
    for (const QString &k : m_order)
        if (m_series.value(k).item->checkState() == Qt::Checked)
            keys << k;
    if (keys.isEmpty())
        keys = m_order;
    QMap<double, QStringList> rows;
    for (int c = 0; c < keys.size(); ++c) {
        const Series &s = *m_series.constFind(keys.at(c));
        for (qsizetype i = 0; i < s.xs.size(); ++i) {
            QStringList &row = rows[s.xs.at(i)];
            if (row.size() < keys.size()) {
                while (row.size() < keys.size())
                    row << QString();
            }
            row[c] = QString::number(s.ys.at(i), 'f', 0);
        }
    }
    QStringList header{QStringLiteral("Time")};
    for (const QString &k : keys)
        header << m_series.value(k).name;
    QByteArray out = header.join(QLatin1Char(';')).toLatin1() + "\r\n";
    for (auto it = rows.cbegin(); it != rows.cend(); ++it) {
        const QString t = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(it.key()))
                              .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        out += (t + QLatin1Char(';') + it->join(QLatin1Char(';'))).toLatin1() + "\r\n";
    }
    return out;
}

namespace {
bool writeWhole(const QString &path, const QByteArray &bytes)
{
    QSaveFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit();
}
// The long time format as the values log writes it: without the zone.
QString logTimeFormat()
{
    QString kept;
    bool quoted = false;
    for (const QChar c : QLocale::system().timeFormat(QLocale::LongFormat)) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        kept.append(c);
    }
    return kept.simplified();
}
} // namespace

void ValueTrendsWindow::openValuesLog()
{
    guard(
        [this] {
            const QString path = dialogs().openFileName(
                this, {QStringLiteral("Open values log"), m_lastFolder, QStringLiteral("logvalues.txt"),
                       QStringLiteral("Values log (*.txt);;All files (*)"), QString()});
            if (path.isEmpty())
                return;
            m_lastFolder = QFileInfo(path).absolutePath();
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly)) {
                dialogs().message(this, DialogIcon::Error, QStringLiteral("Open values log"),
                                  QStringLiteral("Can not read file %1").arg(path));
                return;
            }
            const ValuesLogContent log = readValuesLog(
                f.readAll(), {logTimeFormat(), QLocale::system().timeFormat(QLocale::ShortFormat)},
                {QLocale::system().dateFormat(QLocale::ShortFormat)});
            const QString file = QFileInfo(path).fileName();
            QMap<int, QPair<QVector<double>, QVector<double>>> rows;
            for (const ValuesLogReading &r : log.readings) {
                const double t = static_cast<double>(r.time.toMSecsSinceEpoch());
                for (int i = 0; i < r.values.size(); ++i) {
                    if (!r.values.at(i))
                        continue;
                    rows[i + 1].first << t;
                    rows[i + 1].second << static_cast<double>(*r.values.at(i));
                }
            }
            for (auto it = rows.cbegin(); it != rows.cend(); ++it) {
                const QString key = QStringLiteral("log:%1:r%2").arg(path).arg(it.key());
                addPoints(key, QStringLiteral("Row %1 (%2)").arg(it.key()).arg(file), QString(), it->first,
                          it->second);
                setShown(key, true);
            }
            m_follow = true;
            m_status->setText(QStringLiteral("%1: read %2 blocks, skipped %3.")
                                  .arg(file)
                                  .arg(log.blocksRead)
                                  .arg(log.blocksSkipped));
        },
        this);
}

void ValueTrendsWindow::saveImage()
{
    guard(
        [this] {
            const QString path = dialogs().saveFileName(
                this, {QStringLiteral("Save chart image"), m_lastFolder, QStringLiteral("trends.png"),
                       QStringLiteral("PNG images (*.png)"), QStringLiteral("png")});
            if (path.isEmpty())
                return;
            m_lastFolder = QFileInfo(path).absolutePath();
            redraw();
            // The chart lays itself out in posted events: let it before the picture.
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            if (!m_view->grab().save(path, "PNG"))
                dialogs().message(this, DialogIcon::Error, QStringLiteral("Save image"),
                                  QStringLiteral("Can not write file %1").arg(path));
        },
        this);
}

void ValueTrendsWindow::exportCsv()
{
    guard(
        [this] {
            const QString path = dialogs().saveFileName(
                this, {QStringLiteral("Export values as CSV"), m_lastFolder, QStringLiteral("trends.csv"),
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

} // namespace qvx
