// Tools > "Site...": every gateway of a site in one table, checked, brought
// to its profile and put into a commissioning report.
//
// A site is the file qvxctl's --targets reads (a name and a profile per line
// beside the link options).  Gateways over TCP are checked on links of their
// own, a few at once, each on a thread of its own so that one slow gateway
// does not hold the others; gateways on a serial line go one at a time over
// the window's serial port.  A row's failure is that row's state and never
// stops the others; every step is one line in the window's log, and
// "Cancel" ends the requests in flight.
#pragma once

#include "gateway/gateway_client.h"
#include "gateway/gateway_runners.h"
#include "gateway/site_check.h"
#include "gateway/site_file.h"
#include "report/site_report.h"

#include <QDateTime>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace qvx {

class Session;
class SiteAddDialog;

class SiteDialog : public QWidget {
    Q_OBJECT
public:
    // How many gateways over TCP are worked on at once.
    static constexpr int ParallelTcp = 4;

    // window: the main window whose link fields "Use" fills and whose serial
    // port the serial gateways are reached through.
    SiteDialog(Session &session, QWidget *window);
    ~SiteDialog() override;

    // One gateway of the site and what the last check found (check.state
    // NotChecked until one ends; check.gateway is the row's gateway).
    struct Row {
        SiteGateway gateway;
        GatewayCheck check;
        QString step; // what runs now, or how the last run ended
    };
    const QVector<Row> &rows() const { return m_rows; }
    QTableWidget *table() const { return m_table; }
    bool running() const { return !m_running.isEmpty() || !m_queue.isEmpty() || m_settling; }
    const QString &sitePath() const { return m_path; }

    // The commissioning report of the rows as qvxctl report makes it: a
    // site summary first, then each gateway's checks, settings, meter table
    // and values.
    SiteReport report() const;
    // A report of checks, dated now and naming this tool's version.
    static SiteReport reportOf(const QList<GatewayCheck> &checks, const QString &siteName,
                               const QString &technician, const QString &customer);
    // Writes report (PDF for ".pdf", else HTML) whole or not at all, with
    // the window's file feedback; the log line is the caller's.
    static bool writeReportFile(Session &session, const SiteReport &report, const QString &path);

    // Opens the site file at path (as "Open site..." does once a file is chosen).
    bool openSite(const QString &path);
    void addGateway(const SiteGateway &gateway);

public slots:
    void OpenClick();
    void SaveClick();
    void AddClick();
    void AddFromScanClick();
    void CheckAllClick();
    void CheckSelectedClick();
    void ApplyClick();
    void UseClick();
    void ReportClick();
    void CancelClick();

signals:
    // A batch (check, apply) has ended.
    void batchFinished();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    enum class Work { Check, Plan, Apply };
    struct Task {
        int row = 0;
        Work work = Work::Check;
    };
    struct Running;
    struct Outcome {
        std::optional<GatewayCheck> check;
        std::optional<ProfileWritePlan> plan;
        std::optional<ProfileApplyResult> applied;
        bool ok = false;
        bool cancelled = false;
        QString error;
        GatewayError::Kind errorKind = GatewayError::NoAnswer;
    };

    void startBatch(Work work, const QVector<int> &rows, std::function<void()> done = {});
    void pump();
    void startTcp(const Task &task);
    void startSerial(const Task &task);
    void serialEnded(const std::shared_ptr<Running> &running, const std::shared_ptr<Outcome> &outcome);
    // The runner of a task on a client: the gateway's check, or the apply's
    // plan or writes.
    GatewayJob::Runner runnerFor(const Task &task, const std::shared_ptr<Outcome> &outcome);
    void taskEnded(const Task &task, const Outcome &outcome);
    void rowStep(int row, const QString &what);
    void showRow(int row);
    void showOverall();
    void fitColumns();
    void setRunning(bool running);
    QVector<int> selectedRows() const;
    std::optional<GatewayProfile> profileFor(int row, QString *error) const;
    void logLine(const QString &text);
    void askAndApply(const QVector<int> &rows);
    void takeScanHits();
    void writeReport(const QString &path);


    Session &m_session;
    QWidget *m_window;
    QString m_path;
    SiteFile m_site;
    QVector<Row> m_rows;

    QVector<Task> m_queue;
    QVector<std::shared_ptr<Running>> m_running;
    std::function<void()> m_batchDone;
    QString m_batchName;
    int m_batchTotal = 0;
    int m_batchDone_ = 0;
    bool m_cancelled = false;
    // After a cancel on the serial line: the reply in flight may still come.
    bool m_settling = false;
    // Plans of the apply's first pass, by row.
    QMap<int, ProfileWritePlan> m_plans;
    QString m_lastFolder;

    QPushButton *m_open;
    QPushButton *m_save;
    QPushButton *m_add;
    QPushButton *m_scan;
    QPushButton *m_checkAll;
    QPushButton *m_checkSelected;
    QPushButton *m_apply;
    QPushButton *m_use;
    QPushButton *m_report;
    QPushButton *m_cancel;
    QLineEdit *m_technician;
    QLineEdit *m_customer;
    QTableWidget *m_table;
    QProgressBar *m_bar;
    QLabel *m_status;
    QPointer<SiteAddDialog> m_addDialog;
    bool m_scanPending = false;
};

// "Add...": one gateway by its link, the fields starting from the window's
// link.  Non-modal: "Add" hands the gateway to the site window.
class SiteAddDialog : public QWidget {
    Q_OBJECT
public:
    SiteAddDialog(const GatewayLink &start, QWidget *parent);
    // The gateway the fields describe, or the message why they do not.
    std::optional<SiteGateway> gateway(QString *error) const;

signals:
    void added(const qvx::SiteGateway &gateway);

private:
    void AddClick();

    QLineEdit *m_name;
    QComboBox *m_kind;
    QLineEdit *m_host;
    QLineEdit *m_port;
    QLineEdit *m_serial;
    QComboBox *m_baud;
    QComboBox *m_parity;
    QSpinBox *m_unit;
    QLineEdit *m_profile;
    QLabel *m_error;
};

} // namespace qvx
