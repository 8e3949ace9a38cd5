// The "   Diagnostic/Readout   " tab.  For now it holds the controls the main
// window touches at start-up (the readout text and the parsed table); the
// IEC 62056-21 session and its parsing come with their own work.
#pragma once

#include <QWidget>

class QPlainTextEdit;

namespace qvx {

class Session;
class StringGrid;

class ReadoutTab : public QWidget {
    Q_OBJECT
public:
    ReadoutTab(Session &session, QWidget *parent = nullptr);

    StringGrid *gridIEC() const { return m_gridIEC; }
    QPlainTextEdit *memoReadout() const { return m_memo; }

    // Line of Memo_readout that receives the next captured bytes.
    int ReadoutLineIndex = 0;

private:
    Session &m_session;
    QPlainTextEdit *m_memo;
    StringGrid *m_gridIEC;
};

} // namespace qvx
