// Tools > Options...: the program's own options, beside the specified
// settings.  A non-modal dialog made once with the main window (hidden), so
// that its controls are found by object name like every other setting.
#pragma once

#include <QDialog>

class QCheckBox;

namespace qvx {

struct RequestSettings;

class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    OptionsDialog(RequestSettings &settings, QWidget *parent = nullptr);

    // "End reply windows on a complete reply".
    QCheckBox *endOnCompleteReply() const { return m_endOnComplete; }
    // "The adapter echoes what it sends".
    QCheckBox *adapterEchoes() const { return m_adapterEchoes; }

private:
    QCheckBox *m_endOnComplete;
    QCheckBox *m_adapterEchoes;
};

} // namespace qvx
