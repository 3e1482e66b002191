#include "app/Platform.h"

#include <QKeyEvent>

#include "view/FrameLoop.h"

namespace gs {

namespace {

// The virtual-key code of a Qt key, or -1 for keys the camera does not use.
int VirtualKey(const QKeyEvent& event) {
    const bool keypad = event.modifiers() & Qt::KeypadModifier;
    switch (event.key()) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab: return vk::Tab;
        case Qt::Key_Shift: return vk::Shift;
        case Qt::Key_PageUp: return vk::PageUp;
        case Qt::Key_PageDown: return vk::PageDown;
        case Qt::Key_Left: return vk::Left;
        case Qt::Key_Up: return vk::Up;
        case Qt::Key_Right: return vk::Right;
        case Qt::Key_Down: return vk::Down;
        case Qt::Key_N: return vk::N;
        case Qt::Key_Plus: return keypad ? vk::Add : -1;
        case Qt::Key_Minus: return keypad ? vk::Subtract : -1;
        default: return -1;
    }
}

}  // namespace

bool KeyTable::KeyEvent(const QKeyEvent& event, bool down) {
    const int key = VirtualKey(event);
    if (key < 0) return false;
    // Auto-repeat arrives as release/press pairs: the key stays held.
    if (event.isAutoRepeat() && !down) return true;
    held_[key] = down;
    if (down) pressedSince_[key] = true;
    return true;
}

void KeyTable::ReleaseAll() {
    held_.fill(false);
    pressedSince_.fill(false);
}

bool KeyTable::Pressed(int virtualKey) {
    if (virtualKey < 0 || virtualKey >= static_cast<int>(held_.size())) return false;
    const bool pressed = held_[virtualKey] || pressedSince_[virtualKey];
    pressedSince_[virtualKey] = false;
    return pressed;
}

}  // namespace gs
