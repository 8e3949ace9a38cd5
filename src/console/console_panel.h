// The operator console below the tabs: the log `Memo_current` with its
// "Print", "Save log" and "Clear log" buttons, and the custom command line,
// which puts raw bytes (hex mode) or text (ASCII mode) on the serial line and
// logs whatever came back when its reply window `Timer_free_command` ends.
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qvx {

class LogView;
class ReplyTimer;
class Session;

class ConsolePanel : public QWidget {
    Q_OBJECT
public:
    explicit ConsolePanel(QWidget *parent = nullptr);

    // The link the custom command uses (its request settings give the reply
    // window's length); without it "Send" does nothing and "Save log" saves
    // below the executable's folder.
    void attach(Session &session);
    ReplyTimer &timerFreeCommand() const { return *m_timerFreeCommand; }
    // Where "Save log" writes: "files/log.txt" below the program's folder.
    QString logFilePath() const;

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
    void Butt_command_sendClick();  // "Send"
    void Timer_free_commandTimer(); // end of the custom command's reply window
    void Check_asciiClick();        // "ASCII"
    void Check_hexClick();          // "Hex"
    void BitBtn5Click();            // "Clear log"
    void BitBtn6Click();            // "Save log"

private:
    // Sends the hex command's bytes; false, after logging why, when the
    // command is refused.  A group that is no hex byte raises the conversion
    // error with nothing sent.
    bool sendHex(const QString &text);
    // One line into the log, through the session when there is one.
    void say(const QString &line);

    LogView *m_log;
    QPushButton *m_print;
    QPushButton *m_saveLog;
    QPushButton *m_clearLog;
    QLabel *m_commandLabel;
    QLineEdit *m_command;
    QCheckBox *m_ascii;
    QCheckBox *m_hex;
    QPushButton *m_send;
    ReplyTimer *m_timerFreeCommand;
    Session *m_session = nullptr;
};

} // namespace qvx
