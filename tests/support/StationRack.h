#pragma once

#include "tests/support/WindowRig.h"
#include "ui/frmStation.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QSemaphore>
#include <initializer_list>
#include <map>
#include <memory>

// The device ID board n reports.
inline QString Id(int n) {
    return QStringLiteral("ID%1").arg(n, 2, 10, QLatin1Char('0'));
}

// A rack of simulated boards on COM 1..n, each with its own device ID; or,
// on Devices, of the real devices its rows name.
struct Rack {
    struct Board {
        Board(int n, BootLoader::Config c) : config(std::move(c)) {
            config.id = Id(n).toLatin1();
            modem = std::make_unique<SimModem>(port, clock, config);
        }
        BootLoader::Config config;
        MemoryComm port;
        SimClock clock;
        std::unique_ptr<SimModem> modem;
    };

    enum Boards { Simulated, Devices };
    explicit Rack(PortClaims* shared = nullptr, Boards on = Simulated)
        : claims(shared ? *shared : own), simulated(on == Simulated) {
        QDir::setCurrent(dir.path());
        WriteFile(dir.filePath(QStringLiteral("MYFILE.ROM")), BootLoader::SampleLoadFile(5));
        InitDefaults(m);
        open();
    }
    ~Rack() { w.reset(); }

    // A station window, as the main window opens one: a reopened one reads
    // what the last one kept.
    void open() {
        w.reset();
        StationBoards reach;
        if (simulated) {
            reach.port = [this](const BoardPlace& p) {
                return std::make_unique<WindowRig::PortRef>(boards.at(p.ComPort())->port);
            };
            reach.clock = [this](const BoardPlace& p) {
                return std::make_unique<WindowRig::ClockRef>(boards.at(p.ComPort())->clock);
            };
        }
        reach.beep = [this] { ++beeps; };
        w = std::make_unique<frmStation>(m, prompts, claims, reach);
        w->show();
    }

    // A simulated board on COM n (in place of the one there) and its row.
    StationRow* add(int n, BootLoader::Config config = {}) {
        boards[n] = std::make_unique<Board>(n, std::move(config));
        return w->AddBoard(BoardPlace::Com(n));
    }
    StationRow* row(int n) const {
        for (StationRow* r : w->Rows())
            if (r->place == BoardPlace::Com(n))
                return r;
        return nullptr;
    }
    bool runAll() {
        QSignalSpy ended(w.get(), &frmStation::AllEnded);
        w->cmdStartAll_Click();
        return ended.wait(20000);
    }

    QTemporaryDir dir;
    Module1 m;
    ScriptedPrompts prompts;
    PortClaims own;
    PortClaims& claims;
    bool simulated;
    std::map<int, std::unique_ptr<Rack::Board>> boards;
    std::unique_ptr<frmStation> w;
    int beeps = 0;
};

// Holds the boards on the COM ports named in their first autobaud pause, each
// on its own thread, until released; let go at the latest when it goes.
struct Hold {
    Hold(Rack& rack, std::initializer_list<int> ports) : count(int(ports.size())) {
        for (int n : ports)
            rack.boards.at(n)->clock.After(0.5, [this] {
                arrived.release();
                resume.acquire();
            });
    }
    ~Hold() { release(); }
    // Every held board has reached its pause.
    bool reached() { return arrived.tryAcquire(count, 10000); }
    // Lets every held board go on; once more does no harm.
    void release() { resume.release(count); }

    int count;
    QSemaphore arrived, resume;
};
