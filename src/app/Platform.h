// The app's implementations of the core's platform interfaces: Qt timers
// (qtcore/QtTimer.h, shared with the tools) and the asynchronous key table
// fed by key events (the steady clock is the core's own).
#pragma once

#include <array>

#include "common/Platform.h"
#include "qtcore/QtTimer.h"

class QKeyEvent;

namespace gs {

// Key state by virtual-key code: a key counts as pressed while held, and once
// more after a press that was released before anyone asked.
class KeyTable final : public KeyState {
public:
    // Returns true when the event's key is one the table tracks.
    bool KeyEvent(const QKeyEvent& event, bool down);
    void ReleaseAll();
    void SetActive(bool active) { active_ = active; }

    bool Pressed(int virtualKey) override;
    bool WindowActive() const override { return active_; }

private:
    std::array<bool, 256> held_{};
    std::array<bool, 256> pressedSince_{};
    bool active_ = false;
};

}  // namespace gs
