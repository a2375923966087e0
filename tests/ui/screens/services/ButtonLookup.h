#pragma once

#include <QPushButton>
#include <QWidget>

// The first push button inside `parent` that shows `text`, or null.
inline QPushButton *buttonNamed(QWidget &parent, const QString &text)
{
    for (QPushButton *button : parent.findChildren<QPushButton *>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}
