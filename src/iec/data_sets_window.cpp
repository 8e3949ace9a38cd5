#include "iec/data_sets_window.h"

#include "iec/iec_dataset_rows.h"
#include "transport/session.h"
#include "widgets/grid_export.h"
#include "widgets/guard.h"
#include "widgets/named_button.h"
#include "widgets/string_grid.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qvx {

DataSetsWindow::DataSetsWindow(Session &session, QWidget *parent)
    : QWidget(parent, Qt::Window), m_session(session), m_summary(new QLabel(this)),
      m_grid(new StringGrid(static_cast<int>(IecDataSetColumns().size()), 2, this)),
      m_export(namedButton("Button_exportDataSets", QStringLiteral("Export CSV..."), this))
{
    setObjectName(QStringLiteral("DataSetsWindow"));
    setWindowTitle(QStringLiteral("Data sets"));
    m_summary->setObjectName(QStringLiteral("Label_dataSetsSummary"));
    m_summary->setWordWrap(true);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_grid->setObjectName(QStringLiteral("Grid_dataSets"));
    m_grid->setAccessibleName(QStringLiteral("Data sets"));
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setRowHeight(18);
    m_grid->setColumnWidths({40, 70, 110, 220, 110, 50, 200});
    const QStringList columns = IecDataSetColumns();
    for (int c = 0; c < columns.size(); ++c)
        m_grid->setCell(c, 0, columns.at(c));
    m_export->setToolTip(QStringLiteral("Save the table as a semicolon-separated file"));
    connect(m_export, &QPushButton::clicked, this, &DataSetsWindow::ExportCsvClick);
    QPushButton *close = namedButton("Button_closeDataSets", QStringLiteral("Close"), this);
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_export);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_grid, 1);
    layout->addLayout(buttons);
    resize(900, 500);
}

void DataSetsWindow::showCapture(const QByteArray &capture)
{
    const IecDataBlock block = ParseIecDataSets(capture);
    const QList<IecDataSetRow> rows = IecDataSetRows(block);
    m_summary->setText(IecDataBlockSummary(block));
    m_summary->setAccessibleName(m_summary->text());
    m_grid->gridModel()->clearCells(1);
    m_grid->setRowCount(qMax(2, static_cast<int>(rows.size()) + 1));
    const int columns = m_grid->colCount();
    for (qsizetype r = 0; r < rows.size(); ++r)
        for (int c = 0; c < columns; ++c)
            m_grid->setCell(c, static_cast<int>(r) + 1, IecDataSetCell(rows.at(r), c));
    m_grid->widenColumnsFor(1, m_grid->rowCount() - 1);
}

void DataSetsWindow::ExportCsvClick()
{
    guard([this] { ExportGridCsv(*m_grid, QStringLiteral("iecdatasets.csv"), m_session.WorkDir, &m_session); },
          this);
}

} // namespace qvx
