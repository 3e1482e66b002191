// The app's implementations of the core's platform interfaces: Qt timers
// and the asynchronous key table fed by key events (the steady clock is the
// core's own).
#pragma once

#include <QTimer>

#include <array>

#include "common/Platform.h"

class QKeyEvent;

namespace gs {

// A QTimer seen through the core's timer interface. Setting the interval it
// already has does not restart it.
class QtTimer final : public Timer {
public:
    explicit QtTimer(QTimer& timer) : timer_(timer) {}
    void SetInterval(int ms) override {
        if (timer_.interval() != ms) timer_.setInterval(ms);
    }
    int Interval() const override { return timer_.interval(); }
    void SetEnabled(bool on) override {
        if (on && !timer_.isActive()) timer_.start();
        if (!on) timer_.stop();
    }
    bool Enabled() const override { return timer_.isActive(); }

private:
    QTimer& timer_;
};

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
