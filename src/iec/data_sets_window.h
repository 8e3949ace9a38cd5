// The "Data sets" window of the readout tab: every data set of the bytes
// captured, read by the data set reader (several on a line, further values,
// no identification line), as a table with the code, the OBIS table's name,
// the value and unit the meter sent and the further values; "Export CSV..."
// writes the table as the tool's other exports are written.  It does not
// block the main window, and follows the capture while it is shown.
#pragma once

#include <QByteArray>
#include <QWidget>

class QLabel;
class QPushButton;

namespace qvx {

class Session;
class StringGrid;

class DataSetsWindow : public QWidget {
    Q_OBJECT
public:
    DataSetsWindow(Session &session, QWidget *parent = nullptr);

    // Reads capture anew into the table.
    void showCapture(const QByteArray &capture);

    StringGrid *grid() const { return m_grid; }
    QLabel *summary() const { return m_summary; }

public slots:
    void ExportCsvClick();

private:
    Session &m_session;
    QLabel *m_summary;
    StringGrid *m_grid;
    QPushButton *m_export;
};

} // namespace qvx
