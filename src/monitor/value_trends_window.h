// "Value trends": the meter values over time.  Every whole-slot reading adds
// a point to each row's series; the rows ticked in the list beside the chart
// are drawn.  Zoom with the mouse (drag a range, wheel), pan with the middle
// button or Shift+drag, one y axis per kind of quantity or a normalised view,
// PNG and CSV out, and an existing values log plotted: read on a thread of
// its own with a progress bar and "Cancel", its points held until the window
// closes or the same log is opened again.
#pragma once

#include "monitor/values_log_load.h"

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
class QCloseEvent;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QListWidget;
class QListWidgetItem;
class QProgressBar;
class QResizeEvent;
class QShowEvent;
class QPushButton;
class QSplitter;
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
    // The series under key holds these points only (times ascending); it is
    // created when new.
    void replacePoints(const QString &key, const QString &name, const QString &quantity,
                       QVector<double> times, QVector<double> values);
    // Takes the series off the chart and the list and frees their points.
    void removeSeries(const QStringList &keys);
    // Ticks or unticks a series in the list.
    void setShown(const QString &key, bool shown);
    QStringList seriesKeys() const;
    qsizetype pointCount(const QString &key) const;
    // Points held over all series (what the memory of the window grows with).
    qsizetype storedPoints() const;
    // A values log is being read.
    bool loading() const { return m_load.busy(); }
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
    // Ends the reading of a values log; the chart stays as it was.
    void cancelLoad();

protected:
    // Closing the window ends a load and gives back the points of the logs
    // it shows; live readings stay.
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

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
    void logLoaded(const ValuesLogLoad::Result &result);
    void logFailed(const QString &path, const QString &error);
    void logProgress(qint64 done, qint64 total);
    void setLoading(bool on);
    void dropLogs();
    QStringList logKeys(const QString &path) const;
    // widen: the list may take more of the window for its names.
    void fitRowNames(bool widen = true);
    void updateLegend();
    void fitLegend();

    const MeterTable *m_table;
    QHash<QString, Series> m_series;
    QStringList m_order;
    QChart *m_chart;
    TrendChartView *m_view;
    QDateTimeAxis *m_timeAxis;
    QHash<QString, QValueAxis *> m_axes;
    QListWidget *m_list;
    QListWidget *m_legend;
    QWidget *m_chartBox; // the chart and its legend, as the picture shows them
    QCheckBox *m_normalised;
    QLabel *m_status;
    QProgressBar *m_progress;
    QPushButton *m_cancel;
    QSplitter *m_split;
    QTimer m_redraw;
    ValuesLogLoad m_load;
    QString m_loadingFile; // the name of the log being read
    int m_fittedRows = 0;  // rows in the list when its width was last fitted
    bool m_follow = true;  // the time axis follows the data until the operator zooms
    bool m_drawing = false;
    QString m_lastFolder;
};

} // namespace qvx
