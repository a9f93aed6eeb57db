#pragma once

#include <QByteArray>

struct Context;

// Closes the port if it is open and opens COM PortNumber at 9600 baud; the
// outcome is left in PortOpened and told to the operator.
void OpenCommPort(Context& ctx);

// Waits up to `limit` seconds until more than `count` characters are waiting,
// then returns whatever is waiting (possibly nothing). Line ends at the head
// are the tail of the reply before: they neither count nor are returned.
QByteArray WaitForReply(Context& ctx, double limit, int count);

// Returns once `seconds` have passed since the clock read `start`.
void YieldingPause(Context& ctx, double start, double seconds);

// Closes the port and reopens it at `settings`, as the connection sequences
// do between the wake-up speed and the load speed.
void ReopenPort(Context& ctx, const QString& settings);

// The same on a port that should still be open from the step before: found
// closed, it lost its device on the way, and this raises why.
void SwitchSpeed(Context& ctx, const QString& settings);

// Where every stage lets the port go, having ended well or not: the one
// close a stage makes other than at a change of speed.
void ClosePort(Context& ctx);

class CommError;

// A stage whose port failed under it (device gone, port closed) ends here:
// the port is closed and the operator is told why, in red.
void ReportCommFault(Context& ctx, const CommError& error);
