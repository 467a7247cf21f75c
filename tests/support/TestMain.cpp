// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the tests inside a QApplication, so that windows can be built and their
// buttons clicked (offscreen, as the test environment sets). A crash prints its
// backtrace first.
#include "support/CrashBacktrace.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    tandrel::testing::installCrashBacktrace();
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tandrel"));
    QApplication::setApplicationName(QStringLiteral("Tandrel"));
    return RUN_ALL_TESTS();
}
