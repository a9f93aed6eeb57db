#pragma once

#include <QString>
#include <QStringList>
#include <mutex>

// Everything the command line tells on stderr while boards run. Session
// threads write to it (their boxes) while the main thread keeps the live
// lines: each call takes the lock, so no line is cut by another.
class Console {
public:
    enum class Mode {
        Live,  // a terminal: one line per board, redrawn in place
        Plain, // a file or a pipe: lasting lines with the time and the board
        Quiet, // only what the operator must read
    };

    // `boards` names each board as its lines start.
    Console(Mode mode, QStringList boards);

    Mode mode() const { return mode_; }
    // A lasting line about board `board` (or the run, for -1); plain mode only.
    void Say(int board, const QString& text);
    // The same in every mode: errors, boxes, the call to cycle the power.
    // Later lines of a text are indented under the first.
    void Warn(int board, const QString& text);
    // The board's live line, shown at the next Draw (live mode only).
    void SetLive(int board, const QString& text);
    void Draw();

    // Control characters (a device ID sent as it came) would move a
    // terminal's cursor: they are shown as \xNN.
    static QString Printable(const QString& text);
    // A line of the command's own for stderr, "velloran-cli: " first: the
    // values and paths it quotes are outside text, escaped as above.
    static QByteArray Said(const QString& text);

private:
    void put(int board, const QString& text, bool stamped);
    void erase();
    void redraw();

    std::mutex lock_;
    Mode mode_;
    QStringList names_;
    QStringList live_;
    int drawn_ = 0; // live lines now on the screen
};
