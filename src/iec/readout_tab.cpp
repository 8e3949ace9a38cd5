#include "iec/readout_tab.h"

#include "app/string_grid.h"
#include "transport/session.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>

namespace qvx {

ReadoutTab::ReadoutTab(Session &session, QWidget *parent)
    : QWidget(parent), m_session(session), m_memo(new QPlainTextEdit(this)),
      m_gridIEC(new StringGrid(3, 2, this))
{
    m_memo->setObjectName(QStringLiteral("Memo_readout"));
    m_memo->setAccessibleName(QStringLiteral("Readout"));
    m_memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_gridIEC->setObjectName(QStringLiteral("gridIEC"));
    m_gridIEC->setAccessibleName(QStringLiteral("Readout table"));
    m_gridIEC->setSelectionBehavior(QAbstractItemView::SelectRows);

    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_memo, 1);
    layout->addWidget(m_gridIEC, 1);
}

} // namespace qvx
