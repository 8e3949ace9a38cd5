// A push button with its caption and the object name that tests, the
// settings file and the accessibility tree find it by.
#pragma once

#include <QAnyStringView>
#include <QPushButton>
#include <QString>

namespace qvx {

inline QPushButton *namedButton(QAnyStringView name, const QString &text, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    return b;
}

} // namespace qvx
