// Clicks a toolbar button of the live panel the way a user does: the
// pointer moves onto the button's middle, in the panel's logical pixels,
// then the left button is clicked there.
#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <QWindow>

#include "view/SceneText.h"

namespace gs::test {

inline void ClickToolbar(QWindow& panel, ToolbarButton button) {
    const int pw = panel.width(), ph = panel.height();
    const double from = pw / 28 + static_cast<double>(button * pw) * 5 / 27;
    const QPoint at(static_cast<int>(from + pw * 5.0 / 27 / 2), ph * 14 / 445);
    // The move event itself (QTest would move the X pointer, whose event
    // arrives later), then the click.
    QMouseEvent move(QEvent::MouseMove, at, panel.mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&panel, &move);
    QTest::mouseClick(&panel, Qt::LeftButton, {}, at);
}

}  // namespace gs::test
