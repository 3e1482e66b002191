// The font of the dialogs: the small sans serif that their controls' fixed
// places and sizes were laid out for, 8 points at 96 dots an inch. "Arial"
// resolves to a metric-compatible face (Liberation Sans) through fontconfig.
// Given in pixels, so it keeps its proportion to the controls whatever the
// desktop's font resolution; a scaled desktop scales both alike.
#pragma once

#include <QFont>

namespace gs {

inline QFont DialogFont() {
    QFont font("Arial");
    font.setPixelSize(11);
    return font;
}

}  // namespace gs
