#include "station/Station.h"

#include "core/OffThread.h"
#include "core/Text.h"
#include "port/Clock.h"
#include "port/PortClaims.h"

#include <algorithm>

// The spool goes out through a board that has nothing else to do.
Station::Station(const Module1& m, PortClaims& claims, StationReach reach, QObject* parent)
    : QObject(parent), m_(m), claims_(claims), reach_(std::move(reach)),
      filePath_(StationFilePath(m)), spool_([this] { return idleSession(); }) {
    connect(&check_, &SerialCheck::Answered, this, &Station::checked);
    connect(&spool_, &SpoolSender::Warning, this, &Station::HistoryWarning);
}

// Each board's session waits for its job: halted together, they end together.
Station::~Station() {
    for (StationBoard* board : boards_)
        board->Halt();
    qDeleteAll(boards_);
}

// The rack as it was left, in its order.
void Station::Restore() {
    StationSetup setup;
    QString problem;
    const bool read = ReadStationFile(filePath_, setup, problem);
    restoring_ = true;
    for (const BoardPlace& place : setup.places)
        Add(place);
    beep_ = setup.beep;
    operator_ = setup.operatorName;
    lock_ = setup.lock;
    restoring_ = false;
    if (!read)
        emit Note(problem);
    // Nothing runs from a lock the history does not stand behind: one
    // written by hand, or before locks named jobs, is said and dropped.
    const QString refused = RefusedLock(lock_, history());
    if (!refused.isEmpty()) {
        lock_ = {};
        save();
    }
    emit LockNote(refused);
}

// A station with a board under way is not closed, nor its settings changed.
bool Station::Busy() const {
    return std::any_of(boards_.begin(), boards_.end(),
                       [](StationBoard* b) { return b->Running(); });
}

// One device, one board: two rows on it would take turns failing.
StationBoard* Station::Add(const BoardPlace& place) {
    const QString key = PortClaims::Key(place.Device());
    for (StationBoard* board : boards_) {
        if (PortClaims::Key(board->place.Device()) == key) {
            emit Note(QStringLiteral("%1 has a row already (%2)").arg(board->place.Name(), key));
            return nullptr;
        }
    }
    emit Note({});
    Session::PortMaker makePort;
    if (reach_.port)
        makePort = [this, place] { return reach_.port(place); };
    Session::ClockMaker makeClock;
    if (reach_.clock)
        makeClock = [this, place] { return reach_.clock(place); };
    auto* board = new StationBoard(place, claims_, std::move(makePort), std::move(makeClock));
    boards_.append(board);
    connect(board, &StationBoard::Ended, this, &Station::ended);
    connect(board, &StationBoard::StartAgainChosen, this,
            [this](StationBoard* held) { start(held, held->Label()); });
    save();
    emit RackChanged();
    return board;
}

// A running board keeps its row: its session still holds the port.
void Station::Remove(StationBoard* board) {
    if (!boards_.contains(board) || board->Running())
        return;
    boards_.removeOne(board);
    emit Leaving(board);
    delete board;
    save();
    emit RackChanged();
}

// The rack's order is the scans' order, and kept as soon as it changes.
void Station::Move(StationBoard* board, int by) {
    const auto from = boards_.indexOf(board);
    const auto to = from + by;
    if (from < 0 || to < 0 || to >= boards_.size())
        return;
    boards_.move(from, to);
    save();
    emit RackChanged();
}

// So that a rack is added, or grown after it was restored, by adding again.
int Station::FreePort(int from) const {
    for (int n = std::max(from, 1); n <= Ports; ++n)
        if (std::none_of(boards_.begin(), boards_.end(),
                         [n](StationBoard* b) { return b->place == BoardPlace::Com(n); }))
            return n;
    return 0;
}

// A board's own button: the operator's name goes with a start as with Start All.
void Station::Press(StationBoard* board) {
    if (board->Running())
        board->Halt();
    else
        start(board, tag({}));
}

// A board held on a question or under way is the operator's to decide.
void Station::StartAll() {
    for (StationBoard* board : boards_)
        if (board->Idle())
            start(board, tag({}));
}

// Every board stops where its stage next looks, as Halt Load would.
void Station::HaltAll() {
    for (StationBoard* board : boards_)
        board->Halt();
}

// The one way a board starts, from its own button, Start All or a scan:
// locked, it runs the job's bytes as the history keeps them.
void Station::start(StationBoard* board, RunTag label) {
    if (lock_.on) {
        label.job = lock_.job;
        label.jobSha256 = lock_.sha256;
    }
    if (board->Start(WithLock(m_, lock_), label, history()))
        emit Counted();
}

// Every run of the station is tagged one way: the board's serial, if
// scanned, and who worked the station.
RunTag Station::tag(const QString& serial) const {
    return {{}, serial, operator_};
}

// The window names it; without one, the history found as usual.
QString Station::history() const {
    return reach_.history ? reach_.history() : QString();
}

// A scanner sends the label and Enter: each scan starts one board or says why not.
void Station::Scan(const QString& raw) {
    const QString serial = raw.trimmed();
    if (serial.isEmpty()) {
        emit Note(QStringLiteral("Nothing was scanned: scan the board's label"));
        return;
    }
    // A scanner may send control characters (a GS1 label's separators): shown escaped.
    const QString shown = Printable(serial, Unprintable::Escaped, true);
    // One board on two sockets at once would be one record overwriting another.
    for (StationBoard* board : boards_) {
        if (!board->Idle() && board->Label().serial == serial) {
            emit Note(QStringLiteral("%1 is on %2 already").arg(shown, board->place.Name()));
            return;
        }
    }
    const auto idle =
        std::find_if(boards_.begin(), boards_.end(), [](StationBoard* b) { return b->Idle(); });
    if (idle == boards_.end()) {
        emit Note(boards_.isEmpty()
                      ? QStringLiteral("%1 not started: the station has no rows").arg(shown)
                      : QStringLiteral("%1 not started: no row is idle").arg(shown));
        return;
    }
    emit Note({});
    (*idle)->Check(tag(serial));
    check_.Ask(history(), serial, checkWaitMs);
}

// The answer goes to the board that holds the serial, if one still does.
void Station::checked(const QString& serial, const SerialVerdict& verdict) {
    const auto held = std::find_if(boards_.begin(), boards_.end(), [&serial](StationBoard* b) {
        return b->Checking() && b->Label().serial == serial;
    });
    if (held == boards_.end())
        return; // skipped, or removed, meanwhile
    StationBoard* board = *held;
    const RunTag label = board->Label();
    if (board->Heard(verdict))
        start(board, label);
}

// A record that reached the history means the spool has gone there too:
// the warning stands until one does.
void Station::ended(StationBoard* board) {
    emit HistoryWarning(board->BoardSession().HistoryWarning());
    spool_.JobEnded(board->BoardSession());
    const Failure outcome = board->Outcome().value_or(Failure::None);
    tally_.Count(outcome, board->Seconds().value_or(0));
    if (beep_ && outcome != Failure::None && outcome != Failure::Halted)
        emit Beep();
    emit Counted();
    if (!Busy())
        emit AllEnded();
}

// An idle board whose last record was spooled sends the spool of the
// history that record was meant for.
Session* Station::idleSession() {
    const auto idle = std::find_if(boards_.begin(), boards_.end(), [](StationBoard* b) {
        return !b->Running() && b->Outcome() && b->BoardSession().LastStored() == Stored::Spooled;
    });
    return idle == boards_.end() ? nullptr : &(*idle)->BoardSession();
}

// The rack as it stands and the shift's runs, in one wording.
QString Station::Summary() const {
    return tally_.Summary(boards_.size(),
                          std::count_if(boards_.begin(), boards_.end(),
                                        [](StationBoard* b) { return b->Running(); }));
}

// Kept at once: the next shift finds the name it left.
void Station::SetOperator(const QString& name) {
    if (std::exchange(operator_, name.trimmed()) != operator_)
        save();
}

// Kept at once, as the operator's other choices.
void Station::SetBeepOnFailure(bool on) {
    if (std::exchange(beep_, on) != on)
        save();
}

// One word at a time: the lock changes only once it is heard.
void Station::Supervise(SupervisorWord word) {
    if (std::exchange(supervising_, true))
        return;
    word.history = history();
    word.client = QStringLiteral("station");
    const bool locking = word.action == QLatin1String("lock");
    OffThread<SupervisorVerdict>(
        this, [word] { return AskSupervisor(word); },
        [this, locking](const SupervisorVerdict& verdict) {
            supervising_ = false;
            if (verdict.answer == JobAnswer::Done) {
                lock_ = locking ? verdict.lock : StationLock{};
                save();
                emit LockChanged(lock_.on);
            }
            emit LockNote(verdict.answer == JobAnswer::Done
                              ? QString()
                              : (locking ? QStringLiteral("Not locked: %1")
                                         : QStringLiteral("Not unlocked: %1"))
                                    .arg(verdict.problem));
            emit Supervised(verdict.answer);
        });
}

// The text is the file's, so that every display of it agrees.
QString Station::SettingsText() const {
    return ::SettingsText(m_, lock_);
}

// Every change of the rack or of the operator's choices is kept at once: a
// station may be switched off at the end of a shift without closing it.
void Station::save() {
    if (restoring_)
        return;
    StationSetup setup;
    for (const StationBoard* board : boards_)
        setup.places << board->place;
    setup.beep = beep_;
    setup.operatorName = operator_;
    setup.lock = lock_;
    QString problem;
    if (!WriteStationFile(filePath_, setup, problem))
        emit Note(problem);
}
