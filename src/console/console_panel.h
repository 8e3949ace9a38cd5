// The operator console below the tabs: the log `Memo_current` with its
// "Print", "Save log" and "Clear log" buttons, and the custom command line.
// The custom command's sending and the log's saving arrive with their own
// work; the controls exist now with their names so that everything else can
// find them.
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qvx {

class LogView;

class ConsolePanel : public QWidget {
    Q_OBJECT
public:
    explicit ConsolePanel(QWidget *parent = nullptr);

    LogView *log() const { return m_log; }
    QLineEdit *command() const { return m_command; }
    QCheckBox *checkAscii() const { return m_ascii; }
    QCheckBox *checkHex() const { return m_hex; }
    QPushButton *sendButton() const { return m_send; }
    QLabel *commandLabel() const { return m_commandLabel; }
    QPushButton *printButton() const { return m_print; }
    QPushButton *saveLogButton() const { return m_saveLog; }
    QPushButton *clearLogButton() const { return m_clearLog; }

public slots:
    void BitBtn5Click(); // "Clear log"

private:
    LogView *m_log;
    QPushButton *m_print;
    QPushButton *m_saveLog;
    QPushButton *m_clearLog;
    QLabel *m_commandLabel;
    QLineEdit *m_command;
    QCheckBox *m_ascii;
    QCheckBox *m_hex;
    QPushButton *m_send;
};

} // namespace qvx
