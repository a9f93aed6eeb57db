#include "protocol/Connection.h"

#include "core/Context.h"
#include "core/Status.h"
#include "port/Clock.h"
#include "port/MSComm.h"
#include "protocol/SerialAccess.h"

#include <QStringList>
#include <optional>

namespace {

const QString Title = QStringLiteral("Velloran");
const QByteArray AutoBaudCharacter(1, '\x80');
constexpr double WakeUpPause = 0.1;
constexpr double AutoBaudPause = 1.0;
constexpr int WakeUpAttempts = 3;
constexpr int PowerCycleAttempts = 60;
constexpr int AllAttempts = 2 * WakeUpAttempts + PowerCycleAttempts;
constexpr std::int32_t Q70Baud = 115200;

// How one run of the sequence ended.
enum class Ending { Connected, Refused, Halted, NoAnswer };

void Caption(Context& ctx, const QString& text) {
    ctx.status.Message(text);
}

// The pause counts from the moment the bytes were handed to the port.
void SendAndPause(Context& ctx, const QByteArray& bytes, double seconds) {
    ctx.MSComm1.setOutput(bytes);
    YieldingPause(ctx, ctx.clock.Timer(), seconds);
}

Ending BoardAnswered(Context& ctx, bool boardIsQ70) {
    const bool modeIsQ70 = ctx.m.LoadMode == 0;
    ctx.status.BoardType(boardIsQ70 ? QStringLiteral("Q70") : QStringLiteral("6620"));
    if (boardIsQ70 != modeIsQ70) {
        ctx.failure = Failure::WrongBoard;
        ctx.prompts.MsgBox(
            MakeBox(boardIsQ70 ? QStringLiteral("Wrong Mode - Board is Q70 and Mode is for 6620")
                               : QStringLiteral("Wrong Mode - Board is 6620 and Mode is for Q70"),
                    Title, BoxIcon::Exclamation));
        return Ending::Refused;
    }
    ctx.m.ModemConnected = true;
    Caption(ctx, QStringLiteral("Connection OK"));
    return Ending::Connected;
}

// One autobaud character and the full second after it. Only the first
// character of what came back names the board; anything else is noise.
std::optional<Ending> AutoBaudAttempt(Context& ctx, bool showCaption, int attempt) {
    ctx.status.AutoBaudAttempt(attempt, AllAttempts);
    if (showCaption)
        Caption(ctx, QStringLiteral("Sending AutoBaud Character"));
    SendAndPause(ctx, AutoBaudCharacter, AutoBaudPause);
    if (ctx.MSComm1.InBufferCount() <= 0)
        return std::nullopt;
    const QByteArray answer = ctx.MSComm1.Input();
    if (answer.startsWith('$'))
        return BoardAnswered(ctx, true);
    if (answer.startsWith('#'))
        return BoardAnswered(ctx, false);
    return std::nullopt;
}

Ending ConnectOnce(Context& ctx) {
    if (ctx.m.LoadMode == 0 && ctx.m.BaudRate != Q70Baud) {
        ctx.prompts.MsgBox(MakeBox(QStringLiteral("Q 70 Board Supports a Baud Rate = 115200 Only"),
                                   Title, BoxIcon::Information));
        ctx.failure = Failure::WrongBoard;
        return Ending::Refused;
    }

    int attempt = 0;
    Caption(ctx, QStringLiteral("Sending ATES"));
    SendAndPause(ctx, ctx.m.AtesCommand, WakeUpPause);
    SwitchSpeed(ctx, ctx.m.FastSettings);
    for (int i = 0; i < WakeUpAttempts; ++i)
        if (auto ending = AutoBaudAttempt(ctx, true, ++attempt))
            return *ending;

    Caption(ctx, QStringLiteral("Sending ATT8"));
    SwitchSpeed(ctx, WakeUpSettings);
    SendAndPause(ctx, ctx.m.Att8Command, WakeUpPause);
    SwitchSpeed(ctx, ctx.m.FastSettings);
    for (int i = 0; i < WakeUpAttempts; ++i)
        if (auto ending = AutoBaudAttempt(ctx, true, ++attempt))
            return *ending;

    // The boot loader also listens for the autobaud character right after
    // power-up; the operator cycles the power while we keep sending it.
    Caption(ctx, QStringLiteral("**** Cycle Power To Modem  ***"));
    for (int i = 0; i < PowerCycleAttempts; ++i) {
        if (ctx.m.AbortRequested) {
            ctx.failure = Failure::Halted;
            return Ending::Halted;
        }
        if (auto ending = AutoBaudAttempt(ctx, false, ++attempt))
            return *ending;
    }
    return Ending::NoAnswer;
}

Box FailureBox() {
    const QStringList lines{
        QStringLiteral("Failed to Connect to Modem"),
        QStringLiteral("Check the Following -"),
        QString(),
        QStringLiteral(" 1> Modem is Connected to the correct PC Comm Port"),
        QString(),
        QStringLiteral(" 2> Power is Applied to Modem"),
    };
    return MakeBox(lines.join(QStringLiteral("\r\n")), Title, BoxIcon::Exclamation,
                   BoxButtons::RetryCancel, BoxAnswer::Retry);
}

} // namespace

void ConnectToModem(Context& ctx) {
    // Every Retry starts the whole sequence over on a freshly opened port; a
    // loop, so that an operator who keeps retrying never deepens the stack.
    for (;;) {
        ctx.m.ModemConnected = false;
        try {
            if (ConnectOnce(ctx) != Ending::NoAnswer)
                return;
        } catch (const CommError& e) {
            ReportCommFault(ctx, e);
            return;
        }

        Caption(ctx, QStringLiteral("Connection Failed !!"));
        ctx.status.SetTint(Tint::Red);
        ctx.failure = Failure::NoAnswer;
        ClosePort(ctx);
        if (ctx.prompts.MsgBox(FailureBox()) != BoxAnswer::Retry)
            return;
        ctx.failure = Failure::None;
        OpenCommPort(ctx);
        if (!ctx.m.PortOpened)
            return; // OpenCommPort has told the operator; there is no port to work on
    }
}
