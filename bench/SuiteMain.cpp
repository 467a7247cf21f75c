// SPDX-License-Identifier: GPL-3.0-or-later
// The benchmark suite's command (bench/run starts it):
//
//   bench_suite [--results FILE] [--command TEXT] [--only receive,send,din,startup,memory,scaling]
//               [--quick]
#include "BenchSuite.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    tandrel::bench::BenchSuite suite(QCoreApplication::arguments());
    return suite.run();
}
