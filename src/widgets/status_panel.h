// One panel of the status bar: a framed label that says what it is about and
// what it shows together, for the eye and for a screen reader alike.  Its
// accessible name is the role followed by the text ("Serial port:
// /dev/ttyUSB0 - 19200,8,Even"), its tool tip the whole text.  It is at
// least its nominal width and asks for more when its whole text needs it;
// only when the window is too narrow for every panel is a text cut, with an
// ellipsis.
#pragma once

#include <QLabel>

namespace qvx {

class StatusPanel : public QLabel {
    Q_OBJECT
public:
    StatusPanel(const QString &role, int nominalWidth, QWidget *parent = nullptr);

    QString role() const { return m_role; }
    // Shows text and names the panel with it.
    void setPanelText(const QString &text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // What the whole text needs, frame included.
    int textWidth() const;

    QString m_role;
    int m_nominalWidth;
};

} // namespace qvx
