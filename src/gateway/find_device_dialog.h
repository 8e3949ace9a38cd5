// Tools > "Find device...": sweeps units, rates and parities on the serial
// port (units over TCP) with scanGateways, the runner behind "qvxctl scan",
// shows what answered and puts a found gateway's settings into the window's
// link fields.  Non-modal; "Cancel" stops within one probe; the link is left
// as it was found (a port the operator had closed is closed again).
#pragma once

#include "gateway/gateway_runners.h"
#include "gateway/link_fields.h"
#include "transport/exchange.h"

#include <QMap>
#include <QPointer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace qvx {

class Session;

class FindDeviceDialog : public QWidget {
    Q_OBJECT
public:
    // window: the main window whose link fields "Use" fills.
    FindDeviceDialog(Session &session, QWidget *window);
    ~FindDeviceDialog() override;

    // Ticks exactly these rates and parities ("even", "none", "odd") and sets
    // the units, e.g. to look for a gateway that was lost in a change.
    void preset(const QVector<int> &bauds, const QStringList &parities, int firstUnit, int lastUnit);
    bool running() const { return m_job != nullptr; }
    const QVector<ScanHit> &hits() const { return m_hits; }

public slots:
    void start();
    void cancel();
    void useSelected();

signals:
    void runFinished();

private:
    void finish(bool ok, const QString &error);
    void showProgress(int done, int total, const QString &what);
    void setRunning(bool running);

    Session &m_session;
    LinkFields m_fields;
    QSpinBox *m_firstUnit;
    QSpinBox *m_lastUnit;
    QMap<int, QCheckBox *> m_bauds;
    QMap<QString, QCheckBox *> m_parities;
    QSpinBox *m_timeout;
    QCheckBox *m_all;
    QPushButton *m_start;
    QPushButton *m_cancel;
    QPushButton *m_use;
    QProgressBar *m_progress;
    QLabel *m_status;
    QLabel *m_activityLabel;
    QTableWidget *m_results;

    // One run: its own client on the window's session (a cancelled client
    // stays cancelled), the job, the link as it was found.
    QPointer<GatewayClient> m_client;
    QPointer<GatewayJob> m_job;
    GatewayLink m_found;
    // The window's request settings (unit, window, "End reply windows on a
    // complete reply"), given back as they were.
    RequestSettings m_settingsBefore;
    bool m_openedPort = false;
    ScanResult m_result;
    qint64 m_msLeft = 0;
    QVector<ScanHit> m_hits;
    QString m_portName;
    // Bytes heard at each rate over all runs: busy rates go first next time.
    QMap<int, int> m_activity;
};

} // namespace qvx
