// The main window "QVX-24S IEC 62056 Decoder": menu, the three working tabs,
// the operator console and the status bar.  It owns the one Session that every
// area shares, restores the operator's settings from the settings file when it
// is created and writes them back when it closes.
//
// The settings file is <program base name>.ini in the program's folder
// (Session::ProgramDir); the controls that hold its values are found by object
// name, so an area that has not built a control yet simply keeps its default.
#pragma once

#include "transport/session.h"

#include <QMainWindow>
#include <QMap>

class QAction;
class QComboBox;
class QMenu;
class QTabWidget;

namespace qvx {

class ConsolePanel;
class MetersTab;
class ReadoutTab;
class SettingsTab;
class StatusPanel;
class OptionsDialog;
class TFAbout;
class TrafficMonitorWindow;
class TrafficTap;
class ValueTrendsWindow;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // programDir: the program's folder (the settings file, the manual and the
    // log files live there; see program_folder.h for how the program entry
    // picks it); empty means the executable's folder.  The
    // settings file is read here, before the window is first shown.
    explicit TForm1(const QString &programDir = {}, QWidget *parent = nullptr);
    ~TForm1() override;

    Session &session() { return m_session; }
    SettingsTab *settingsTab() const { return m_settingsTab; }
    MetersTab *metersTab() const { return m_metersTab; }
    ReadoutTab *readoutTab() const { return m_readoutTab; }
    ConsolePanel *console() const { return m_console; }
    QTabWidget *tabs() const { return m_tabs; }
    // The "Tools" menu, between "Language" and "Help".
    QMenu *toolsMenu() const { return m_tools; }
    QString settingsFilePath() const;
    // The two windows of the Tools menu, made with the main window so that
    // they record from the start; Tools shows them.
    TrafficMonitorWindow *trafficMonitor() const { return m_trafficMonitor; }
    ValueTrendsWindow *valueTrends() const { return m_valueTrends; }

    // The about box shown by Help > About (created hidden by the program
    // entry; made on first use when none was given).
    void setAboutBox(TFAbout *about) { m_about = about; }
    TFAbout *aboutBox();
    OptionsDialog *optionsDialog() const { return m_options; }

public slots:
    void Exit1Click();           // File > Exit, with confirmation
    void English1Click();        // Language > English
    void About1Click();          // Help > About
    void Usermanual1Click();     // Help > User manual
    void Options1Click();        // Tools > Options...
    void GatewayProfile1Click(); // Tools > Gateway profile...
    void ApplyCaptions();

signals:
    // Emitted once, after the settings were written and the port closed.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenu();
    void buildStatusBar();
    // The serial panel follows the port as it runs now, whoever opened,
    // closed or re-set it (the toggle, a gateway tool, a lost device).
    void followSerialLine();
    void FormCreate();
    void FormClose();
    void readSettings();
    void writeSettings();

    Session m_session;
    QTabWidget *m_tabs;
    SettingsTab *m_settingsTab;
    MetersTab *m_metersTab;
    ReadoutTab *m_readoutTab;
    ConsolePanel *m_console;
    QAction *m_english = nullptr;
    QMenu *m_tools = nullptr;
    OptionsDialog *m_options = nullptr;
    TrafficTap *m_trafficTap = nullptr;
    TrafficMonitorWindow *m_trafficMonitor = nullptr;
    ValueTrendsWindow *m_valueTrends = nullptr;
    StatusPanel *m_statusPanels[4] = {};
    // The serial boxes whose texts the serial panel shows.
    QComboBox *m_serialBoxes[4] = {}; // name, speed, data bits, parity
    // The serial panel shows an open port (so a closing is told).
    bool m_serialShownOpen = false;
    TFAbout *m_about = nullptr;
    // Values as read from the file: written back for keys whose control does
    // not exist, so nothing is lost.
    QMap<QString, QString> m_loaded;
    bool m_closing = false;
};

} // namespace qvx
