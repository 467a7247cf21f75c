// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ResultTable.h"

#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace tandrel::testing {
class JackServer;
}

namespace tandrel::bench {

class BenchProcess;

//! The benchmark suite: runs every harness and baseline in turn against a private
//! JACK server, and prints one table. Each figure is a ratio against a baseline
//! measured in the same run, because the machine is small and shared.
class BenchSuite {
public:
    explicit BenchSuite(const QStringList& args);
    ~BenchSuite();
    //! Runs the parts asked for, prints the table and, for a whole run, writes it
    //! to the results file. Returns 1 when a figure could not be taken.
    int run();

    //! Who moves the bytes: Tandrel, the bare RtMidi program, or the bare program
    //! holding the other direction open and idle as Tandrel does.
    enum class Program { Tandrel, Bare, BareBoth };

private:
    bool wanted(const QString& part) const { return only_.isEmpty() || only_.contains(part); }
    QString tool(const QString& name) const { return benchDir_ + QLatin1Char('/') + name; }
    QString gt3sim() const { return buildDir_ + QStringLiteral("/tools/gt3sim/gt3sim"); }
    QProcessEnvironment env(const QString& pacing = {}) const;
    QString writeDump(std::size_t bytes);
    bool startJack();
    bool startDevice();
    //! Stores the idle device as the app's input and output, as a user's setup would.
    void configureDevices();

    struct Transfer {
        bool ok = false;
        double spanMs = 0;
        double cpuMsPerMB = 0;
        double cpuMs = 0;
        double cpuWallMs = 0;  //!< the time `cpuMs` was measured over (the bare programs)
        QString otherPort;     //!< the port of the direction Tandrel left idle, and whether it was open
        double uiCpuMsPerMB = -1;  //!< of that, the user-interface thread's (the app only)
        std::int64_t lost = 0;
        bool exact = false;
        int xruns = 0;
        QString why;
    };
    Transfer receiveOnce(Program who, const QString& file, std::size_t bytes);
    Transfer sendOnce(Program who, const QString& file, std::size_t bytes, const QString& pacing,
                      QMap<QString, QString>* sink = nullptr);
    void compareTransfers(const QString& what, const std::vector<Transfer>& app, const std::vector<Transfer>& bare,
                          const std::vector<Transfer>& both);

    void addTwoClientRows(const QString& what, const std::vector<Transfer>& app, const std::vector<Transfer>& bare,
                          const std::vector<Transfer>& both);

    void measureStartupAndMemory();
    void measureScaling();
    void measureVerify();
    std::optional<double> instructions(const QString& valgrind, const QString& program, const QString& function,
                                       std::size_t bytes);
    void addScalingRow(const QString& measure, const QString& program, const QString& function);
    void measureReceive();
    void measureSend();
    void measureTransfers(const QString& title, const QString& word,
                          const std::function<Transfer(Program who, const QString& file, std::size_t bytes)>& once);
    void measureDin();
    void measureIdle();

    void writeResults(const QString& table) const;

    QString benchDir_, buildDir_, resultsPath_, command_;
    QStringList only_;
    bool quick_ = false;
    QTemporaryDir work_;
    ResultTable table_;
    std::unique_ptr<testing::JackServer> jack_;
    std::unique_ptr<BenchProcess> device_;
    std::map<std::size_t, QString> dumps_;
};

}  // namespace tandrel::bench
