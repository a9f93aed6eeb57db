// velloran-historybench: how the history answers when it is large. Fills a
// SQLite history and a PostgreSQL one (a server of its own, as the tests
// start it) with a year of records, then times what the command line and
// the History window ask of it. Prints figures; nothing here is a test.
//
//   velloran-historybench [--records N] [--sqlite-only] [--fail-every N] [--keep FILE]
//   velloran-historybench --window [--records N] [--fail-every N] [--hold S]
//
// --keep FILE makes the SQLite history FILE and leaves it there, for timing
// the command line on it (velloran-cli history --history FILE ...). With
// --window it fills a SQLite history only, then times the History window's
// first screen (made, shown and painted); --hold keeps the window up S
// seconds more, for a picture of it.
#include "history/History.h"
#include "tests/support/PgServer.h"
#include "tests/support/ScriptedPrompts.h"
#include "ui/frmHistory.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr qint64 Chunk = 100000; // records a transaction
// Record `i` of `count`, spread evenly over the year before `end`, sixteen
// stations' worth of ports; two runs in `failEvery` fail.
HistoryRecord Record(qint64 i, qint64 count, const QDateTime& end, qint64 failEvery) {
    HistoryRecord r;
    r.uid = QStringLiteral("bench-%1").arg(i);
    r.started = end.addMSecs(-(count - i) * (365LL * 24 * 3600 * 1000 / count));
    r.ended = r.started.addSecs(40);
    r.host = QStringLiteral("station-%1").arg(i % 4);
    r.client = QStringLiteral("station");
    r.operation = QStringLiteral("flash");
    r.port = int(i % 16) + 1;
    r.device = QStringLiteral("/dev/ttyUSB%1").arg(i % 16);
    r.board = QStringLiteral("Q70");
    r.deviceId = QStringLiteral("00BF 2782");
    r.mode = 2;
    r.baud = 115200;
    r.file = QStringLiteral("/srv/loads/MYFILE.ROM");
    r.fileSize = 84000;
    r.fileSha256 = QStringLiteral("9f2c").repeated(16);
    r.records = r.recordsTotal = 2001;
    r.bytes = 84000;
    r.result = i % failEvery == failEvery - 2   ? QStringLiteral("download-failed")
               : i % failEvery == failEvery - 1 ? QStringLiteral("no-answer")
                                                : QStringLiteral("ok");
    r.exitStatus = r.result == QLatin1String("ok") ? 0 : 8;
    r.message = r.result == QLatin1String("ok") ? QStringLiteral("Download Completed")
                                                : QStringLiteral("no answer to record 1200");
    r.serial = QStringLiteral("SN%1").arg(i, 8, 10, QLatin1Char('0'));
    r.operatorName = QStringLiteral("line 3");
    r.toolVersion = QStringLiteral(VELLORAN_VERSION);
    r.pid = 1;
    return r;
}

double Ms(QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e6;
}

// The best of five, in ms: what the query costs once its pages are in memory,
// as on a station that asks it again and again; the first, cold, beside it.
std::pair<double, double> Time(const std::function<void()>& ask) {
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer timer;
        timer.start();
        ask();
        times.push_back(Ms(timer));
    }
    return {times.front(), *std::min_element(times.begin(), times.end())};
}

struct Figures {
    double fillS = 0;
    std::vector<std::pair<double, double>> queries;
};

const char* const Questions[] = {
    "open, first page (50 newest)",
    "--since 1 day, first 50",
    "--since 30 days --result download-failed, 50",
    "--serial SN00500000",
    "--since 7 days --text 'record 1200', 50",
    "page 201 of 50 (offset 10000)",
    "today's counts by result",
};

// Fills the history with `count` records ending now, a chunk a transaction;
// the seconds it took. A history that refuses them ends the program.
double Fill(const QString& location, const QString& spool, qint64 count, qint64 failEvery,
            const QDateTime& end) {
    History history(location, spool);
    QElapsedTimer timer;
    timer.start();
    for (qint64 first = 0; first < count; first += Chunk) {
        std::vector<HistoryRecord> chunk;
        for (qint64 i = first; i < std::min(count, first + Chunk); ++i)
            chunk.push_back(Record(i, count, end, failEvery));
        if (!history.Import(chunk)) {
            std::fprintf(stderr, "%s\n", qPrintable(history.Problem()));
            std::exit(1);
        }
    }
    return Ms(timer) / 1000;
}

Figures Measure(const QString& location, const QString& spool, qint64 count, qint64 failEvery) {
    Figures f;
    const QDateTime end = QDateTime::currentDateTimeUtc();
    f.fillS = Fill(location, spool, count, failEvery, end);
    const auto filter = [](auto change) {
        HistoryFilter h;
        h.limit = 50;
        change(h);
        return h;
    };
    std::vector<std::function<void(History&)>> asks{
        [&](History& h) { h.Find(filter([](auto&) {})); },
        [&](History& h) { h.Find(filter([&](auto& f) { f.since = end.addDays(-1); })); },
        [&](History& h) {
            h.Find(filter([&](auto& f) {
                f.since = end.addDays(-30);
                f.result = QStringLiteral("download-failed");
            }));
        },
        [&](History& h) {
            h.Find(filter([](auto& f) { f.serial = QStringLiteral("SN00500000"); }));
        },
        [&](History& h) {
            h.Find(filter([&](auto& f) {
                f.since = end.addDays(-7);
                f.text = QStringLiteral("record 1200");
            }));
        },
        [&](History& h) { h.Find(filter([](auto& f) { f.offset = 10000; })); },
        [&](History& h) { h.Today(); },
    };
    for (size_t q = 0; q < asks.size(); ++q) {
        if (q == 0) {
            // A client's first look: connecting, checking the table, and the page.
            f.queries.push_back(Time([&] {
                History fresh(location, spool);
                asks[0](fresh);
            }));
            continue;
        }
        History history(location, spool);
        f.queries.push_back(Time([&] { asks[q](history); }));
    }
    return f;
}

// The History window on the filled file: made, shown and painted, as the
// operator's first look at it; then held up for a picture when asked.
int MeasureWindow(const QString& location, qint64 count, qint64 failEvery, int holdS) {
    std::fprintf(stderr, "filling SQLite with %lld records...\n", count);
    const double fillS = Fill(location, {}, count, failEvery, QDateTime::currentDateTimeUtc());
    ScriptedPrompts prompts;
    const auto [first, best] = Time([&] {
        frmHistory window(prompts);
        window.show();
        window.grab();
    });
    std::printf("history of %lld records, SQLite, filled in %.1f s\n", count, fillS);
    std::printf("%-48s  %9.2f / %8.2f\n", "History window's first screen, ms: first / best of 5",
                first, best);
    if (holdS <= 0)
        return 0;
    frmHistory window(prompts);
    window.show();
    QTimer::singleShot(holdS * 1000, qApp, &QCoreApplication::quit);
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    const QStringList given(argv, argv + argc);
    const auto option = [&](const char* name, qint64 otherwise) {
        const qsizetype at = given.indexOf(QLatin1String(name));
        return at < 0 ? otherwise : given.value(at + 1).toLongLong();
    };
    const qint64 count = option("--records", 1000000);
    const qint64 failEvery = std::max<qint64>(option("--fail-every", 50), 3);
    QTemporaryDir dir;
    if (given.contains(QLatin1String("--window"))) {
        // Neither the operator's settings nor their history: the file filled.
        qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
        const QString location = dir.filePath(QStringLiteral("history.sqlite"));
        qputenv("VELLORAN_HISTORY", location.toUtf8());
        QApplication app(argc, argv);
        return MeasureWindow(location, count, failEvery, int(option("--hold", 0)));
    }
    QCoreApplication app(argc, argv);
    const qsizetype keepAt = given.indexOf(QLatin1String("--keep"));
    const QString kept = keepAt < 0 ? QString() : given.value(keepAt + 1);
    const QString spool = dir.filePath(QStringLiteral("spool.sqlite"));
    std::vector<std::pair<const char*, Figures>> columns;
    std::fprintf(stderr, "filling SQLite with %lld records...\n", count);
    columns.emplace_back(
        "SQLite", Measure(kept.isEmpty() ? dir.filePath(QStringLiteral("history.sqlite")) : kept,
                          spool, count, failEvery));
    PgServer server;
    if (!given.contains(QLatin1String("--sqlite-only"))) {
        if (!server.Start()) {
            std::fprintf(stderr, "%s\n", qPrintable(server.Error()));
            return 1;
        }
        std::fprintf(stderr, "filling PostgreSQL with %lld records...\n", count);
        columns.emplace_back("PostgreSQL", Measure(server.Database(QStringLiteral("bench")), spool,
                                                   count, failEvery));
    }

    std::printf("history of %lld records (%lld a transaction)\n", count, Chunk);
    std::printf("%-48s", "ms: first / best of 5");
    for (const auto& [name, f] : columns)
        std::printf("  %20s", name);
    std::printf("\n%-48s", "fill (s)");
    for (const auto& [name, f] : columns)
        std::printf("  %20.1f", f.fillS);
    std::printf("\n");
    for (size_t q = 0; q < std::size(Questions); ++q) {
        std::printf("%-48s", Questions[q]);
        for (const auto& [name, f] : columns)
            std::printf("  %9.2f / %8.2f", f.queries[q].first, f.queries[q].second);
        std::printf("\n");
    }
    return 0;
}
