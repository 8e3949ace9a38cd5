#include "console/console_panel.h"

#include "app/errors.h"
#include "console/log_view.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qvx {
namespace {

QPushButton *button(const char *name, QWidget *parent)
{
    auto *b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

} // namespace

ConsolePanel::ConsolePanel(QWidget *parent)
    : QWidget(parent), m_log(new LogView(this)), m_print(button("Butt_print", this)),
      m_saveLog(button("BitBtn6", this)), m_clearLog(button("BitBtn5", this)),
      m_commandLabel(new QLabel(this)), m_command(new QLineEdit(this)),
      m_ascii(new QCheckBox(QStringLiteral("ASCII"), this)),
      m_hex(new QCheckBox(QStringLiteral("Hex"), this)), m_send(button("Butt_command_send", this))
{
    // Captions are written by the main window's ApplyCaptions; these are the
    // same texts so the console reads right on its own as well.
    m_print->setText(QStringLiteral("Print"));
    m_print->setEnabled(false); // printing the log is not offered
    m_saveLog->setText(QStringLiteral("Save log"));
    m_clearLog->setText(QStringLiteral("Clear log"));
    m_send->setText(QStringLiteral("Send"));
    m_commandLabel->setText(QStringLiteral("Send custom command RS-485"));

    m_commandLabel->setObjectName(QStringLiteral("Label_command"));
    m_commandLabel->setBuddy(m_command);
    m_command->setObjectName(QStringLiteral("Edit_command"));
    m_command->setMaxLength(250);
    m_command->setAccessibleName(QStringLiteral("Send custom command RS-485"));
    m_ascii->setObjectName(QStringLiteral("Check_ascii"));
    m_hex->setObjectName(QStringLiteral("Check_hex"));

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
}

void ConsolePanel::BitBtn5Click()
{
    guard([this] { m_log->clear(); }, this);
}

} // namespace qvx
