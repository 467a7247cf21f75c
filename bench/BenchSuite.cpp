// SPDX-License-Identifier: GPL-3.0-or-later
#include "BenchSuite.h"

#include "BenchDump.h"
#include "BenchProcess.h"
#include "support/JackServer.h"
#include "ProcessStats.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

#include <unistd.h>

using tandrel::bench::BenchProcess;
using tandrel::bench::Fixed;
using tandrel::bench::ResultTable;
using Verdict = tandrel::bench::ResultTable::Verdict;

namespace {

constexpr std::size_t kGt3Dump = 125'000;
constexpr std::size_t kStressDump = 1'000'000;
constexpr std::size_t kLargeDump = 10'000'000;
constexpr double kWireUsPerByte = 320.0;
constexpr double kDinPauseMs = 20.0;
// The private server's cycle: RtMidi hands every JACK event over at the start of a
// cycle, so a message can start only on this grid.
constexpr double kJackPeriodMs = 256.0 / 48.0;
const QString kDevice = QStringLiteral("bench_device");

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

Verdict atMost(double figure, double goal)
{
    return figure <= goal ? Verdict::Met : Verdict::Missed;
}

QString kib(double k)
{
    return Fixed(k / 1024.0, 1) + QStringLiteral(" MiB");
}

QString bytesText(std::size_t n)
{
    return QLocale(QLocale::English).toString(static_cast<qulonglong>(n)) + QStringLiteral(" B");
}

// The key=value pairs of gt3sim's summary line, which starts with `prefix`.
std::map<QString, long long> gt3simSummary(const QString& output, const QString& prefix)
{
    std::map<QString, long long> values;
    for (const QString& line : output.split(QLatin1Char('\n')))
        if (line.startsWith(prefix))
            for (const QString& pair : line.mid(prefix.size()).split(QLatin1Char(' '), Qt::SkipEmptyParts))
                if (const qsizetype eq = pair.indexOf(QLatin1Char('=')); eq > 0)
                    values[pair.left(eq)] = pair.mid(eq + 1).toLongLong();
    return values;
}

void progress(const QString& text)
{
    std::fprintf(stderr, "bench: %s\n", qPrintable(text));
}

QString programName(tandrel::bench::BenchSuite::Program who)
{
    using Program = tandrel::bench::BenchSuite::Program;
    return who == Program::Tandrel ? QStringLiteral("app")
           : who == Program::Bare  ? QStringLiteral("bare")
                                   : QStringLiteral("bare two-client");
}

// The port of the direction the app left idle during a transfer, as it reported it.
QString otherPort(const BenchProcess& p)
{
    return p.value(QStringLiteral("other_port"))
           + (p.integer(QStringLiteral("other_open")) == 1 ? QStringLiteral(" (open)") : QStringLiteral(" (not open)"));
}

QString cpuModel()
{
    QFile file(QStringLiteral("/proc/cpuinfo"));
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& line : file.readAll().split('\n'))
            if (line.startsWith("model name"))
                return QString::fromLocal8Bit(line.mid(line.indexOf(':') + 1)).trimmed();
    return QStringLiteral("unknown");
}

}  // namespace

namespace tandrel::bench {


BenchSuite::~BenchSuite() = default;

BenchSuite::BenchSuite(const QStringList& args)
{
    benchDir_ = QCoreApplication::applicationDirPath();
    buildDir_ = QFileInfo(benchDir_).dir().absolutePath();
    const auto option = [&](const QString& name) {
        const auto at = args.indexOf(name);
        return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : QString();
    };
    resultsPath_ = option(QStringLiteral("--results"));
    command_ = option(QStringLiteral("--command")).trimmed();
    if (command_.isEmpty())
        command_ = args.join(QLatin1Char(' '));
    only_ = option(QStringLiteral("--only")).split(QLatin1Char(','), Qt::SkipEmptyParts);
    quick_ = args.contains(QStringLiteral("--quick"));
}

QProcessEnvironment BenchSuite::env(const QString& pacing) const
{
    // JACK_DEFAULT_SERVER comes from the JACK server, which set it in this process.
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    e.insert(QStringLiteral("XDG_CONFIG_HOME"), work_.filePath(QStringLiteral("config")));
    e.insert(QStringLiteral("JACK_NO_START_SERVER"), QStringLiteral("1"));
    e.insert(QStringLiteral("TANDREL_MIDI_API"), QStringLiteral("jack"));
    if (!pacing.isEmpty())
        e.insert(QStringLiteral("TANDREL_MIDI_PACING"), pacing);
    return e;
}

QString BenchSuite::writeDump(std::size_t bytes)
{
    if (const auto it = dumps_.find(bytes); it != dumps_.end())
        return it->second;
    const QString path = work_.filePath(QStringLiteral("dump-%1.syx").arg(bytes));
    // gt3sim lays the dump out as the GT-3 does; our own maker stands in without it.
    BenchProcess generate(gt3sim(), {QStringLiteral("generate"), path, QStringLiteral("--size"), QString::number(bytes)}, env());
    if (generate.finish(60000) && QFileInfo(path).size() == static_cast<qint64>(bytes)) {
        dumps_[bytes] = path;
        return path;
    }
    const std::string dump = tandrel::bench::MakeDump(bytes);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(dump.data(), static_cast<qint64>(dump.size())) != static_cast<qint64>(dump.size()))
        return {};
    dumps_[bytes] = path;
    return path;
}

bool BenchSuite::startJack()
{
    if (jack_)
        return jack_->ok();
    if (!tandrel::testing::JackServer::installed()) {
        table_.note(QStringLiteral("jackd2 is not installed: the MIDI figures were not measured"));
        return false;
    }
    progress(QStringLiteral("starting a private JACK server"));
    jack_ = std::make_unique<tandrel::testing::JackServer>(std::chrono::minutes(5));
    if (!jack_->ok())
        table_.note(QStringLiteral("the private JACK server did not start: ") + jack_->error());
    else if (!jack_->realtime())
        table_.note(QStringLiteral("the JACK server ran without realtime scheduling (not permitted here), so a busy "
                                   "machine can drop MIDI cycles; see the xrun counts"));
    return jack_->ok();
}

// An idle MIDI device (one input, one output) that the app opens at start-up, as a
// user's app opens the GT-3's interface.
bool BenchSuite::startDevice()
{
    if (device_)
        return device_->has(QStringLiteral("ready"));
    if (!startJack())
        return false;
    device_ = std::make_unique<BenchProcess>(tool(QStringLiteral("bench_rtmidi")),
                                             QStringList{QStringLiteral("device"), QStringLiteral("--name"), kDevice}, env());
    if (!device_->waitFor(QStringLiteral("ready"), 10000)) {
        table_.note(QStringLiteral("the idle MIDI device did not start: ") + device_->failure());
        return false;
    }
    return true;
}

void BenchSuite::configureDevices()
{
    BenchProcess configure(tool(QStringLiteral("bench_app")),
                           {QStringLiteral("configure"), QStringLiteral("--input"), kDevice, QStringLiteral("--output"), kDevice},
                           env());
    if (!configure.finish(30000))
        table_.note(QStringLiteral("the app harness did not find the idle device (%1); start-up opened the default devices")
                        .arg(configure.failure()));
    progress(QStringLiteral("the app will open input %1 and output %2 at start-up; ports: %3")
                 .arg(configure.value(QStringLiteral("input")), configure.value(QStringLiteral("output")),
                      jack_->ports().join(QLatin1Char(' '))));
}

// 4 and 5. Start-up and memory, both against the bare Qt program. The app needs
// MIDI devices to open at start-up as a user's would, so an idle device stands by.
void BenchSuite::measureStartupAndMemory()
{
    const QString startupMeasure = QStringLiteral("4. Start-up to first paint of Ready");
    if (!startDevice()) {
        table_.failed(startupMeasure, QStringLiteral("≤ 1.5"), QStringLiteral("no MIDI device"));
        return;
    }
    // The transfer runs stored devices of their own.
    configureDevices();

    struct Run {
        double ms = 0;
        double peakKiB = 0;
        bool ok = false;
        QString why;
        std::map<QString, double> stepMs;  //!< start-up's steps, from the spawn
    };
    // The steps each program reports, in the order start-up takes them.
    const QStringList steps{QStringLiteral("qapplication"), QStringLiteral("clients_ahead"), QStringLiteral("window_built"),
                            QStringLiteral("midi_open"), QStringLiteral("form_load"), QStringLiteral("shown")};
    const auto startup = [&](const QString& program, const QStringList& args) {
        BenchProcess p(program, args, env());
        Run r;
        r.ok = p.finish(60000) && p.has(QStringLiteral("paint_ns"));
        r.ms = static_cast<double>(p.integer(QStringLiteral("paint_ns")) - p.spawnNs()) / 1e6;
        r.peakKiB = p.number(QStringLiteral("peak_rss_kib"));
        for (const QString& step : steps)
            if (p.has(step + QStringLiteral("_ns")))
                r.stepMs[step] = static_cast<double>(p.integer(step + QStringLiteral("_ns")) - p.spawnNs()) / 1e6;
        if (p.has(QStringLiteral("ready")) && p.integer(QStringLiteral("ready")) != 1) {
            r.ok = false;
            r.why = QStringLiteral("the window was not in the Ready state at its first paint");
        }
        if (p.integer(QStringLiteral("boxes")) > 0)
            r.why = QStringLiteral("start-up showed %1 message box(es): %2")
                        .arg(p.integer(QStringLiteral("boxes")))
                        .arg(p.value(QStringLiteral("box_text")));
        if (!r.ok && r.why.isEmpty())
            r.why = p.failure();
        return r;
    };
    const QString bare = tool(QStringLiteral("bench_bare_qt"));
    const QString app = tool(QStringLiteral("bench_app"));

    const QString fair = tool(QStringLiteral("bench_bare_midi"));
    const QStringList fairArgs{QStringLiteral("--device"), kDevice};

    if (wanted(QStringLiteral("startup"))) {
        progress(QStringLiteral("start-up"));
        const int rounds = quick_ ? 5 : 15;
        // The app, the window with the same MIDI clients, the bare window.
        const std::vector<std::pair<QString, QStringList>> programs{
            {app, {QStringLiteral("startup")}}, {fair, fairArgs}, {bare, {}}};
        std::vector<std::vector<double>> ms(programs.size());
        std::vector<std::map<QString, std::vector<double>>> stepMs(programs.size());
        QString why;
        for (const auto& [program, args] : programs)
            startup(program, args);  // warm the page cache for all
        for (int i = 0; i < rounds; ++i) {
            // Rotating the order keeps a drift of the machine out of the ratios.
            for (std::size_t k = 0; k < programs.size(); ++k) {
                const std::size_t which = (i + k) % programs.size();
                const Run r = startup(programs[which].first, programs[which].second);
                if (!r.ok || !r.why.isEmpty())
                    why = r.why;
                if (r.ok) {
                    ms[which].push_back(r.ms);
                    for (const auto& [step, at] : r.stepMs)
                        stepMs[which][step].push_back(at);
                }
            }
        }
        const auto row = [&](const QString& measure, const QString& baseline, const std::vector<double>& base,
                             const QString& goal, double limit) {
            if (ms[0].empty() || base.empty()) {
                table_.failed(measure, goal, why);
                return;
            }
            const double ratio = median(ms[0]) / median(base);
            table_.add({measure, Fixed(median(ms[0]), 1) + QStringLiteral(" ms"),
                        Fixed(median(base), 1) + QStringLiteral(" ms") + baseline, Fixed(ratio, 2) + QStringLiteral("×"),
                        goal, limit > 0 ? atMost(ratio, limit) : Verdict::Info});
        };
        row(QStringLiteral("4. Start-up to first paint of Ready, against the same window and MIDI clients"),
            QStringLiteral(" (window + MIDI)"), ms[1], QStringLiteral("≤ 1.2"), 1.2);
        row(QStringLiteral("4. Start-up to first paint of Ready, against a bare window"), QStringLiteral(" (bare window)"),
            ms[2], QStringLiteral("—"), 0);
        // Where the time goes: the median moment each step ended, from the spawn.
        for (std::size_t k = 0; k < 2; ++k) {
            QStringList at;
            for (const QString& step : steps)
                if (const auto it = stepMs[k].find(step); it != stepMs[k].end())
                    at << QStringLiteral("%1 %2 ms").arg(step, Fixed(median(it->second), 1));
            if (!at.isEmpty() && !ms[k].empty())
                table_.note(QStringLiteral("4. Start-up steps of %1 (median end from the spawn): %2, first paint %3 ms")
                                .arg(k == 0 ? QStringLiteral("Tandrel") : QStringLiteral("the window + MIDI baseline"),
                                     at.join(QStringLiteral(", ")), Fixed(median(ms[k]), 1)));
        }
        if (!why.isEmpty())
            table_.note(startupMeasure + QStringLiteral(": ") + why);
    }

    if (wanted(QStringLiteral("memory"))) {
        progress(QStringLiteral("memory"));
        const auto peak = [&](const QString& program, QStringList args) {
            std::vector<double> peaks;
            QString why;
            for (int i = 0; i < 3; ++i) {
                const Run r = startup(program, args);
                if (r.ok)
                    peaks.push_back(r.peakKiB);
                else
                    why = r.why;
            }
            return std::make_pair(peaks.size() == 3 ? median(peaks) : -1.0, why);
        };
        const auto [bareIdle, bareWhy] = peak(bare, {});
        const auto [appIdle, appWhy] = peak(app, {QStringLiteral("hold")});
        if (bareIdle < 0 || appIdle < 0) {
            table_.failed(QStringLiteral("5. Memory"), QStringLiteral("≤ 2×"), bareWhy + appWhy);
            return;
        }
        const auto [fairIdle, fairWhy] = peak(fair, fairArgs);
        table_.add({QStringLiteral("5. Memory, peak RSS holding no dump"), kib(appIdle), kib(bareIdle) + QStringLiteral(" (bare window)"),
                    Fixed(appIdle / bareIdle, 2) + QStringLiteral("×"), QStringLiteral("—"), Verdict::Info});
        if (fairIdle > 0)
            table_.add({QStringLiteral("5. Memory, peak RSS holding no dump, against the same window and MIDI clients"),
                        kib(appIdle), kib(fairIdle) + QStringLiteral(" (window + MIDI)"),
                        Fixed(appIdle / fairIdle, 2) + QStringLiteral("×"), QStringLiteral("—"), Verdict::Info});
        // Where it goes: resident KiB by mapping at the first paint, largest first.
        for (const auto& [program, args, who] :
             {std::tuple{app, QStringList{QStringLiteral("startup")}, QStringLiteral("Tandrel")},
              std::tuple{fair, fairArgs, QStringLiteral("window + MIDI")}}) {
            BenchProcess p(program, args, env());
            if (p.finish(60000))
                table_.note(QStringLiteral("5. Resident KiB at first paint, %1: %2").arg(who, p.value(QStringLiteral("rss_where"))));
        }
        for (const std::size_t size : {kGt3Dump, kLargeDump}) {
            const QString path = writeDump(size);
            const auto [appHeld, appHeldWhy] = peak(app, {QStringLiteral("hold"), path});
            const auto [bareHeld, bareHeldWhy] = peak(bare, {path});
            const QString measure = QStringLiteral("5. Memory, cost of holding %1 (peak RSS added ÷ size)").arg(bytesText(size));
            if (appHeld < 0 || bareHeld < 0) {
                table_.failed(measure, QStringLiteral("≤ 2×"), appHeldWhy + bareHeldWhy);
                continue;
            }
            const double appCost = (appHeld - appIdle) * 1024.0 / static_cast<double>(size);
            const double bareCost = (bareHeld - bareIdle) * 1024.0 / static_cast<double>(size);
            table_.add({measure, Fixed(appCost, 2) + QStringLiteral("×"), Fixed(bareCost, 2) + QStringLiteral("×"),
                        Fixed(appCost, 2) + QStringLiteral("×"), QStringLiteral("≤ 2×"), atMost(appCost, 2.0)});
        }
    }
}

// Instructions callgrind counts in `function` alone while `program` handles a dump of `bytes`.
std::optional<double> BenchSuite::instructions(const QString& valgrind, const QString& program, const QString& function,
                                               std::size_t bytes)
{
    const QString out = work_.filePath(QStringLiteral("callgrind.%1.%2").arg(program).arg(bytes));
    BenchProcess p(valgrind,
                   {QStringLiteral("--tool=callgrind"), QStringLiteral("--callgrind-out-file=") + out,
                    QStringLiteral("--collect-atstart=no"), QStringLiteral("--toggle-collect=") + function,
                    tool(program), QString::number(bytes)},
                   env());
    if (!p.finish(300000) || p.integer(QStringLiteral("bytes")) != static_cast<std::int64_t>(bytes))
        return std::nullopt;
    // The totals line of the profile: every instruction collected.
    QFile file(out);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    static const QRegularExpression totals(QStringLiteral("^(?:summary|totals): (\\d+)"),
                                           QRegularExpression::MultilineOption);
    const auto m = totals.match(QString::fromLatin1(file.readAll()));
    return m.hasMatch() ? std::optional<double>(m.captured(1).toDouble()) : std::nullopt;
}

// The ratio of the instructions for a 10 MB and a 1 MB dump, as a row.
void BenchSuite::addScalingRow(const QString& measure, const QString& program, const QString& function)
{
    const QString valgrind = QStandardPaths::findExecutable(QStringLiteral("valgrind"));
    if (valgrind.isEmpty()) {
        table_.failed(measure, QStringLiteral("9 to 11"), QStringLiteral("valgrind is not installed"));
        return;
    }
    const auto small = instructions(valgrind, program, function, kStressDump);
    const auto large = instructions(valgrind, program, function, kLargeDump);
    if (!small || !large || *small <= 0) {
        table_.failed(measure, QStringLiteral("9 to 11"), QStringLiteral("callgrind gave no count"));
        return;
    }
    const double ratio = *large / *small;
    table_.add({measure, QLocale(QLocale::English).toString(*large, 'f', 0) + QStringLiteral(" Ir"),
                QLocale(QLocale::English).toString(*small, 'f', 0) + QStringLiteral(" Ir"), Fixed(ratio, 2) + QStringLiteral("×"),
                QStringLiteral("9 to 11"), ratio >= 9 && ratio <= 11 ? Verdict::Met : Verdict::Missed});
}

// 6. Instructions to cut a dump into messages, counted by callgrind in the cutting
// function alone.
void BenchSuite::measureScaling()
{
    progress(QStringLiteral("scaling (callgrind)"));
    addScalingRow(QStringLiteral("6. Scaling: instructions to cut 10 MB ÷ 1 MB"), QStringLiteral("bench_cut"),
                  QStringLiteral("tandrel_bench_cut_all"));
}

// 7. Verifying a dump: the wall time for 10 MB against one plain pass over its
// bytes, and the instructions for 10 MB against 1 MB.
void BenchSuite::measureVerify()
{
    progress(QStringLiteral("verify"));
    const QString measure = QStringLiteral("7. Verify 10,000,000 B (median wall time)");
    BenchProcess p(tool(QStringLiteral("bench_verify")), {QStringLiteral("--time"), QString::number(kLargeDump)}, env());
    const bool ran = p.finish(120000);
    const std::int64_t verifyNs = p.integer(QStringLiteral("verify_ns")), plainNs = p.integer(QStringLiteral("plain_ns"));
    if (!ran || verifyNs <= 0 || plainNs <= 0) {
        table_.failed(measure, QStringLiteral("< 50 ms"), QStringLiteral("bench_verify gave no time"));
    } else {
        const double ms = verifyNs / 1e6, plainMs = plainNs / 1e6;
        table_.add({measure, Fixed(ms, 1) + QStringLiteral(" ms"), Fixed(plainMs, 1) + QStringLiteral(" ms (one plain pass)"),
                    Fixed(ms / plainMs, 2) + QStringLiteral("×"), QStringLiteral("< 50 ms"),
                    ms < 50 ? Verdict::Met : Verdict::Missed});
    }
    addScalingRow(QStringLiteral("7. Scaling: instructions to verify 10 MB ÷ 1 MB"), QStringLiteral("bench_verify"),
                  QStringLiteral("tandrel_bench_verify_all"));
}

// One receive: the receiver opens its input on the idle device and starts, then
// gt3sim connects straight to the receiver's port and plays the dump at fast pacing.
BenchSuite::Transfer BenchSuite::receiveOnce(Program who, const QString& file, std::size_t bytes)
{
    Transfer t;
    const bool app = who == Program::Tandrel;
    const int xrunsBefore = jack_->xruns();
    const QString program = tool(app ? QStringLiteral("bench_app") : QStringLiteral("bench_rtmidi"));
    const QString port = app ? QStringLiteral("Tandrel In:in") : QStringLiteral("bench_rtmidi_in:in");
    QStringList args{QStringLiteral("receive"), QStringLiteral("--source"), kDevice, QStringLiteral("--bytes"),
                     QString::number(bytes), QStringLiteral("--file"), file};
    // Tandrel's output stays on its own virtual port, which nothing connects to.
    if (who == Program::BareBoth)
        args << QStringLiteral("--both");
    BenchProcess rx(program, args, env());
    if (!rx.waitFor(QStringLiteral("ready"), 30000) || !jack_->waitForPort(port)) {
        t.why = rx.failure();
        return t;
    }
    BenchProcess tx(gt3sim(),
                    {QStringLiteral("transmit"), file, QStringLiteral("--pacing"), QStringLiteral("fast"), QStringLiteral("--name"),
                     QStringLiteral("bench_sim"), QStringLiteral("--connect"), port},
                    env());
    const bool sent = tx.finish(120000);
    const bool received = rx.finish(60000);
    if (!sent || !received || !rx.has(QStringLiteral("last_ns"))) {
        t.why = !sent ? tx.failure() : rx.failure();
        return t;
    }
    t.ok = true;
    t.xruns = jack_->xruns() - xrunsBefore;
    t.spanMs = static_cast<double>(rx.integer(QStringLiteral("last_ns")) - rx.integer(QStringLiteral("first_ns"))) / 1e6;
    t.cpuMs = rx.number(QStringLiteral("cpu_us")) / 1000.0;
    t.cpuMsPerMB = t.cpuMs / (static_cast<double>(bytes) / 1e6);
    t.cpuWallMs = rx.number(QStringLiteral("cpu_wall_us")) / 1000.0;
    t.otherPort = otherPort(rx);
    if (rx.has(QStringLiteral("ui_cpu_us")))
        t.uiCpuMsPerMB = rx.number(QStringLiteral("ui_cpu_us")) / 1000.0 / (static_cast<double>(bytes) / 1e6);
    t.lost = rx.integer(QStringLiteral("lost"));
    t.exact = rx.integer(QStringLiteral("exact")) == 1;
    if (!t.exact)
        t.why = QStringLiteral("%1 receiver: %2 of %3 bytes held, the first difference at byte %4")
                    .arg(programName(who))
                    .arg(rx.integer(QStringLiteral("bytes")))
                    .arg(bytes)
                    .arg(rx.integer(QStringLiteral("first_difference")));
    if (app && rx.integer(QStringLiteral("boxes")) > 0)
        t.why = QStringLiteral("the app showed %1 message box(es) while receiving").arg(rx.integer(QStringLiteral("boxes")));
    return t;
}

// One send: gt3sim listens on its own port, the sender opens its output on it and
// sends the dump; gt3sim records what arrives.
BenchSuite::Transfer BenchSuite::sendOnce(Program who, const QString& file, std::size_t bytes, const QString& pacing,
                                QMap<QString, QString>* sink)
{
    Transfer t;
    const bool app = who == Program::Tandrel;
    const int xrunsBefore = jack_->xruns();
    const QString received = work_.filePath(QStringLiteral("received.syx"));
    QFile::remove(received);
    BenchProcess rx(gt3sim(),
                    {QStringLiteral("receive"), received, QStringLiteral("--expect-bytes"), QString::number(bytes),
                     QStringLiteral("--name"), QStringLiteral("bench_sink"), QStringLiteral("--idle-ms"), QStringLiteral("5000"),
                     QStringLiteral("--min-pause-ms"), pacing == QLatin1String("din") ? QStringLiteral("20") : QStringLiteral("0"),
                     QStringLiteral("--timeout-ms"), QStringLiteral("300000")},
                    env());
    if (!jack_->waitForPort(QStringLiteral("bench_sink:in"))) {
        t.why = rx.failure();
        return t;
    }
    QStringList args{QStringLiteral("send"), QStringLiteral("--dest"), QStringLiteral("bench_sink"), QStringLiteral("--file"), file,
                     QStringLiteral("--pacing"), pacing};
    // Tandrel's input stays open on the first source it lists, the idle device's output.
    if (who == Program::BareBoth)
        args << QStringLiteral("--both") << QStringLiteral("--other-source") << kDevice;
    BenchProcess tx(tool(app ? QStringLiteral("bench_app") : QStringLiteral("bench_rtmidi")), args, env(pacing));
    const bool sent = tx.finish(300000);
    rx.finish(30000);  // fails when bytes are missing, which is reported as lost
    if (!sent || !tx.has(QStringLiteral("last_tx_end_ns"))) {
        t.why = tx.failure();
        return t;
    }
    const auto summary = gt3simSummary(rx.output(), QStringLiteral("gt3sim receive:"));
    if (summary.find(QStringLiteral("bytes")) == summary.end()) {
        t.why = rx.failure();
        return t;
    }
    QFile in(file), out(received);
    t.ok = true;
    t.xruns = jack_->xruns() - xrunsBefore;
    const QByteArray expected = in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    const QByteArray arrived = out.open(QIODevice::ReadOnly) ? out.readAll() : QByteArray();
    t.exact = expected == arrived;
    t.lost = std::max<std::int64_t>(0, static_cast<std::int64_t>(bytes) - summary.at(QStringLiteral("bytes")));
    if (!t.exact) {
        qsizetype at = 0;
        while (at < expected.size() && at < arrived.size() && expected[at] == arrived[at])
            ++at;
        t.why = QStringLiteral("%1 sender: %2 of %3 bytes arrived, the first difference at byte %4 (gt3sim: %5)")
                    .arg(programName(who))
                    .arg(arrived.size())
                    .arg(expected.size())
                    .arg(at)
                    .arg(rx.output().trimmed());
    }
    t.spanMs = static_cast<double>(tx.integer(QStringLiteral("last_tx_end_ns")) - tx.integer(QStringLiteral("first_ns"))) / 1e6;
    t.cpuMs = tx.number(QStringLiteral("cpu_us")) / 1000.0;
    t.cpuMsPerMB = t.cpuMs / (static_cast<double>(bytes) / 1e6);
    t.cpuWallMs = tx.number(QStringLiteral("cpu_wall_us")) / 1000.0;
    t.otherPort = otherPort(tx);
    if (tx.has(QStringLiteral("ui_cpu_us")))
        t.uiCpuMsPerMB = tx.number(QStringLiteral("ui_cpu_us")) / 1000.0 / (static_cast<double>(bytes) / 1e6);
    if (app && (tx.integer(QStringLiteral("errors")) > 0 || tx.integer(QStringLiteral("boxes")) > 0))
        t.why += QStringLiteral(" the output port reported %1 error(s): %2")
                     .arg(tx.integer(QStringLiteral("errors")))
                     .arg(tx.value(QStringLiteral("box_text")));
    if (sink) {
        for (const QString& line : tx.output().split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            if (const auto eq = line.indexOf(QLatin1Char('=')); eq > 0)
                sink->insert(line.left(eq), line.mid(eq + 1));
        for (const auto& [key, value] : summary)
            sink->insert(QStringLiteral("sink_") + key, QString::number(value));
    }
    return t;
}

void BenchSuite::compareTransfers(const QString& what, const std::vector<Transfer>& app, const std::vector<Transfer>& bare,
                                  const std::vector<Transfer>& both)
{
    std::vector<double> appSpan, bareSpan, appCpu, bareCpu, appUiCpu;
    std::int64_t appLost = 0, bareLost = 0;
    bool appExact = true, bareExact = true;
    int appXruns = 0, bareXruns = 0, appLossy = 0, bareLossy = 0;
    for (const Transfer& t : app) {
        appLossy += t.lost > 0 || !t.exact;
        appSpan.push_back(t.spanMs);
        appCpu.push_back(t.cpuMsPerMB);
        if (t.uiCpuMsPerMB >= 0)
            appUiCpu.push_back(t.uiCpuMsPerMB);
        appLost = std::max(appLost, t.lost);
        appExact = appExact && t.exact;
        appXruns += t.xruns;
    }
    for (const Transfer& t : bare) {
        bareLossy += t.lost > 0 || !t.exact;
        bareSpan.push_back(t.spanMs);
        bareCpu.push_back(t.cpuMsPerMB);
        bareLost = std::max(bareLost, t.lost);
        bareExact = bareExact && t.exact;
        bareXruns += t.xruns;
    }
    const double ratio = median(appSpan) / median(bareSpan);
    table_.add({what + QStringLiteral(", first to last byte"), Fixed(median(appSpan), 1) + QStringLiteral(" ms"),
                Fixed(median(bareSpan), 1) + QStringLiteral(" ms"), Fixed(ratio, 2) + QStringLiteral("×"),
                QStringLiteral("≤ 1.2"), atMost(ratio, 1.2)});
    const double cpuRatio = median(appCpu) / std::max(median(bareCpu), 1e-9);
    table_.add({what + QStringLiteral(", CPU per MB"), Fixed(median(appCpu), 0) + QStringLiteral(" ms/MB"),
                Fixed(median(bareCpu), 0) + QStringLiteral(" ms/MB"), Fixed(cpuRatio, 2) + QStringLiteral("×"),
                QStringLiteral("≤ 2"), atMost(cpuRatio, 2.0)});
    addTwoClientRows(what, app, bare, both);
    if (!appUiCpu.empty())
        table_.note(QStringLiteral("%1: of Tandrel's %2 ms/MB, the user-interface thread used %3 ms/MB; the rest is the "
                                   "MIDI library's and the JACK clients' threads")
                        .arg(what, Fixed(median(appCpu), 0), Fixed(median(appUiCpu), 0)));
    const auto lostText = [](std::int64_t lost, int lossy, int xruns, std::size_t runs) {
        return QString::number(lost) + QStringLiteral(" (%1 of %2 runs short; %3 xruns)").arg(lossy).arg(runs).arg(xruns);
    };
    table_.add({what + QStringLiteral(", bytes lost (worst run)"), lostText(appLost, appLossy, appXruns, app.size()),
                lostText(bareLost, bareLossy, bareXruns, bare.size()), QString::number(appLost), QStringLiteral("0"),
                appLost == 0 && appExact ? Verdict::Met : Verdict::Missed});
}

// 1. Receive at fast pacing into the real input path, against a bare callback receiver.
void BenchSuite::measureReceive()
{
    measureTransfers(QStringLiteral("1. Receive"), QStringLiteral("receive"),
                     [this](Program who, const QString& file, std::size_t size) { return receiveOnce(who, file, size); });
}

// 2. The app's send loop at fast pacing, against a bare sender paced the same way.
void BenchSuite::measureSend()
{
    measureTransfers(QStringLiteral("2. Send"), QStringLiteral("send"), [this](Program who, const QString& file, std::size_t size) {
        return sendOnce(who, file, size, QStringLiteral("fast"));
    });
}

// Runs the app, the bare program and the bare program with both directions open in
// turn, rotating who goes first, on the GT-3 dump and the stress dump, and compares them.
void BenchSuite::measureTransfers(const QString& title, const QString& word,
                                  const std::function<Transfer(Program, const QString&, std::size_t)>& once)
{
    for (const std::size_t size : {kGt3Dump, kStressDump}) {
        const QString what = QStringLiteral("%1 %2 at fast pacing").arg(title, bytesText(size));
        if (!startDevice()) {
            table_.failed(what, QStringLiteral("≤ 1.2, 0 lost"), QStringLiteral("no MIDI device"));
            continue;
        }
        progress(word + QLatin1Char(' ') + bytesText(size));
        const QString file = writeDump(size);
        const int rounds = quick_ ? 1 : size == kGt3Dump ? 5 : 3;
        constexpr Program kPrograms[] = {Program::Tandrel, Program::Bare, Program::BareBoth};
        std::vector<Transfer> runs[3];
        QString why;
        for (int i = 0; i < rounds; ++i)
            for (int k = 0; k < 3; ++k) {
                const int which = (i + k) % 3;
                const Transfer t = once(kPrograms[which], file, size);
                if (!t.why.isEmpty())
                    why += (why.isEmpty() ? QString() : QStringLiteral("; ")) + t.why;
                if (t.ok)
                    runs[which].push_back(t);
            }
        const auto& [app, bare, both] = runs;
        if (app.empty() || bare.empty())
            table_.failed(what, QStringLiteral("≤ 1.2, 0 lost"), why);
        else
            compareTransfers(what, app, bare, both);
        if (!why.isEmpty() && !app.empty() && !bare.empty())
            table_.note(what + QStringLiteral(": ") + why);
    }
}

// Tandrel keeps an input and an output open, each a JACK client woken at every
// cycle; the bare programs open one. Against the bare program with both open, and
// what the idle one costs it.
void BenchSuite::addTwoClientRows(const QString& what, const std::vector<Transfer>& app, const std::vector<Transfer>& bare,
                                  const std::vector<Transfer>& both)
{
    const QString measure = what + QStringLiteral(", CPU per MB, against the same two MIDI clients");
    if (both.empty()) {
        table_.failed(measure, QStringLiteral("—"), QStringLiteral("the bare program with two clients did not finish"));
        return;
    }
    const auto medianOf = [](const std::vector<Transfer>& runs, double Transfer::*field) {
        std::vector<double> values;
        for (const Transfer& t : runs)
            values.push_back(t.*field);
        return median(values);
    };
    const double appCpu = medianOf(app, &Transfer::cpuMsPerMB);
    const double bareCpu = medianOf(bare, &Transfer::cpuMsPerMB);
    const double bothCpu = medianOf(both, &Transfer::cpuMsPerMB);
    table_.add({measure, Fixed(appCpu, 0) + QStringLiteral(" ms/MB"), Fixed(bothCpu, 0) + QStringLiteral(" ms/MB (two clients)"),
                Fixed(appCpu / std::max(bothCpu, 1e-9), 2) + QStringLiteral("×"), QStringLiteral("—"), Verdict::Info});
    // CPU per second over the time each bare program measured it, ready to done.
    const auto perSecond = [&](const std::vector<Transfer>& runs) {
        std::vector<double> rates;
        for (const Transfer& t : runs)
            if (t.cpuWallMs > 0)
                rates.push_back(t.cpuMs / (t.cpuWallMs / 1000.0));
        return median(rates);
    };
    const double bareRate = perSecond(bare), bothRate = perSecond(both);
    table_.note(QStringLiteral("%1: an idle second MIDI client added %2 ms/MB to the bare program (%3 with it, %4 without), "
                               "%5 ms a second (%6 ms/s with it, %7 without)")
                    .arg(what, Fixed(bothCpu - bareCpu, 1), Fixed(bothCpu, 1), Fixed(bareCpu, 1),
                         Fixed(bothRate - bareRate, 1), Fixed(bothRate, 1), Fixed(bareRate, 1)));
    // The fair baseline is only fair while Tandrel's idle direction is the one it copies.
    QStringList others;
    for (const Transfer& t : app)
        if (!others.contains(t.otherPort))
            others << t.otherPort;
    table_.note(QStringLiteral("%1: Tandrel's idle direction: %2").arg(what, others.join(QStringLiteral(", "))));
}

// 3. The app's send at DIN pacing against the wire model: every byte 320 µs on the
// cable, and the pause after every message but the last.
void BenchSuite::measureDin()
{
    const QString what = QStringLiteral("3. Send %1 at DIN pacing vs the wire model").arg(bytesText(kGt3Dump));
    if (!startDevice()) {
        table_.failed(what, QStringLiteral("within 2%"), QStringLiteral("no MIDI device"));
        return;
    }
    progress(QStringLiteral("send at DIN pacing (about a minute)"));
    const QString file = writeDump(kGt3Dump);
    QFile in(file);
    in.open(QIODevice::ReadOnly);
    const std::vector<std::size_t> lengths = tandrel::bench::MessageLengths(in.readAll().toStdString());
    double modelMs = 0;
    for (const std::size_t length : lengths)
        modelMs += static_cast<double>(length) * kWireUsPerByte / 1000.0;
    modelMs += static_cast<double>(lengths.size() - 1) * kDinPauseMs;

    QMap<QString, QString> seen;
    const Transfer t = sendOnce(Program::Tandrel, file, kGt3Dump, QStringLiteral("din"), &seen);
    if (!t.ok) {
        table_.failed(what, QStringLiteral("within 2%"), t.why);
        return;
    }
    // The port reports its queue empty once the last message has left the modelled wire.
    const std::int64_t endNs = std::max(seen.value(QStringLiteral("last_tx_end_ns")).toLongLong(),
                                        seen.value(QStringLiteral("queue_empty_ns")).toLongLong());
    const double measuredMs = static_cast<double>(endNs - seen.value(QStringLiteral("first_ns")).toLongLong()) / 1e6;
    const double ratio = measuredMs / modelMs;
    table_.add({what, Fixed(measuredMs, 0) + QStringLiteral(" ms"), Fixed(modelMs, 0) + QStringLiteral(" ms (model)"),
                Fixed(ratio, 4) + QStringLiteral("×"), QStringLiteral("0.98 to 1.02"),
                ratio >= 0.98 && ratio <= 1.02 ? Verdict::Met : Verdict::Missed});
    // Each message can only start on a cycle boundary, and no pause may be shorter
    // than 20 ms, so each start is rounded up to the grid: half a cycle on average.
    const double floorMs = modelMs + static_cast<double>(lengths.size() - 1) * kJackPeriodMs / 2;
    table_.add({QStringLiteral("3. DIN: the least a 256-frame JACK cycle allows (mean)"), Fixed(floorMs, 0) + QStringLiteral(" ms"),
                Fixed(modelMs, 0) + QStringLiteral(" ms (model)"), Fixed(floorMs / modelMs, 4) + QStringLiteral("×"),
                QStringLiteral("—"), Verdict::Info});
    table_.add({QStringLiteral("3. DIN send: bytes lost; smallest pause seen by gt3sim"),
                QString::number(t.lost) + (t.exact ? QString() : QStringLiteral(", bytes differ"))
                    + QStringLiteral(" (%1 xruns)").arg(t.xruns),
                Fixed(seen.value(QStringLiteral("sink_min_pause_us")).toDouble() / 1000.0, 1) + QStringLiteral(" ms pause"),
                QString::number(t.lost), QStringLiteral("0"), t.lost == 0 && t.exact ? Verdict::Met : Verdict::Missed});
    // The CPU a DIN send costs while the pacer waits, against a bare sender that
    // sleeps through the same pacing.
    progress(QStringLiteral("bare send at DIN pacing (about a minute)"));
    const Transfer bare = sendOnce(Program::Bare, file, kGt3Dump, QStringLiteral("din"));
    const QString cpuWhat = QStringLiteral("3. DIN send: CPU per second of sending");
    if (!bare.ok || bare.spanMs <= 0 || t.spanMs <= 0) {
        table_.failed(cpuWhat, QStringLiteral("—"), bare.why);
    } else {
        const double appRate = t.cpuMs / (t.spanMs / 1000.0);
        const double bareRate = bare.cpuMs / (bare.spanMs / 1000.0);
        table_.add({cpuWhat, Fixed(appRate, 1) + QStringLiteral(" ms/s"), Fixed(bareRate, 1) + QStringLiteral(" ms/s"),
                    Fixed(appRate / std::max(bareRate, 1e-9), 2) + QStringLiteral("×"), QStringLiteral("—"), Verdict::Info});
    }
    QStringList sink;
    for (const QString& key : {QStringLiteral("messages"), QStringLiteral("bytes"), QStringLiteral("min_pause_us"),
                               QStringLiteral("short_pauses"), QStringLiteral("span_us"), QStringLiteral("wire_span_us")})
        sink << key + QLatin1Char('=') + seen.value(QStringLiteral("sink_") + key);
    table_.note(QStringLiteral("3. gt3sim at DIN pacing (pauses under 20 ms counted as short): ") + sink.join(QLatin1Char(' ')));
    if (!t.why.isEmpty())
        table_.note(what + QStringLiteral(": ") + t.why);
}

// 7. CPU while Ready with nothing arriving, against the window with the same MIDI
// clients doing nothing.
void BenchSuite::measureIdle()
{
    const QString what = QStringLiteral("8. CPU while Ready and idle for 10 s");
    if (!startDevice()) {
        table_.failed(what, QStringLiteral("—"), QStringLiteral("no MIDI device"));
        return;
    }
    if (!wanted(QStringLiteral("startup")) && !wanted(QStringLiteral("memory")))
        configureDevices();
    progress(QStringLiteral("idle (10 s a run)"));
    const QString idleMs = QStringLiteral("10000");
    std::vector<double> app, fair;
    QString why;
    for (int i = 0; i < (quick_ ? 1 : 2); ++i)
        for (int k = 0; k < 2; ++k) {
            const bool appTurn = (i + k) % 2 == 0;
            BenchProcess p(tool(appTurn ? QStringLiteral("bench_app") : QStringLiteral("bench_bare_midi")),
                           appTurn ? QStringList{QStringLiteral("idle"), QStringLiteral("--idle-ms"), idleMs}
                                   : QStringList{QStringLiteral("--device"), kDevice, QStringLiteral("--idle-ms"), idleMs},
                           env());
            if (p.finish(60000) && p.has(QStringLiteral("idle_cpu_us")))
                (appTurn ? app : fair).push_back(p.number(QStringLiteral("idle_cpu_us")) / 1000.0);
            else
                why = p.failure();
        }
    if (app.empty() || fair.empty()) {
        table_.failed(what, QStringLiteral("—"), why);
        return;
    }
    table_.add({what, Fixed(median(app), 1) + QStringLiteral(" ms"), Fixed(median(fair), 1) + QStringLiteral(" ms (window + MIDI)"),
                Fixed(median(app) / std::max(median(fair), 1e-9), 2) + QStringLiteral("×"), QStringLiteral("—"), Verdict::Info});
}

void BenchSuite::writeResults(const QString& table) const
{
    if (resultsPath_.isEmpty())
        return;
    QFile file(resultsPath_);
    // Sections written by hand or by other benchmarks (the ALSA guest's) stay as
    // they are, between this table and the explanation that follows it.
    QString kept;
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        const QString old = QString::fromUtf8(file.readAll());
        file.close();
        static const QRegularExpression heading(QStringLiteral("^## "), QRegularExpression::MultilineOption);
        const QStringList sections = old.split(heading);
        for (qsizetype i = 1; i < sections.size(); ++i)
            if (!sections[i].startsWith(QLatin1String("What the figures are")))
                kept += QStringLiteral("\n## ") + sections[i].trimmed() + QLatin1Char('\n');
    }
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        progress(QStringLiteral("cannot write ") + resultsPath_);
        return;
    }
    QString text;
    text += QStringLiteral("# Benchmark results\n\n");
    text += QStringLiteral("- Date: %1\n").arg(QDateTime::currentDateTime().toString(Qt::ISODate));
    text += QStringLiteral("- Machine: nproc %1, %2\n").arg(sysconf(_SC_NPROCESSORS_ONLN)).arg(cpuModel());
    text += QStringLiteral("- Command: `%1`\n\n").arg(command_);
    text += table;
    text += kept;
    text += QStringLiteral(R"(
## What the figures are

Every program below runs as its own process, one after the other, against a
private JACK server (dummy backend, 48 kHz, 256-frame periods). Tandrel's figures
come from `bench_app`, the real main window offscreen on the production MIDI ports
and settings store, with doubles only for dialogs and message boxes. Medians of
several runs, taken in alternating order with the baseline's.

1. **Receive**: gt3sim plays the dump at fast pacing into the receiver's input
   port. Tandrel: from the first to the last byte held in the dump, through the
   port, `MIDIInput1_Message` and the append. Baseline: a bare RtMidi callback
   receiver (`bench_rtmidi receive`), first to last callback. CPU time is the
   receiver's, all threads, from ready to done. Lost bytes and byte-exactness are
   checked against the file; a run is "short" when bytes are missing or differ, and
   the xruns are the cycles the JACK server reported late while the runs went on.
2. **Send at fast pacing**: Tandrel's Send command against a bare RtMidi sender
   (`bench_rtmidi send`) that keeps the same 8 KB window in flight for three JACK
   periods, from the first hand-over to the end of the last; gt3sim receives and the
   bytes are compared with the file.

   For 1. and 2., "against the same two MIDI clients" is the bare program run with
   `--both`: it also holds the other direction open and idle as Tandrel does, each
   direction an RtMidi object and so a JACK client woken at every cycle. In a
   receive Tandrel's output is on its own virtual port, which nothing connects to;
   in a send its input is on the idle device's output. The notes say which port
   Tandrel's idle direction was on, and what the idle client cost the bare program:
   its CPU with the client less its CPU without, per MB and per second of the time
   measured (ready to done).
3. **Send at DIN pacing**: from the first hand-over until the port reports its
   queue empty (the last message off the modelled wire), against the wire model:
   320 µs for every byte plus a 20 ms pause after every message but the last. The
   row below it is the least any sender can take on this server while keeping
   every pause at 20 ms or more: RtMidi puts each message at the start of a JACK
   cycle, so each start rounds up to the next cycle, half a cycle on average.
   The CPU row divides the sender's CPU time over the send by the send's length,
   against a bare RtMidi sender (`bench_rtmidi send --pacing din`) that sleeps
   through the same wire model.
4. **Start-up**: from spawning the process to the end of its first paint, with the
   window in the Ready state. The fair baseline (`bench_bare_midi`) opens what
   Tandrel opens at start-up, the same way and in the same order (a JACK client
   without a process callback, as Tandrel's monitor that reads the server's frame
   clock, an RtMidi input with its callback and an RtMidi output, both on the idle
   device), then shows one window of the same size; the bare Qt
   program (`bench_bare_qt`) shows the window alone.
5. **Memory**: peak resident memory after opening the dump, less the peak of the
   same program holding none, divided by the dump's size; the baseline is the bare
   Qt program holding the file's bytes. The rows above give the programs' peaks
   holding nothing, and the notes where the resident memory of Tandrel and of the
   fair baseline is at the first paint, in KiB by mapping (from
   /proc/self/smaps): `jack-*` is the JACK server's shared memory that every
   JACK client maps. For the 125,000-byte dump the figure moves between about 0.4
   and 1.5 from run to run: the dump is no bigger than the heap's own slack.
6. **Scaling**: instructions (callgrind) spent cutting a 10 MB and a 1 MB dump
   into messages as the send loop does (`bench_cut`), their ratio.
7. **Verify**: the verifier on a 10 MB made-up GT-3 dump (`bench_verify`), the
   median of five runs, three times over, against one plain pass that sums every
   byte of the same dump and counts its F7s; then callgrind's instructions for
   10 MB and 1 MB, their ratio.
8. **Idle**: CPU time over 10 s after the first paint, Ready and nothing
   arriving, against the fair baseline of row 4 shown and idle as long. Most of
   both is the JACK clients waking at every cycle of the server.
)");
    file.write(text.toUtf8());
}

int BenchSuite::run()
{
    if (!work_.isValid()) {
        progress(QStringLiteral("no temporary folder"));
        return 1;
    }
    if (wanted(QStringLiteral("receive")))
        measureReceive();
    if (wanted(QStringLiteral("send")))
        measureSend();
    if (wanted(QStringLiteral("din")))
        measureDin();
    if (wanted(QStringLiteral("startup")) || wanted(QStringLiteral("memory")))
        measureStartupAndMemory();
    if (wanted(QStringLiteral("idle")))
        measureIdle();
    if (device_) {
        device_->closeInput();
        device_->finish(5000);
        device_.reset();
    }
    jack_.reset();
    if (wanted(QStringLiteral("scaling")))
        measureScaling();
    if (wanted(QStringLiteral("verify")))
        measureVerify();

    const QString table = table_.markdown();
    std::printf("\n%s", qPrintable(table));
    std::fflush(stdout);
    // A partial or quick run is not the latest table.
    if (only_.isEmpty() && !quick_)
        writeResults(table);
    return table_.notMeasured() > 0 ? 1 : 0;
}

}  // namespace tandrel::bench
