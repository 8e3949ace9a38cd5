#include "console/console_panel.h"

#include "widgets/file_feedback.h"
#include "widgets/guard.h"
#include "widgets/typing_limit.h"
#include "console/hex_command.h"
#include "console/log_view.h"
#include "console/register_pairs.h"
#include "transport/modbus.h"
#include "transport/reply_timer.h"
#include "transport/exchange.h"
#include "transport/session.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

namespace qvx {
namespace {

QPushButton *button(const char *name, QWidget *parent)
{
    auto *b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

// An example the operator can send as it stands: the CRC is computed, so the
// tip never shows a frame the device would reject.
QString commandToolTip()
{
    const QByteArray frame = withCrc(QByteArray::fromHex("010300070001"));
    QString hex;
    for (char byte : frame)
        hex += QStringLiteral("%1 ").arg(static_cast<uint8_t>(byte), 2, 16, QLatin1Char('0')).toUpper();
    return QStringLiteral("Hex: bytes separated by spaces, sent as typed, CRC included (low byte first).\n"
                          "Example, read holding register 7 of unit 1: %1\n"
                          "ASCII: the text is sent as typed.")
        .arg(hex.trimmed());
}

} // namespace

ConsolePanel::ConsolePanel(QWidget *parent)
    : QWidget(parent), m_log(new LogView(this)), m_print(button("Butt_print", this)),
      m_saveLog(button("BitBtn6", this)), m_clearLog(button("BitBtn5", this)),
      m_commandLabel(new QLabel(this)), m_command(new QLineEdit(this)),
      m_ascii(new QCheckBox(QStringLiteral("ASCII"), this)),
      m_hex(new QCheckBox(QStringLiteral("Hex"), this)), m_send(button("Butt_command_send", this)),
      m_timerFreeCommand(new ReplyTimer(600, this))
{
    // Captions are written by the main window's ApplyCaptions; these are the
    // same texts so the console reads right on its own as well.
    m_print->setText(QStringLiteral("Print"));
    m_print->setEnabled(false); // printing the log is not offered
    m_print->setToolTip(QStringLiteral("Printing is not available: use Save log and print the file"));
    m_saveLog->setText(QStringLiteral("Save log"));
    m_clearLog->setText(QStringLiteral("Clear log"));
    m_send->setText(QStringLiteral("Send"));
    m_commandLabel->setText(QStringLiteral("Send custom command RS-485"));

    m_commandLabel->setObjectName(QStringLiteral("Label_command"));
    m_commandLabel->setBuddy(m_command);
    m_command->setObjectName(QStringLiteral("Edit_command"));
    setTypingLimit(m_command, 250);
    m_command->setAccessibleName(QStringLiteral("Send custom command RS-485"));
    m_command->setToolTip(commandToolTip());
    m_ascii->setObjectName(QStringLiteral("Check_ascii"));
    m_hex->setObjectName(QStringLiteral("Check_hex"));
    m_hex->setChecked(true);
    m_timerFreeCommand->setObjectName(QStringLiteral("Timer_free_command"));

    auto *buttons = new QVBoxLayout;
    buttons->addWidget(m_print);
    buttons->addWidget(m_saveLog);
    buttons->addWidget(m_clearLog);
    buttons->addStretch(1);

    auto *command = new QGridLayout;
    command->addWidget(m_commandLabel, 0, 0, 1, 3);
    command->addWidget(m_command, 1, 0, 1, 3);
    command->addWidget(m_ascii, 2, 0);
    command->addWidget(m_hex, 2, 1);
    command->addWidget(m_send, 2, 2);
    command->setRowStretch(3, 1);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_log, 1);
    layout->addLayout(buttons);
    layout->addSpacing(12);
    layout->addLayout(command);

    connect(m_clearLog, &QPushButton::clicked, this, &ConsolePanel::BitBtn5Click);
    connect(m_saveLog, &QPushButton::clicked, this, &ConsolePanel::BitBtn6Click);
    connect(m_send, &QPushButton::clicked, this, &ConsolePanel::Butt_command_sendClick);
    connect(m_ascii, &QCheckBox::clicked, this, &ConsolePanel::Check_asciiClick);
    connect(m_hex, &QCheckBox::clicked, this, &ConsolePanel::Check_hexClick);
    connect(m_timerFreeCommand, &ReplyTimer::timeout, this, &ConsolePanel::Timer_free_commandTimer);
}

void ConsolePanel::attach(Session &session)
{
    m_session = &session;
}

void ConsolePanel::Butt_command_sendClick()
{
    guard(
        [this] {
            if (!m_session)
                return;
            // The custom command is for the serial line only, whatever the
            // TCP link does.  The component's own state is asked as well: a
            // write to a closed port is dropped without a word.
            if (!m_session->SerialPortOpen || !m_session->comm2().isOpen()) {
                m_session->log(QStringLiteral("Serial port is not opened"));
                return;
            }
            const QString text = m_command->text();
            if (text.isEmpty())
                return;
            m_session->clearBuffers();
            // Raw bytes: the window's reply is shown as it comes, not checked
            // against a request.
            m_session->exchange().forget(*m_timerFreeCommand);
            if (m_ascii->isChecked()) {
                // The text as typed, nothing added; one byte per character
                // of the single-byte code page.
                if (!m_session->comm2().writeText(text.toLatin1()))
                    throw QvxError(QStringLiteral("Output buffer is full. Please check comm status."));
            } else {
                if (!sendHex(text))
                    return;
                m_session->WritePending = false;
            }
            // An open window is not restarted: it ends at its first expiry,
            // on whatever has come since the last send.
            m_timerFreeCommand->setInterval(m_session->exchange().settings().timeoutMs);
            m_timerFreeCommand->enable();
        },
        this);
}

bool ConsolePanel::sendHex(const QString &text)
{
    const HexCommand command = ParseHexCommand(text);
    switch (command.error) {
    case HexCommandError::None:
        break;
    case HexCommandError::Conversion:
        // Every group is checked before the first byte goes out, so a slip
        // never leaves a torn frame on a shared bus.
        throw QvxError(hexConversionMessage(command.badGroup));
    case HexCommandError::TooShort:
    case HexCommandError::BadCharacter:
        m_session->log(hexCommandMessage(command.error));
        return false;
    }
    // One write per byte, in the order typed.
    for (char byte : command.bytes)
        m_session->comm2().writeByte(static_cast<uint8_t>(byte));
    return true;
}

void ConsolePanel::Timer_free_commandTimer()
{
    guard(
        [this] {
            if (!m_session) {
                m_timerFreeCommand->disable();
                return;
            }
            const std::optional<WindowReply> window = m_session->exchange().end(*m_timerFreeCommand);
            if (!window)
                return;
            m_session->exchange().logRespond(*window);
            const QByteArray &reply = window->bytes;
            if (m_session->WritePending) {
                // A device write was started inside this window: its reply
                // is the one this window ends on.
                if (!reply.isEmpty()) {
                    const RegisterPairListing listing = ListRegisterPairs(reply);
                    listing.check.reportTo(*m_session);
                    for (const QString &line : listing.lines)
                        m_session->log(line);
                }
                m_session->WritePending = false;
            }
        },
        this);
}

void ConsolePanel::Check_asciiClick()
{
    guard([this] { m_hex->setChecked(!m_ascii->isChecked()); }, this);
}

void ConsolePanel::Check_hexClick()
{
    guard([this] { m_ascii->setChecked(!m_hex->isChecked()); }, this);
}

void ConsolePanel::say(const QString &line)
{
    if (m_session)
        m_session->log(line);
    else
        m_log->appendLine(line);
}

void ConsolePanel::BitBtn5Click()
{
    guard([this] { m_log->clear(); }, this);
}

QString ConsolePanel::logFilePath() const
{
    const QString folder = m_session ? m_session->ProgramDir : QCoreApplication::applicationDirPath() + u'/';
    return folder + QStringLiteral("files/log.txt");
}

void ConsolePanel::BitBtn6Click()
{
    guard(
        [this] {
            QByteArray bytes;
            const QStringList lines = m_log->lines();
            for (const QString &line : lines) {
                bytes += line.toLatin1();
                bytes += "\r\n";
            }
            // The "files" folder is the installation's to provide; it is not
            // created here.  The old log stays whole until the new one is
            // completely on disk (flush before commit: a write into the save
            // file's buffer cannot fail, the flush can).
            const QString path = logFilePath();
            QSaveFile file(path);
            const bool written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() &&
                                 file.flush() && file.commit();
            if (!written) {
                const QString error = file.errorString();
                file.cancelWriting();
                say(QStringLiteral("Can not write file, no rights..."));
                if (m_session)
                    reportFileFailure(*m_session, path, false, error);
            } else if (m_session) {
                reportFileDone(*m_session, FileAction::Saved, lines.size(), path);
            }
        },
        this);
}

} // namespace qvx
