// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DesktopCompositor.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#if defined(TANDREL_HAVE_XCB) && QT_CONFIG(xcb)
#define TANDREL_ASK_X11 1
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#endif

namespace tandrel {

namespace {

#ifdef TANDREL_ASK_X11
// The screen number of a display name such as ":0.1"; 0 when it names none.
int screenOf(const QByteArray& display)
{
    const int colon = display.lastIndexOf(':');
    const int dot = display.indexOf('.', colon < 0 ? 0 : colon);
    return dot < 0 ? 0 : std::atoi(display.constData() + dot + 1);
}

bool x11CompositingManagerRuns()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return false;
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screenOf(qgetenv("DISPLAY")));
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, static_cast<std::uint16_t>(name.size()), name.constData()),
                              nullptr);
    if (!atom)
        return false;
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    if (selection == XCB_ATOM_NONE)
        return false;  // nobody ever named it, so nobody owns it
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
    const bool owned = owner && owner->owner != XCB_NONE;
    std::free(owner);
    return owned;
}
#endif

}  // namespace

bool DesktopComposites()
{
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland")))
        return true;
#ifdef TANDREL_ASK_X11
    if (platform == QLatin1String("xcb"))
        return x11CompositingManagerRuns();
#endif
    return false;
}

}  // namespace tandrel
