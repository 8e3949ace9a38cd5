// Tools > "Gateway profile...": a gateway's settings and meter table read
// into a profile, saved and opened as qvxctl's profile file, compared with
// the connected gateway side by side and applied to it, and the profile's
// meter table put into the meter tab without writing it.
//
// The work runs on the window's own link through the same runners as
// "qvxctl profile", one job at a time in a GatewayJob: the dialog stays
// responsive, shows each step, and Cancel ends the request in flight.  The
// request settings are put back as they were found when a job ends; only an
// applied unit address or RTU line moves the window's unit or port fields,
// and the log says so.  An apply asks once, through the dialog seam, with
// the number of writes and whether the address or the line changes.
#pragma once

#include "gateway/gateway_client.h"
#include "gateway/gateway_runners.h"
#include "gateway/profile_compare.h"

#include <QWidget>
#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace qvx {

class MetersTab;
class Session;

class GatewayProfileDialog : public QWidget {
    Q_OBJECT
public:
    GatewayProfileDialog(Session &session, MetersTab &meters, QWidget *parent = nullptr);
    ~GatewayProfileDialog() override;

    // The profile read or opened last (nothing before the first).
    const std::optional<GatewayProfile> &profile() const { return m_profile; }
    bool running() const { return m_job != nullptr || m_settling; }
    QTreeWidget *tree() const { return m_tree; }

public slots:
    void ReadClick();
    void OpenClick();
    void SaveClick();
    void CompareClick();
    void ApplyClick();
    void LoadMetersClick();
    void CancelClick();
    // A commissioning report of the connected gateway.
    void ReportClick();

signals:
    // Apply wrote the gateway and read it all back: device is what it holds.
    void gatewayReadBack(const qvx::GatewayProfile &device);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    using Runner = GatewayJob::Runner;
    using Done = std::function<void(bool ok)>;
    // Starts runner on the window's link unless a job runs or no link is open.
    void runJob(const QString &what, const Runner &runner, const Done &done);
    void jobEnded(bool ok, const QString &error);
    void finishJob(bool ok, bool cancelled, const QString &error);
    void step(int done, int total, const QString &what);
    void setRunning(bool running);
    void showProfile(const QString &heading);
    void showComparison(const GatewayProfile &device, const ProfileComparison &c);
    void logLine(const QString &text);
    // The unit field of the window follows the unit the gateway answers at.
    void followUnit(int unit);
    // The question before an apply writes: how many writes, and whether the
    // unit address or the RTU line changes.
    static QString applyQuestion(const ProfileWritePlan &plan);

    Session &m_session;
    MetersTab &m_meters;
    std::optional<GatewayProfile> m_profile;
    QString m_lastFolder;

    GatewayClient *m_client = nullptr;
    GatewayJob *m_job = nullptr;
    RequestSettings m_found;
    GatewayLink m_linkBefore;
    QString m_jobName;
    Done m_done;
    // After a cancel: the reply in flight may still come; it is let pass.
    bool m_settling = false;

    QPushButton *m_read;
    QPushButton *m_open;
    QPushButton *m_save;
    QPushButton *m_compare;
    QPushButton *m_apply;
    QPushButton *m_loadMeters;
    QPushButton *m_cancel;
    QPushButton *m_report;
    QCheckBox *m_network;
    QCheckBox *m_unit;
    QCheckBox *m_line;
    QLabel *m_heading;
    QTreeWidget *m_tree;
    QLabel *m_stepText;
    QProgressBar *m_bar;
};

} // namespace qvx
