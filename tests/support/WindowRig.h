#pragma once

#include "app/frmMain.h"
#include "tests/support/MemoryComm.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/SimClock.h"
#include "tests/support/SimModem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

// The real main window over a simulated modem on simulated time, started in
// a folder of its own (where it looks for VELLORAN.CFG and MYFILE.ROM).
struct WindowRig {
    explicit WindowRig(BootLoader::Config config = {}) : modem(port, clock, std::move(config)) {
        QDir::setCurrent(dir.path());
    }

    void writeFile(const QString& name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }
    void writeLoadFile(int records) {
        writeFile(QStringLiteral("MYFILE.ROM"), BootLoader::SampleLoadFile(records));
    }
    frmMain& open() {
        w = std::make_unique<frmMain>(m, port, clock, prompts);
        w->show();
        return *w;
    }

    QTemporaryDir dir;
    Module1 m;
    MemoryComm port;
    SimClock clock;
    ScriptedPrompts prompts;
    SimModem modem;
    std::unique_ptr<frmMain> w;
};
