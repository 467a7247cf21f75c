// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace tandrel {

//! The system's default beep.
class Beeper {
public:
    virtual ~Beeper() = default;
    virtual void Beep() = 0;
};

//! The window system's event loop, as the handlers see it.
class EventLoop {
public:
    virtual ~EventLoop() = default;
    //! Processes the pending window and port events, then returns.
    virtual void DoEvents() = 0;
    //! Ends the program: every window closes and no further handler runs.
    virtual void End() = 0;
};

}  // namespace tandrel
