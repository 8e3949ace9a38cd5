#include "widgets/status_panel.h"

#include <QPainter>

namespace qvx {

StatusPanel::StatusPanel(const QString &role, int nominalWidth, QWidget *parent)
    : QLabel(parent), m_role(role), m_nominalWidth(nominalWidth)
{
    setFrameShape(QFrame::StyledPanel);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    setPanelText(QString());
    // Never narrower than nominal, even while the bar is laid out before the
    // window is first shown.
    setMinimumWidth(nominalWidth);
}

void StatusPanel::setPanelText(const QString &text)
{
    setText(text);
    setAccessibleName(text.isEmpty() ? m_role : m_role + QStringLiteral(": ") + text);
    setToolTip(text);
    updateGeometry();
}

int StatusPanel::textWidth() const
{
    // The label's own hint holds the whole text with its frame and indent;
    // a space more keeps the last letter off the frame.
    return QLabel::sizeHint().width() + fontMetrics().horizontalAdvance(QLatin1Char(' '));
}

QSize StatusPanel::sizeHint() const
{
    return {qMax(m_nominalWidth, textWidth()), QLabel::sizeHint().height()};
}

QSize StatusPanel::minimumSizeHint() const
{
    // The nominal width, whatever the text: a long one (a /dev/serial/by-id
    // name) must not widen the window's minimum.
    return {m_nominalWidth, QLabel::minimumSizeHint().height()};
}

void StatusPanel::paintEvent(QPaintEvent *event)
{
    if (width() >= textWidth()) {
        QLabel::paintEvent(event);
        return;
    }
    QFrame::paintEvent(event);
    const int indent = fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2;
    const QRect r = contentsRect().adjusted(indent, 0, -indent, 0);
    QPainter p(this);
    p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter,
               fontMetrics().elidedText(text(), Qt::ElideRight, r.width()));
}

} // namespace qvx
