// The core's timer interface on a QTimer: the one implementation that the
// program's window and the tools' event loops (gridscope-live, the hub)
// share. Qt Core only: no widgets, no GL.
#pragma once

#include <QTimer>

#include "common/Platform.h"

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

}  // namespace gs
