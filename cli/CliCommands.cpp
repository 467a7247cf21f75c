// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliCommands.h"

#include "dump/DumpVerifier.h"
#include "dump/MessageCutter.h"
#include "dump/SyxFile.h"
#include "platform/MidiBackend.h"
#include "platform/RtMidiInput.h"
#include "platform/RtMidiOutput.h"
#include "platform/SettingsStore.h"
#include "setup/PortOpening.h"
#include "setup/SettingsKeys.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <functional>

namespace tandrel::cli {

std::atomic<bool> gInterrupted{false};

namespace {

//! The largest System Exclusive message the input delivers whole, as the window sets it.
constexpr std::int32_t kSysexBufferSize = 125000;
constexpr std::int16_t kSystemExclusive = 240;

QString ApiName(MidiBackend::Api api)
{
    switch (api) {
    case MidiBackend::Api::Alsa: return QStringLiteral("ALSA sequencer");
    case MidiBackend::Api::Jack: return QStringLiteral("JACK");
    case MidiBackend::Api::None: break;
    }
    return QStringLiteral("none");
}

//! Lets the ports raise their events, for about `ms` milliseconds.
void Pump(int ms)
{
    QElapsedTimer t;
    t.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (ms > 0) QThread::msleep(5);
    } while (t.elapsed() < ms);
}

//! A port's device by number or by part of its name; `first` is −1 for outputs,
//! whose device −1 is Tandrel's own virtual port.
struct PortChoice {
    std::int16_t id = 0;
    QString error;
    int exitCode = kSuccess;
};

PortChoice ChoosePort(const std::optional<QString>& wanted, const QString& storedKey, const SettingsStore& settings,
                      std::int16_t first, std::int16_t count, const std::function<QString(std::int16_t)>& nameOf)
{
    PortChoice choice;
    if (!wanted) {
        choice.id = settings::ValInt16(settings.read(storedKey, QStringLiteral("0")));
    } else {
        bool isNumber = false;
        const int n = wanted->toInt(&isNumber);
        if (isNumber) {
            choice.id = static_cast<std::int16_t>(qBound(-32768, n, 32767));
        } else {
            QList<std::int16_t> matches;
            for (std::int16_t id = first; id < count; ++id)
                if (nameOf(id).contains(*wanted, Qt::CaseInsensitive)) matches.append(id);
            if (matches.size() != 1) {
                choice.error = matches.isEmpty() ? QStringLiteral("no MIDI device matches \"%1\"").arg(*wanted)
                                                 : QStringLiteral("\"%1\" matches %2 MIDI devices; give its number")
                                                       .arg(*wanted)
                                                       .arg(matches.size());
                choice.exitCode = matches.isEmpty() ? kFailure : kUsage;
                return choice;
            }
            choice.id = matches.front();
        }
    }
    if (choice.id < first || choice.id >= count) {
        choice.error = QStringLiteral("there is no MIDI device %1").arg(choice.id);
        choice.exitCode = kFailure;
    }
    return choice;
}

QString Grouped(std::size_t n) { return QString::fromStdString(GroupedNumber(n)); }

//! Progress on stderr: a bar redrawn on a terminal, one line at the end otherwise.
class Progress {
public:
    Progress(Console& console, const char* verb, std::size_t total) : console_(console), verb_(verb), total_(total)
    {
        clock_.start();
    }
    void update(std::size_t bytes, std::size_t messages)
    {
        bytes_ = bytes;
        messages_ = messages;
        if (!console_.errIsTerminal || (clock_.elapsed() - drawnAt_ < 100 && drawnAt_ >= 0)) return;
        drawnAt_ = clock_.elapsed();
        QString bar;
        if (total_ > 0) {
            const int filled = static_cast<int>(30 * std::min(bytes, total_) / total_);
            bar = QStringLiteral("[%1%2] ").arg(QString(filled, u'#'), QString(30 - filled, u' '));
        }
        console_.err << '\r' << bar << line() << "\x1b[K" << Qt::flush;
    }
    void finish()
    {
        if (console_.errIsTerminal) console_.err << '\r' << "\x1b[K";
        console_.err << line() << '\n' << Qt::flush;
    }

private:
    QString line() const
    {
        const double seconds = std::max<qint64>(clock_.elapsed(), 1) / 1000.0;
        return QStringLiteral("%1 %2 bytes, %3 messages, %4 bytes/s")
            .arg(QLatin1String(verb_), Grouped(bytes_), Grouped(messages_), Grouped(static_cast<std::size_t>(bytes_ / seconds)));
    }
    Console& console_;
    const char* verb_;
    std::size_t total_, bytes_ = 0, messages_ = 0;
    QElapsedTimer clock_;
    qint64 drawnAt_ = -1;
};

const char* VerdictName(Verdict v)
{
    switch (v) {
    case Verdict::Empty: return "empty";
    case Verdict::Good: return "good";
    case Verdict::Warnings: return "warnings";
    case Verdict::Errors: return "errors";
    }
    return "";
}

QStringList ProblemNames(std::uint8_t problems)
{
    static const std::pair<std::uint8_t, const char*> names[] = {
        {kNotFramed, "not framed"}, {kStatusInside, "status byte inside"}, {kBadChecksum, "bad checksum"},
        {kNotRoland, "not Roland"}, {kNotGT3, "not GT-3"},             {kAddressGap, "address gap"},
    };
    QStringList list;
    for (const auto& [bit, name] : names)
        if (problems & bit) list.append(QLatin1String(name));
    return list;
}

//! A dump that was cut off, or that carries damage, ends with exit code 1.
int DumpExitCode(const DumpReport& report)
{
    return report.verdict == Verdict::Errors || report.verdict == Verdict::Empty || report.trailingLength > 0
               ? kDumpProblem
               : kSuccess;
}

int RunPorts(SettingsStore& settings, Console& console)
{
    RtMidiInput in;
    RtMidiOutput out;
    const std::int16_t inputs = in.DeviceCount();
    const std::int16_t outputs = out.DeviceCount();
    const MidiBackend::Api api = MidiBackend::shared()->ensure();
    console.out << "MIDI system: " << ApiName(api) << '\n';
    const bool setUp = !settings.read(settings::kUserSetup, QString()).isEmpty();
    const auto stored = [&](const QString& key) {
        return setUp ? settings::ValInt16(settings.read(key, QStringLiteral("0"))) : std::int16_t(-32768);
    };
    const std::int16_t storedIn = stored(settings::kMIDIInputDeviceID);
    const std::int16_t storedOut = stored(settings::kMIDIOutputDeviceID);
    console.out << "Inputs:\n";
    for (std::int16_t id = 0; id < inputs; ++id) {
        in.setDeviceID(id);
        console.out << QStringLiteral("  %1  ").arg(id, 2) << in.DeviceName() << (id == storedIn ? "  (stored)" : "")
                    << '\n';
    }
    console.out << "Outputs:\n";
    for (std::int16_t id = MIDIOutput::MidiMapper; id < outputs; ++id) {
        out.setDeviceID(id);
        console.out << QStringLiteral("  %1  ").arg(id, 2) << out.DeviceName() << (id == storedOut ? "  (stored)" : "")
                    << '\n';
    }
    console.out << Qt::flush;
    if (api == MidiBackend::Api::None) {
        console.err << "tandrel-cli: no MIDI system: " << MidiBackend::shared()->whyNone() << '\n' << Qt::flush;
        return kFailure;
    }
    return kSuccess;
}

int RunReceive(const CliOptions& o, SettingsStore& settings, Console& console)
{
    const QString& path = o.files.front();
    RtMidiInput in;
    QString portError;
    ByteString dump;
    std::size_t messages = 0;
    QElapsedTimer sinceLast;
    QElapsedTimer waiting;
    Progress progress(console, "received", 0);
    in.events.Error = [&](std::int16_t, const QString& text) {
        if (portError.isEmpty()) portError = text;
    };
    in.events.Message = [&] {
        // Drains every waiting message, so none waits for the next wake-up.
        while (in.MessageCount() > 0) {
            const ByteString m = in.MessageData();
            if (m.empty()) break;
            dump += m;
            ++messages;
            in.setCommand(MIDIInput::DiscardOldest);
        }
        sinceLast.start();
        progress.update(dump.size(), messages);
    };

    const PortChoice port = ChoosePort(o.port, settings::kMIDIInputDeviceID, settings, 0, in.DeviceCount(),
                                       [&](std::int16_t id) {
                                           in.setDeviceID(id);
                                           return in.DeviceName();
                                       });
    if (!port.error.isEmpty()) {
        console.err << "tandrel-cli: " << port.error << '\n' << Qt::flush;
        return port.exitCode;
    }
    in.setDeviceID(port.id);
    in.setSysexBufferSize(kSysexBufferSize);
    in.setCommand(MIDIInput::Open);
    SetStoredInputFilters(in);
    in.setCommand(MIDIInput::Start);
    Pump(0);
    if (in.State() != MIDIInput::Delivering || !portError.isEmpty()) {
        console.err << "tandrel-cli: cannot listen on MIDI input " << port.id << ": "
                    << (portError.isEmpty() ? QStringLiteral("the port did not open") : portError) << '\n'
                    << Qt::flush;
        return kFailure;
    }
    in.setDeviceID(port.id);
    console.err << "Waiting for a dump on " << in.DeviceName() << "; press Ctrl+C to stop\n" << Qt::flush;

    waiting.start();
    const auto idleMs = static_cast<qint64>(o.idleSeconds * 1000);
    const auto timeoutMs = static_cast<qint64>(o.timeoutSeconds * 1000);
    bool timedOut = false;
    while (!gInterrupted) {
        Pump(20);
        if (!portError.isEmpty()) break;
        if (dump.empty()) {
            if (timeoutMs > 0 && waiting.elapsed() >= timeoutMs) {
                timedOut = true;
                break;
            }
        } else if (sinceLast.elapsed() >= idleMs) {
            break;
        }
    }
    in.setCommand(MIDIInput::Stop);
    in.setCommand(MIDIInput::Close);
    if (!dump.empty()) progress.finish();

    if (!portError.isEmpty()) {
        console.err << "tandrel-cli: MIDI input failed: " << portError << '\n' << Qt::flush;
        if (!o.keepPartial || dump.empty()) return kFailure;
    }
    if (timedOut) {
        console.err << "tandrel-cli: no dump arrived within " << o.timeoutSeconds << " seconds\n" << Qt::flush;
        return kDumpProblem;
    }
    if (dump.empty()) {
        console.err << "tandrel-cli: nothing was received\n" << Qt::flush;
        return kDumpProblem;
    }
    const bool cutShort = gInterrupted || !portError.isEmpty();
    if (cutShort && !o.keepPartial) {
        console.err << "tandrel-cli: stopped; " << Grouped(dump.size()) << " bytes received, nothing saved\n"
                    << Qt::flush;
        return kDumpProblem;
    }
    if (!WriteSyxFile(path, dump)) {
        console.err << "tandrel-cli: cannot write " << path << '\n' << Qt::flush;
        return kFailure;
    }
    const DumpReport report = VerifyDump(dump);
    console.out << path << ": " << QString::fromStdString(report.summary()) << '\n' << Qt::flush;
    if (!portError.isEmpty()) return kFailure;
    return cutShort ? kDumpProblem : DumpExitCode(report);
}

int RunSend(const CliOptions& o, SettingsStore& settings, Console& console)
{
    const QString& path = o.files.front();
    ByteString dump;
    if (!ReadSyxFile(path, dump)) {
        console.err << "tandrel-cli: cannot read " << path << '\n' << Qt::flush;
        return kFailure;
    }
    const DumpReport report = VerifyDump(dump);
    if (report.damaged > 0 || report.messages.empty()) {
        console.err << "tandrel-cli: " << path << " is not sent: " << QString::fromStdString(report.summary()) << '\n'
                    << Qt::flush;
        return kDumpProblem;
    }

    RtMidiOutput out;
    QString portError;
    out.events.Error = [&](std::int16_t, const QString& text) {
        if (portError.isEmpty()) portError = text;
    };
    if (o.fastPacing) out.setPacing(*o.fastPacing ? OutputPacer::Mode::Fast : OutputPacer::Mode::Din);
    if (o.pauseMs) out.setPause(std::chrono::milliseconds(*o.pauseMs));
    const PortChoice port = ChoosePort(o.port, settings::kMIDIOutputDeviceID, settings, MIDIOutput::MidiMapper,
                                       out.DeviceCount(), [&](std::int16_t id) {
                                           out.setDeviceID(id);
                                           return out.DeviceName();
                                       });
    if (!port.error.isEmpty()) {
        console.err << "tandrel-cli: " << port.error << '\n' << Qt::flush;
        return port.exitCode;
    }
    out.setDeviceID(port.id);
    out.setCommand(MIDIOutput::Open);
    Pump(0);
    if (out.State() != MIDIOutput::Opened || !portError.isEmpty()) {
        console.err << "tandrel-cli: cannot open MIDI output " << port.id << ": "
                    << (portError.isEmpty() ? QStringLiteral("the port did not open") : portError) << '\n'
                    << Qt::flush;
        return kFailure;
    }

    Progress progress(console, "sent", dump.size());
    std::size_t cut = 0, sent = 0, messages = 0;
    ByteString message;
    while (!gInterrupted && portError.isEmpty()) {
        const std::size_t k = NextMessageLength(dump, cut);
        // Bytes after the last F7 are not a whole message and are not sent.
        if (k == 0) break;
        message.assign(dump, cut, k);
        cut += k;
        out.setMessageStatus(kSystemExclusive);
        out.setMessageData(message);
        out.setCommand(MIDIOutput::Transmit);
        sent += out.MessageData().size();
        ++messages;
        out.setMessageData(ByteString());
        progress.update(sent, messages);
    }
    // Closing lets what was handed over leave the port before it goes.
    out.setCommand(MIDIOutput::Close);
    progress.finish();
    if (!portError.isEmpty()) {
        console.err << "tandrel-cli: MIDI output failed: " << portError << '\n' << Qt::flush;
        return kFailure;
    }
    if (gInterrupted) {
        console.err << "tandrel-cli: stopped after " << messages << " of " << report.messages.size()
                    << " messages\n"
                    << Qt::flush;
        return kDumpProblem;
    }
    return kSuccess;
}

QJsonObject ReportJson(const QString& path, const DumpReport& r)
{
    QJsonArray problems;
    for (std::size_t i = 0; i < r.messages.size(); ++i) {
        const MessageReport& m = r.messages[i];
        if (!m.problems) continue;
        problems.append(QJsonObject{{"message", qint64(i + 1)},
                                    {"offset", qint64(m.offset)},
                                    {"length", qint64(m.length)},
                                    {"problems", QJsonArray::fromStringList(ProblemNames(m.problems))}});
    }
    return QJsonObject{{"file", path},
                       {"verdict", VerdictName(r.verdict)},
                       {"summary", QString::fromStdString(r.summary())},
                       {"bytes", qint64(r.bytes)},
                       {"messages", qint64(r.messages.size())},
                       {"damaged", qint64(r.damaged)},
                       {"bad_checksums", qint64(r.badChecksums)},
                       {"not_framed", qint64(r.notFramed)},
                       {"status_inside", qint64(r.statusInside)},
                       {"not_roland", qint64(r.notRoland)},
                       {"not_gt3", qint64(r.notGT3)},
                       {"address_gaps", qint64(r.addressGaps)},
                       {"trailing_bytes", qint64(r.trailingLength)},
                       {"problem_messages", problems}};
}

}  // namespace

int RunVerify(const CliOptions& o, Console& console)
{
    int result = kSuccess;
    QJsonArray reports;
    for (const QString& path : o.files) {
        ByteString dump;
        if (!ReadSyxFile(path, dump)) {
            console.err << "tandrel-cli: cannot read " << path << '\n' << Qt::flush;
            if (o.json) reports.append(QJsonObject{{"file", path}, {"error", "cannot read"}});
            result = std::max<int>(result, kFailure);
            continue;
        }
        const DumpReport r = VerifyDump(dump);
        result = std::max(result, DumpExitCode(r));
        if (o.json) {
            reports.append(ReportJson(path, r));
            continue;
        }
        console.out << path << ": " << VerdictName(r.verdict) << "; " << QString::fromStdString(r.summary()) << '\n';
        // Damage and gaps are listed message by message (the first few); the rest of
        // the warnings hold for whole dumps and the summary names them.
        constexpr std::size_t kListed = 20;
        std::size_t listed = 0, unlisted = 0;
        for (std::size_t i = 0; i < r.messages.size(); ++i) {
            const MessageReport& m = r.messages[i];
            if (!(m.problems & (kDamage | kAddressGap))) continue;
            if (listed++ >= kListed) {
                ++unlisted;
                continue;
            }
            console.out << "  message " << i + 1 << " at byte " << Grouped(m.offset) << ": "
                        << ProblemNames(m.problems).join(QStringLiteral(", ")) << '\n';
        }
        if (unlisted > 0) console.out << "  and " << unlisted << " more\n";
        if (r.trailingLength > 0)
            console.out << "  " << Grouped(r.trailingLength) << " bytes after the last message at byte "
                        << Grouped(r.trailingOffset) << '\n';
    }
    if (o.json) console.out << QJsonDocument(reports).toJson(QJsonDocument::Indented);
    console.out << Qt::flush;
    return result;
}

int RunCommand(const CliOptions& o, SettingsStore& settings, Console& console)
{
    using Command = CliOptions::Command;
    switch (o.command) {
    case Command::Help: console.out << HelpText() << Qt::flush; return kSuccess;
    case Command::Version:
        console.out << "tandrel-cli " << QCoreApplication::applicationVersion() << '\n' << Qt::flush;
        return kSuccess;
    case Command::Ports: return RunPorts(settings, console);
    case Command::Receive: return RunReceive(o, settings, console);
    case Command::Send: return RunSend(o, settings, console);
    case Command::Verify: return RunVerify(o, console);
    }
    return kUsage;
}

}  // namespace tandrel::cli
