#pragma once

#include <QObject>
#include <QThread>
#include <functional>
#include <memory>

// `work` on a thread of its own, `done` with its result back on `context`'s
// thread: what may wait on a database (a supervisor's password may be made
// to wait half a minute) never holds a window up. `done` is dropped when
// `context` has gone meanwhile.
template <class T>
void OffThread(QObject* context, std::function<T()> work, std::function<void(T)> done) {
    auto result = std::make_shared<T>();
    QThread* thread = QThread::create([result, work = std::move(work)] { *result = work(); });
    QObject::connect(thread, &QThread::finished, context,
                     [result, done = std::move(done)] { done(std::move(*result)); });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}
