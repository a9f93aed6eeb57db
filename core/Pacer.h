#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <functional>

// Keeps a display's pictures of fast news (a window's, a terminal's lines) to
// a pace the eye can follow: news shows at once when the last picture is old
// enough, else once it is. Drawing is what a fast download would otherwise
// spend its time on.
class Pacer {
public:
    Pacer(int milliseconds, std::function<void()> show)
        : interval_(milliseconds), show_(std::move(show)) {
        later_.setSingleShot(true);
        QObject::connect(&later_, &QTimer::timeout, &later_, [this] { show_(); });
        shown_.start();
    }
    // News came: shown now, or once the last picture has stood its time.
    void Changed() {
        const qint64 since = shown_.elapsed();
        if (since >= interval_)
            show_();
        else if (!later_.isActive())
            later_.start(static_cast<int>(interval_ - since));
    }
    // The display has just shown the latest: the pace counts from here.
    void Shown() {
        later_.stop();
        shown_.restart();
    }

private:
    int interval_;
    std::function<void()> show_;
    QElapsedTimer shown_;
    QTimer later_;
};
