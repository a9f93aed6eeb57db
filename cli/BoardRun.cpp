#include "cli/BoardRun.h"

#include "cli/Console.h"

#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <cmath>

namespace {

const QString CyclePower = QStringLiteral("**** Cycle Power To Modem  ***");
const QString LinesDownloaded = QStringLiteral(" Lines Downloaded");
// A terminal is redrawn a few times a second; a log takes each message.
constexpr int LiveMilliseconds = 100;
constexpr int PlainMilliseconds = 20;
// After the second Ctrl-C, how long a stage may take to find its port closed.
constexpr int GiveUpMilliseconds = 2000;

// The boxes of a session, answered on its own thread: the text goes to the
// console and the answer is the one that goes no further, but for the
// connection's Retry, given as often as the command line allows.
class CliPrompts : public Prompts {
public:
    CliPrompts(Console& console, int board, int retries)
        : console_(console), board_(board), retries_(retries) {}

    BoxAnswer MsgBox(const Box& box) override {
        console_.Warn(board_, box.detail.isEmpty() ? box.text : box.text + '\n' + box.detail);
        if (box.buttons == BoxButtons::RetryCancel && tried_ < retries_) {
            ++tried_;
            console_.Warn(board_,
                          QStringLiteral("trying again (%1 of %2)").arg(tried_).arg(retries_));
            return BoxAnswer::Retry;
        }
        // Every box of a run that is not answered Retry ends it.
        lastBox = box.text.section(QLatin1Char('\r'), 0, 0);
        return DismissAnswer(box.buttons);
    }

    // Read once the job has ended.
    QString lastBox;

private:
    Console& console_;
    int board_;
    int retries_;
    int tried_ = 0;
};

QString Duration(double seconds) {
    const auto s = static_cast<qint64>(std::ceil(std::max(0.0, seconds)));
    return s < 3600 ? QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'))
                    : QStringLiteral("%1:%2:%3")
                          .arg(s / 3600)
                          .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                          .arg(s % 60, 2, 10, QLatin1Char('0'));
}

// Where a connection or a download stands; empty in the other stages.
QString Progress(const SessionView& v, double now) {
    if (v.phase == Phase::Connecting && v.attempts > 0)
        return QStringLiteral("attempt %1 of %2").arg(v.attempt).arg(v.attempts);
    if (v.phase != Phase::Downloading)
        return {};
    QString text =
        QStringLiteral("records %1 of %2").arg(v.estimate.Done()).arg(v.estimate.Total());
    const auto rate = v.estimate.RecordsPerSecond(now);
    const auto left = v.estimate.SecondsLeft(now);
    if (rate && left)
        text +=
            QStringLiteral(", %1 records/s, %2 left").arg(*rate, 0, 'f', 1).arg(Duration(*left));
    return text;
}

} // namespace

struct BoardRun::Board {
    Board(Console& console, int index, int retries, const BoardPlace& place, PortClaims& claims)
        : result(place), prompts(console, index, retries),
          session(
              prompts, PromptThread::Session, place, claims,
              QStringLiteral("board %1 of this command (%2)").arg(index + 1).arg(place.Name())) {}

    BoardResult result;
    CliPrompts prompts;
    Session session;
    QElapsedTimer clock;
    bool ended = false;
    bool halted = false;
    // A log tells the connection every ten attempts and the download every tenth.
    Phase toldPhase = Phase::Idle;
    qint64 toldStep = 0;
    bool toldSlow = false; // a slow latency timer, said once for each board
};

BoardRun::BoardRun(const Options& options, const Module1& settings, Console& console)
    : job_(options.command == Command::Check ? Job::CheckBoot : Job::Reprogram),
      settings_(settings), tag_{QStringLiteral("cli"), options.serial, options.operatorName,
                                options.job, options.jobSha256},
      console_(console),
      pacer_(console.mode() == Console::Mode::Live ? LiveMilliseconds : PlainMilliseconds,
             [this] { look(); }) {
    for (const BoardPlace& place : options.boards) {
        const int index = static_cast<int>(boards_.size());
        auto board = std::make_unique<Board>(console, index, options.retries, place, claims_);
        Board* b = board.get();
        b->session.SetHistory(options.history);
        connect(&b->session, &Session::Changed, this, [this] { pacer_.Changed(); });
        connect(&b->session, &Session::Finished, this,
                [this, index](Failure failure) { ended(index, failure); });
        boards_.push_back(std::move(board));
    }
}

// The sessions close their ports as they go.
BoardRun::~BoardRun() = default;

void BoardRun::Run() {
    for (const auto& b : boards_) {
        b->clock.start();
        b->session.Start(job_, settings_, tag_);
    }
    console_.Draw();
    loop_.exec();
}

void BoardRun::Halt() {
    if (halting_)
        return;
    halting_ = true;
    console_.Warn(-1, QStringLiteral("Halting: each board stops where its stage next looks. "
                                     "Ctrl-C again ends at once."));
    for (const auto& b : boards_) {
        // A board whose run ended by itself, its ending not yet read here,
        // keeps that ending: the halt came too late to stop it.
        if (b->ended || !b->session.Running())
            continue;
        b->halted = true;
        b->session.Halt();
    }
}

void BoardRun::Stop() {
    if (stopping_)
        return;
    Halt();
    stopping_ = true;
    console_.Warn(-1, QStringLiteral("Ending at once: closing the ports."));
    for (const auto& b : boards_)
        if (!b->ended)
            b->session.CloseUnderStage();
    QTimer::singleShot(GiveUpMilliseconds, &loop_, &QEventLoop::quit);
}

bool BoardRun::AllEnded() const {
    return std::all_of(boards_.begin(), boards_.end(), [](const auto& b) { return b->ended; });
}

std::vector<BoardResult> BoardRun::Results() const {
    std::vector<BoardResult> results;
    for (const auto& b : boards_) {
        BoardResult r = b->result;
        if (!b->ended) {
            r.view = b->session.TakeView();
            r.failure = Failure::Halted;
            r.seconds = static_cast<double>(b->clock.elapsed()) / 1000.0;
        }
        results.push_back(r);
    }
    return results;
}

// The boards share one history: what kept one from it kept the others.
QString BoardRun::HistoryWarning() const {
    for (const auto& b : boards_)
        if (b->ended && !b->session.HistoryWarning().isEmpty())
            return b->session.HistoryWarning();
    return {};
}

QString BoardRun::Transcripts() const {
    QStringList texts;
    for (const auto& b : boards_)
        texts << b->session.transcript().Text();
    return texts.join(QLatin1Char('\n'));
}

void BoardRun::look() {
    pacer_.Shown();
    for (std::size_t i = 0; i < boards_.size(); ++i)
        if (!boards_[i]->ended)
            show(*boards_[i], static_cast<int>(i), boards_[i]->session.TakeView());
    console_.Draw();
}

void BoardRun::show(Board& b, int index, const SessionView& view) {
    warnSlow(b, index, view);
    for (const QString& message : view.messages) {
        if (message == CyclePower)
            console_.Warn(index, QStringLiteral("No answer yet: cycle the modem's power now. The "
                                                "boot loader listens right after power-up."));
        else if (!message.endsWith(LinesDownloaded))
            console_.Say(index, message);
    }
    const QString progress = Progress(view, b.session.Now());
    const QString live = view.phase == Phase::Connecting && !progress.isEmpty()
                             ? progress + QStringLiteral(" - ") + view.message
                             : progress;
    console_.SetLive(index, live.isEmpty() ? view.message : live);

    qint64 step = 0;
    if (view.phase == Phase::Downloading && view.estimate.Total() > 0)
        step = 10 * view.estimate.Done() / view.estimate.Total();
    else if (view.phase == Phase::Connecting)
        step = view.attempt / 10;
    // A new stage, or a connection run again, starts the count again.
    if (view.phase != b.toldPhase || step < b.toldStep)
        b.toldStep = 0;
    b.toldPhase = view.phase;
    if (step > b.toldStep) {
        b.toldStep = step;
        console_.Say(index, progress);
    }
}

void BoardRun::ended(int index, Failure failure) {
    Board& b = *boards_[static_cast<std::size_t>(index)];
    b.result.view = b.session.TakeView();
    b.result.reason = stopping_ && b.halted
                          ? QStringLiteral("Stopped at once: the port was closed under the stage")
                          : b.prompts.lastBox;
    show(b, index, b.result.view);
    // The status line may still read as a stage long past: a box that ended
    // the run says why it ended.
    if (!b.result.reason.isEmpty())
        console_.SetLive(index, b.result.reason);
    console_.Draw();
    // A run stopped by the operator fails where the halt caught it.
    b.result.failure = failure;
    b.result.record = b.session.LastRecord();
    b.result.stored = b.session.LastStored();
    b.result.seconds = static_cast<double>(b.clock.elapsed()) / 1000.0;
    b.ended = true;
    b.session.ClosePort();
    if (AllEnded())
        loop_.quit();
}

// A timer the tool could not lower makes the load slower: said on stderr as
// soon as the port has opened, not once for each of a run's reopenings.
void BoardRun::warnSlow(Board& b, int index, const SessionView& view) {
    if (b.toldSlow || !view.tuning)
        return;
    const QString warning = view.tuning->SlowWarning();
    if (warning.isEmpty())
        return;
    b.toldSlow = true;
    console_.Warn(index, warning);
}
