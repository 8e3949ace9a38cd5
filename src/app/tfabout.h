// The about box "QVX-24S -> About": the logo, the title, the version, the
// maker's lines and a "Close" button.  It lives as long as the program and is
// only shown and hidden.
#pragma once

#include <QDialog>

class QLabel;

namespace qvx {

class TFAbout : public QDialog {
    Q_OBJECT
public:
    explicit TFAbout(QWidget *parent = nullptr);

    // The logo as decoded from the embedded JPEG (null if it failed).
    QPixmap logo() const;

    // Centres the box on the screen it is on (or the primary one).
    void centreOnScreen();

public slots:
    void Button_closeClick();

private:
    QLabel *m_logo;
};

} // namespace qvx
