// Tools > "Change address or baud safely...": writes a new unit address
// and/or RTU line with changeGatewayLine and keeps talking to the gateway:
// the window's port and unit fields follow it to where it answers, and when
// it answers nowhere that was tried, "Find device..." is offered preset with
// the new and the old settings.  Non-modal; every step is one log line.
#pragma once

#include "gateway/gateway_runners.h"
#include "gateway/link_fields.h"
#include "transport/exchange.h"

#include <QPointer>
#include <QWidget>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace qvx {

class FindDeviceDialog;
class Session;

class ChangeLineDialog : public QWidget {
    Q_OBJECT
public:
    // window: the main window whose link fields follow the gateway; find:
    // the dialog offered when the gateway is lost.
    ChangeLineDialog(Session &session, QWidget *window, FindDeviceDialog *find);
    ~ChangeLineDialog() override;

    bool running() const { return m_job != nullptr; }

public slots:
    void start();
    void cancel();
    // Shows the link in use now and takes it as the starting point of the
    // new settings.
    void refresh();
    void openFind();

signals:
    void runFinished();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void finish(bool ok, const QString &error);
    void setRunning(bool running);

    Session &m_session;
    LinkFields m_fields;
    FindDeviceDialog *m_find;
    QLabel *m_current;
    QSpinBox *m_unit;
    QComboBox *m_baud;
    QComboBox *m_parity;
    QSpinBox *m_verify;
    QPushButton *m_start;
    QPushButton *m_cancel;
    QPushButton *m_findButton;
    QProgressBar *m_progress;
    QLabel *m_status;

    QPointer<GatewayClient> m_client;
    QPointer<GatewayJob> m_job;
    LineChange m_change;
    LineChangeResult m_result;
    GatewayLink m_before;
    RequestSettings m_settingsBefore;
    QStringList m_steps;
};

} // namespace qvx
