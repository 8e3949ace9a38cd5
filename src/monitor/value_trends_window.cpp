#include "monitor/value_trends_window.h"

#include "meters/meter_table.h"
#include "monitor/give_back_memory.h"
#include "monitor/trend_data.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCloseEvent>
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
#include <QPixmap>
#include <QProgressBar>
#include <QScrollBar>
#include <QStyle>
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
    // The chart's own legend puts every name on one line and cuts them all
    // short; the legend below the chart wraps them instead.
    m_chart->legend()->hide();
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
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_legend = new QListWidget;
    m_legend->setObjectName(QStringLiteral("TrendsLegend"));
    m_legend->setAccessibleName(QStringLiteral("Legend"));
    m_legend->setFlow(QListView::LeftToRight);
    m_legend->setWrapping(true);
    m_legend->setResizeMode(QListView::Adjust);
    m_legend->setSpacing(2);
    m_legend->setSelectionMode(QAbstractItemView::NoSelection);
    m_legend->setFocusPolicy(Qt::NoFocus);
    m_legend->setFrameShape(QFrame::NoFrame);
    m_legend->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_legend->setTextElideMode(Qt::ElideMiddle);
    m_legend->setVisible(false);
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
    m_progress = new QProgressBar;
    m_progress->setObjectName(QStringLiteral("TrendsProgress"));
    m_progress->setAccessibleName(QStringLiteral("Reading values log"));
    m_progress->setRange(0, 1000);
    m_progress->setVisible(false);
    m_cancel = new QPushButton(QStringLiteral("Cancel"));
    m_cancel->setObjectName(QStringLiteral("TrendsCancel"));
    m_cancel->setVisible(false);

    auto *side = new QWidget;
    auto *sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    sideLayout->addWidget(rowsLabel);
    sideLayout->addWidget(m_list, 1);
    sideLayout->addWidget(m_normalised);
    m_chartBox = new QWidget;
    auto *chartLayout = new QVBoxLayout(m_chartBox);
    chartLayout->setContentsMargins(0, 0, 0, 0);
    chartLayout->setSpacing(0);
    chartLayout->addWidget(m_view, 1);
    chartLayout->addWidget(m_legend);
    m_split = new QSplitter;
    m_split->addWidget(side);
    m_split->addWidget(m_chartBox);
    m_split->setStretchFactor(1, 1);
    m_split->setSizes({260, 740});

    auto *bar = new QHBoxLayout;
    bar->addWidget(open);
    bar->addWidget(image);
    bar->addWidget(csv);
    bar->addWidget(reset);
    bar->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_split, 1);
    auto *statusRow = new QHBoxLayout;
    statusRow->addWidget(m_status, 1);
    statusRow->addWidget(m_progress);
    statusRow->addWidget(m_cancel);
    layout->addLayout(statusRow);

    connect(m_list, &QListWidget::itemChanged, this, &ValueTrendsWindow::itemChanged);
    connect(m_normalised, &QCheckBox::toggled, this, [this] {
        rebuildAxes();
        scheduleRedraw();
    });
    connect(open, &QPushButton::clicked, this, &ValueTrendsWindow::openValuesLog);
    connect(image, &QPushButton::clicked, this, &ValueTrendsWindow::saveImage);
    connect(csv, &QPushButton::clicked, this, &ValueTrendsWindow::exportCsv);
    connect(reset, &QPushButton::clicked, this, &ValueTrendsWindow::resetZoom);
    connect(m_cancel, &QPushButton::clicked, this, &ValueTrendsWindow::cancelLoad);
    connect(m_split, &QSplitter::splitterMoved, this, [this] {
        fitRowNames(false); // the operator's width stays
        fitLegend();
    });
    connect(&m_load, &ValuesLogLoad::progress, this, &ValueTrendsWindow::logProgress);
    connect(&m_load, &ValuesLogLoad::loaded, this,
            [this](const std::shared_ptr<ValuesLogLoad::Result> &r) { guard([&] { logLoaded(*r); }, this); });
    connect(&m_load, &ValuesLogLoad::failed, this, &ValueTrendsWindow::logFailed);
    m_redraw.setSingleShot(true);
    m_redraw.setInterval(30);
    connect(&m_redraw, &QTimer::timeout, this, &ValueTrendsWindow::redraw);
}

// The load's thread is joined (m_load) before the series go.
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
    s.item->setToolTip(name);
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

void ValueTrendsWindow::replacePoints(const QString &key, const QString &name, const QString &quantity,
                                      QVector<double> times, QVector<double> values)
{
    Series &s = series(key, name, quantity);
    // Resizing shared points would copy them: only a mismatch is cut.
    const qsizetype n = std::min(times.size(), values.size());
    if (times.size() != n)
        times.resize(n);
    if (values.size() != n)
        values.resize(n);
    s.xs = std::move(times);
    s.ys = std::move(values);
    if (!std::is_sorted(s.xs.cbegin(), s.xs.cend())) {
        QVector<double> xs = std::exchange(s.xs, {}), ys = std::exchange(s.ys, {});
        addPoints(key, name, quantity, xs, ys);
        return;
    }
    scheduleRedraw();
}

void ValueTrendsWindow::removeSeries(const QStringList &keys)
{
    bool any = false;
    for (const QString &key : keys) {
        auto it = m_series.find(key);
        if (it == m_series.end())
            continue;
        if (it->line) {
            if (it->line->chart())
                m_chart->removeSeries(it->line);
            delete it->line;
        }
        delete it->item;
        m_series.erase(it);
        m_order.removeAll(key);
        any = true;
    }
    if (any) {
        rebuildAxes();
        scheduleRedraw();
    }
}

qsizetype ValueTrendsWindow::storedPoints() const
{
    qsizetype n = 0;
    for (const Series &s : m_series)
        n += s.xs.size();
    return n;
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
    updateLegend();
}

void ValueTrendsWindow::updateLegend()
{
    m_legend->clear();
    const int side = m_legend->fontMetrics().height() - 4;
    for (const QString &key : std::as_const(m_order)) {
        const Series &s = m_series[key];
        if (!s.line || !s.line->chart())
            continue;
        QPixmap swatch(side * 2, side);
        swatch.fill(s.line->color());
        auto *item = new QListWidgetItem(QIcon(swatch), s.name);
        item->setToolTip(s.name);
        item->setFlags(Qt::ItemIsEnabled);
        m_legend->addItem(item);
    }
    m_legend->setIconSize(QSize(side * 2, side));
    m_legend->setVisible(m_legend->count() > 0);
    fitLegend();
}

// Each name whole on a line that wraps; a name wider than the whole line is
// shortened in the middle, its tooltip whole.  At most four lines: beyond
// that the legend scrolls.
void ValueTrendsWindow::fitLegend()
{
    if (m_legend->count() == 0)
        return;
    const int width = std::max(50, m_legend->viewport()->width() - 2 * m_legend->spacing());
    const int lineHeight = m_legend->fontMetrics().height() + 4;
    const int extra = m_legend->iconSize().width() + 14 + 2 * m_legend->spacing();
    int lines = 1, x = 0;
    for (int i = 0; i < m_legend->count(); ++i) {
        QListWidgetItem *item = m_legend->item(i);
        const int natural = m_legend->fontMetrics().horizontalAdvance(item->text()) + extra;
        const int w = std::min(natural, width);
        item->setSizeHint(QSize(w - 2 * m_legend->spacing(), lineHeight));
        if (x > 0 && x + w > width) {
            ++lines;
            x = 0;
        }
        x += w;
    }
    const int shown = std::min(lines, 4);
    m_legend->setFixedHeight(shown * (lineHeight + 2 * m_legend->spacing()) + 2 * m_legend->frameWidth());
}

// The list beside the chart is made as wide as its longest name, up to two
// fifths of the window; names that still do not fit are shortened in the
// middle, their tooltips whole.
void ValueTrendsWindow::fitRowNames(bool widen)
{
    const QList<int> sizes = m_split->sizes();
    if (!m_split->isVisible() || sizes.size() != 2 || m_list->count() == 0)
        return; // fitted when shown
    const QFontMetrics fm = m_list->fontMetrics();
    const int itemExtra = style()->pixelMetric(QStyle::PM_IndicatorWidth) + 16;
    const int paneExtra = m_list->verticalScrollBar()->sizeHint().width() + 2 * m_list->frameWidth();
    int natural = 0;
    for (int i = 0; i < m_list->count(); ++i)
        natural = std::max(natural, fm.horizontalAdvance(m_list->item(i)->text()) + itemExtra);
    const int total = sizes.at(0) + sizes.at(1);
    const int wanted = std::min(natural + paneExtra, total * 2 / 5);
    int pane = sizes.at(0);
    m_fittedRows = m_list->count();
    // A window made smaller takes the width from the list down to its share,
    // not from the chart alone.
    if (widen && (wanted > pane || pane > total * 2 / 5)) {
        pane = std::min(std::max(wanted, pane), total * 2 / 5);
        m_split->setSizes({pane, total - pane});
    }
    const int width = std::max(40, pane - paneExtra);
    const int lineHeight = fm.height() + 4;
    // A size is no change of the row: the list's itemChanged (ticking) must
    // not hear of it.
    const QSignalBlocker block(m_list);
    for (int i = 0; i < m_list->count(); ++i) {
        QListWidgetItem *item = m_list->item(i);
        const bool tooWide = fm.horizontalAdvance(item->text()) + itemExtra > width;
        const QSize hint = tooWide ? QSize(width, lineHeight) : QSize();
        if (item->sizeHint() != hint)
            item->setSizeHint(hint);
    }
}

void ValueTrendsWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    fitRowNames();
    fitLegend();
}

void ValueTrendsWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitRowNames();
    fitLegend();
}

void ValueTrendsWindow::redraw()
{
    m_redraw.stop();
    if (m_list->count() != m_fittedRows)
        fitRowNames();
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
    // Time labels are some 110 pixels wide: no more ticks than fit.
    m_timeAxis->setTickCount(std::clamp(static_cast<int>(m_chart->plotArea().width() / 130) + 1, 2, 8));
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
            m_loadingFile = QFileInfo(path).fileName();
            m_load.start(path, {logTimeFormat(), QLocale::system().timeFormat(QLocale::ShortFormat)},
                         {QLocale::system().dateFormat(QLocale::ShortFormat)});
            m_progress->setRange(0, 1000);
            m_progress->setValue(0);
            setLoading(true);
            m_status->setText(QStringLiteral("Reading %1...").arg(m_loadingFile));
        },
        this);
}

void ValueTrendsWindow::setLoading(bool on)
{
    m_progress->setVisible(on);
    m_cancel->setVisible(on);
}

void ValueTrendsWindow::logProgress(qint64 done, qint64 total)
{
    if (total <= 0) {
        m_progress->setRange(0, 0); // a pipe: how much is to come is not known
        return;
    }
    m_progress->setRange(0, 1000);
    m_progress->setValue(static_cast<int>(std::min<qint64>(1000, done * 1000 / total)));
}

void ValueTrendsWindow::cancelLoad()
{
    if (!m_load.busy())
        return;
    m_load.cancel();
    setLoading(false);
    m_status->setText(QStringLiteral("%1: reading cancelled, the chart is as it was.").arg(m_loadingFile));
    giveBackFreedMemory();
}

void ValueTrendsWindow::logFailed(const QString &path, const QString &error)
{
    (void)error;
    setLoading(false);
    m_status->setText(QStringLiteral("%1: not read.").arg(QFileInfo(path).fileName()));
    dialogs().message(this, DialogIcon::Error, QStringLiteral("Open values log"),
                      QStringLiteral("Can not read file %1").arg(path));
}

QStringList ValueTrendsWindow::logKeys(const QString &path) const
{
    const QString prefix = path.isEmpty() ? QStringLiteral("log:") : QStringLiteral("log:%1:r").arg(path);
    QStringList keys;
    for (const QString &k : m_order)
        if (k.startsWith(prefix))
            keys << k;
    return keys;
}

void ValueTrendsWindow::logLoaded(const ValuesLogLoad::Result &result)
{
    setLoading(false);
    const QString &path = result.path;
    const QString file = QFileInfo(path).fileName();
    // Opening a log again replaces what it showed: its rows that are gone
    // go, the others take the new points.
    QStringList old = logKeys(path);
    QStringList keys;
    for (const ValuesLogColumns::RowPoints &row : result.rows)
        keys << QStringLiteral("log:%1:r%2").arg(path).arg(row.row);
    for (const QString &k : std::as_const(keys))
        old.removeAll(k);
    removeSeries(old);
    {
        // Every row ticked, the chart rebuilt once (not once per row).
        const QSignalBlocker block(m_list);
        for (qsizetype i = 0; i < result.rows.size(); ++i) {
            const ValuesLogColumns::RowPoints &row = result.rows.at(i);
            replacePoints(keys.at(i), QStringLiteral("Row %1 (%2)").arg(row.row).arg(file), QString(), row.xs,
                          row.ys);
            setShown(keys.at(i), true);
        }
    }
    rebuildAxes();
    m_follow = true;
    m_status->setText(QStringLiteral("%1: read %2 blocks, skipped %3.")
                          .arg(file)
                          .arg(result.blocksRead)
                          .arg(result.blocksSkipped));
    fitRowNames();
    giveBackFreedMemory();
}

void ValueTrendsWindow::dropLogs()
{
    removeSeries(logKeys(QString()));
    giveBackFreedMemory();
}

void ValueTrendsWindow::closeEvent(QCloseEvent *event)
{
    const bool had = m_load.busy() || !logKeys(QString()).isEmpty();
    m_load.cancel();
    setLoading(false);
    dropLogs();
    if (had)
        m_status->setText(QStringLiteral("Tick rows in the list to draw them."));
    QWidget::closeEvent(event);
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
            if (!m_chartBox->grab().save(path, "PNG"))
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
