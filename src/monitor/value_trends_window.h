// "Value trends": the meter values over time.  Every whole-slot reading adds
// a point to each row's series; the rows ticked in the list beside the chart
// are drawn.  Zoom with the mouse (drag a range, wheel), pan with the middle
// button or Shift+drag, one y axis per kind of quantity or a normalised view,
// PNG and CSV out, and an existing values log plotted.
#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QTimer>
#include <QVector>
#include <QWidget>
#include <optional>

class QCheckBox;
class QChart;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QListWidget;
class QListWidgetItem;
class QValueAxis;

namespace qvx {

class MeterTable;
class TrendChartView;

class ValueTrendsWindow : public QWidget {
    Q_OBJECT
public:
    // table names the rows of live readings (may be null: rows by number).
    explicit ValueTrendsWindow(const MeterTable *table, QWidget *parent = nullptr);
    ~ValueTrendsWindow() override;

    // One whole-slot reading taken at time.
    void addReading(int slot, const QVector<std::optional<qint64>> &values,
                    const QDateTime &time = QDateTime::currentDateTime());
    // Many points at once for one series (times in ms since the epoch); the
    // series is created under key with the given name and quantity.
    void addPoints(const QString &key, const QString &name, const QString &quantity,
                   const QVector<double> &times, const QVector<double> &values);
    // Ticks or unticks a series in the list.
    void setShown(const QString &key, bool shown);
    QStringList seriesKeys() const;
    qsizetype pointCount(const QString &key) const;
    // Points the chart draws for key at the moment (after thinning).
    qsizetype drawnPointCount(const QString &key) const;
    QString statusText() const;
    // Brings the drawing up to date now instead of at the next event.
    void redraw();
    QWidget *chartView() const;

    QByteArray csvText() const;

public slots:
    void openValuesLog();
    void saveImage();
    void exportCsv();
    void resetZoom();

private:
    struct Series {
        QString name;
        QString quantity;
        QVector<double> xs;
        QVector<double> ys;
        QLineSeries *line = nullptr;
        QListWidgetItem *item = nullptr;
    };
    Series &series(const QString &key, const QString &name, const QString &quantity);
    void itemChanged(QListWidgetItem *item);
    void scheduleRedraw();
    void rebuildAxes();
    void userZoomed();
    QString rowName(int slot, int row) const;

    const MeterTable *m_table;
    QHash<QString, Series> m_series;
    QStringList m_order;
    QChart *m_chart;
    TrendChartView *m_view;
    QDateTimeAxis *m_timeAxis;
    QHash<QString, QValueAxis *> m_axes;
    QListWidget *m_list;
    QCheckBox *m_normalised;
    QLabel *m_status;
    QTimer m_redraw;
    bool m_follow = true; // the time axis follows the data until the operator zooms
    bool m_drawing = false;
    QString m_lastFolder;
};

} // namespace qvx
