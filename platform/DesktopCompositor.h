// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace tandrel {

//! True when a compositor draws the desktop, so that a top-level window's
//! transparent pixels show what lies beneath it: always under Wayland, and under
//! X11 while a compositing manager owns the screen's _NET_WM_CM_S selection.
//! Asked once, when the main window is shaped; a compositor started later is not
//! noticed. Needs a QGuiApplication.
bool DesktopComposites();

}  // namespace tandrel
