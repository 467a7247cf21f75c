// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The real main window over doubled services, and the file helpers the dump tests share.
#include "app/frmMain.h"
#include "platform/testing/FakeServices.h"
#include "setup/SettingsKeys.h"

#include <QFile>

#include <memory>
#include <stdexcept>

namespace tandrel::testing {

struct DumpWindow {
    //! An output port that can read back more than it was given, or fail one transmission.
    struct Output : FakeMIDIOutput {
        using FakeMIDIOutput::FakeMIDIOutput;
        ByteString MessageData() const override { return FakeMIDIOutput::MessageData() + padding; }
        void setCommand(std::int16_t code) override
        {
            if (code == Transmit && ++transmits == failingTransmit)
                throw std::runtime_error("port failure");
            FakeMIDIOutput::setCommand(code);
        }
        ByteString padding;
        int failingTransmit = 0, transmits = 0;
    };
    FakeServices fake;
    Output out{fake.log};
    Services services{fake.in, out, fake.dialog, fake.boxes, fake.settings, fake.folders, fake.beeper, fake.loop};
    DumpState MAIN;
    std::unique_ptr<frmMain> w;
    DumpWindow()
    {
        fake.settings.values[settings::kUserSetup] = QStringLiteral("1");
        w = std::make_unique<frmMain>(services, MAIN);
        w->Form_Load();
        fake.log.clear();
    }
};

//! A System Exclusive message of `length` bytes.
inline ByteString message(std::size_t length, char fill) { return '\xF0' + ByteString(length - 2, fill) + '\xF7'; }

inline ByteString fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : "<missing>";
}

inline bool writeFile(const QString& path, const ByteString& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size());
}

}  // namespace tandrel::testing
