#pragma once

#include "history/Jobs.h"
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

// The supervisor's password of the test history, and an answer with it.
inline const QString SupervisorPassword = QStringLiteral("long enough 1");
inline std::optional<SupervisorReply> Supervisor(const SupervisorAsk&) {
    return SupervisorReply{QStringLiteral("A 1"), {QStringLiteral("boss"), SupervisorPassword}};
}

// The job "A 1", 20 records at the default baud rate and mode, published
// once in the test history; its SHA-256.
inline QString PublishedJob() {
    Jobs jobs;
    const SupervisorLogin boss{QStringLiteral("boss"), SupervisorPassword};
    if (!jobs.SupervisorSet())
        jobs.SetSupervisorPassword(boss);
    ApprovedJob job;
    if (jobs.Find(QStringLiteral("A 1"), job) != JobAnswer::Done) {
        QTemporaryDir dir;
        Module1 m;
        InitDefaults(m);
        const QString rom = dir.filePath(QStringLiteral("JOB.ROM"));
        WriteFile(rom, BootLoader::SampleLoadFile(20));
        jobs.Publish(QStringLiteral("A 1"), rom, m.BaudRate, m.LoadMode, boss);
        jobs.Find(QStringLiteral("A 1"), job);
    }
    return job.sha256;
}

// A widget of the station window by its object name.
template <class W = QWidget> W* Part(QObject* window, const char* name) {
    return window->findChild<W*>(QLatin1String(name));
}

// A rack of simulated boards on COM 1..n, each with its own device ID; or,
// on Devices, of the real devices its boards name. Shown in a station
// window, or the engine's station alone.
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
    enum Shown { Window, Alone };
    explicit Rack(PortClaims* shared = nullptr, Boards on = Simulated, Shown how = Window)
        : claims(shared ? *shared : own), simulated(on == Simulated), windowed(how == Window) {
        QDir::setCurrent(dir.path());
        WriteFile(dir.filePath(QStringLiteral("MYFILE.ROM")), BootLoader::SampleLoadFile(5));
        InitDefaults(m);
        open();
    }
    ~Rack() {
        w.reset();
        alone.reset();
    }

    // A station, as the main window opens one: a reopened one reads what the
    // last one kept.
    void open() {
        w.reset();
        alone.reset();
        StationReach reach{{}, {}, [this] { return history; }};
        if (simulated) {
            reach.port = [this](const BoardPlace& p) {
                return std::make_unique<WindowRig::PortRef>(boards.at(p.ComPort())->port);
            };
            reach.clock = [this](const BoardPlace& p) {
                return std::make_unique<WindowRig::ClockRef>(boards.at(p.ComPort())->clock);
            };
        }
        if (windowed) {
            w = std::make_unique<frmStation>(m, prompts, claims, reach, [this] { ++beeps; });
            w->show();
            return;
        }
        alone = std::make_unique<Station>(m, claims, reach);
        QObject::connect(alone.get(), &Station::Beep, [this] { ++beeps; });
        QObject::connect(alone.get(), &Station::Note, [this](const QString& n) { note = n; });
        QObject::connect(alone.get(), &Station::LockNote,
                         [this](const QString& n) { lockNote = n; });
        alone->Restore();
    }
    Station& s() { return w ? w->Engine() : *alone; }

    // A simulated board on COM n (in place of the one there).
    StationBoard* add(int n, BootLoader::Config config = {}) {
        boards[n] = std::make_unique<Board>(n, std::move(config));
        return s().Add(BoardPlace::Com(n));
    }
    StationBoard* board(int n) {
        for (StationBoard* b : s().Boards())
            if (b->place == BoardPlace::Com(n))
                return b;
        return nullptr;
    }
    // The window's row of COM n.
    StationRow* row(int n) {
        for (StationRow* r : w->Rows())
            if (r->Board().place == BoardPlace::Com(n))
                return r;
        return nullptr;
    }
    bool runAll() {
        QSignalSpy ended(&s(), &Station::AllEnded);
        s().StartAll();
        return ended.wait(20000);
    }

    QTemporaryDir dir;
    Module1 m;
    ScriptedPrompts prompts;
    PortClaims own;
    PortClaims& claims;
    bool simulated;
    bool windowed;
    std::map<int, std::unique_ptr<Rack::Board>> boards;
    std::unique_ptr<frmStation> w;
    std::unique_ptr<Station> alone;
    QString history;        // where the engine's station keeps its records
    QString note, lockNote; // the station's latest Note and LockNote
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
