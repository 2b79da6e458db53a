// A user's mouse and keys on a list box, as Qt delivers them: press and release on the list's
// viewport (an item's middle, or the empty space below the items), keys to the focused control.
#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QMouseEvent>

#include <gtest/gtest.h>

inline void ClickAt(QWidget* W, QPoint P, Qt::KeyboardModifiers Modifiers = Qt::NoModifier) {
    const QPointF local(P), global(W->mapToGlobal(P));
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Modifiers);
    QApplication::sendEvent(W, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton, Modifiers);
    QApplication::sendEvent(W, &release);
}

inline void ClickRow(QListWidget* List, int Row, Qt::KeyboardModifiers Modifiers = Qt::NoModifier) {
    ClickAt(List->viewport(), List->visualItemRect(List->item(Row)).center(), Modifiers);
}

// The middle of the white space between the last item and the list's bottom edge.
inline void ClickBelowItems(QListWidget* List) {
    const QRect last = List->visualItemRect(List->item(List->count() - 1));
    const int y = (last.bottom() + List->viewport()->height()) / 2;
    EXPECT_GT(y, last.bottom()) << "no empty space below the items";
    ClickAt(List->viewport(), QPoint(List->viewport()->width() / 2, y));
}

inline void PressKey(QWidget* W, int Key, Qt::KeyboardModifiers Modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, Key, Modifiers);
    QApplication::sendEvent(W, &press);
    QKeyEvent release(QEvent::KeyRelease, Key, Modifiers);
    QApplication::sendEvent(W, &release);
}
