#include "app/options_dialog.h"

#include "transport/exchange.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qvx {

OptionsDialog::OptionsDialog(RequestSettings &settings, QWidget *parent)
    : QDialog(parent),
      m_endOnComplete(new QCheckBox(QStringLiteral("End reply windows on a complete reply"), this)),
      m_adapterEchoes(new QCheckBox(QStringLiteral("The adapter echoes what it sends"), this))
{
    setObjectName(QStringLiteral("OptionsDialog"));
    setWindowTitle(QStringLiteral("Options"));
    m_endOnComplete->setObjectName(QStringLiteral("CheckEndOnCompleteReply"));
    m_endOnComplete->setChecked(settings.endOnCompleteReply);
    m_endOnComplete->setToolTip(
        QStringLiteral("Off: every reply window lasts the whole time-out.\n"
                       "On: a window ends as soon as a whole reply to its request has come; "
                       "the time-out is then only the longest wait."));
    connect(m_endOnComplete, &QCheckBox::toggled, this,
            [&settings](bool on) { settings.endOnCompleteReply = on; });

    m_adapterEchoes->setObjectName(QStringLiteral("CheckAdapterEchoes"));
    m_adapterEchoes->setChecked(settings.adapterEchoes);
    m_adapterEchoes->setToolTip(QStringLiteral(
        "For a two-wire RS-485 adapter that hands back the bytes it sends: the request's "
        "own bytes at the start of what comes back are dropped before the reply is checked.\n"
        "Off for an adapter that does not echo (a reply would otherwise be taken for the echo)."));
    connect(m_adapterEchoes, &QCheckBox::toggled, this,
            [&settings](bool on) { settings.adapterEchoes = on; });

    auto *note = new QLabel(QStringLiteral("Stored in the settings file, section \"Options\"."), this);
    note->setWordWrap(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setObjectName(QStringLiteral("OptionsClose"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_endOnComplete);
    layout->addWidget(m_adapterEchoes);
    layout->addWidget(note);
    layout->addWidget(buttons);
}

} // namespace qvx
