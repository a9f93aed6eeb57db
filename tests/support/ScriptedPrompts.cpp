#include "tests/support/ScriptedPrompts.h"

#include <QTest>

namespace {

// The next answer a test declared, or a failed test and `none` if it declared none.
template <class T> T Next(std::deque<T>& declared, const char* what, T none) {
    if (declared.empty()) {
        QTest::qFail(what, __FILE__, __LINE__);
        return none;
    }
    T next = std::move(declared.front());
    declared.pop_front();
    return next;
}

} // namespace

void ScriptedPrompts::Expect(const QString& text, BoxAnswer answer) {
    boxes_.emplace_back(text, answer);
}

void ScriptedPrompts::ExpectOpen(const QString& path) {
    files_.push_back(path);
}

void ScriptedPrompts::ExpectSave(const QString& path) {
    saves_.push_back(path);
}

BoxAnswer ScriptedPrompts::MsgBox(const Box& box) {
    seen.append(box);
    if (whileShown)
        whileShown();
    const QString unexpected = QStringLiteral("unexpected box: ") + box.text;
    const auto [text, answer] =
        Next(boxes_, qPrintable(unexpected), {box.text, DismissAnswer(box.buttons)});
    if (text != box.text)
        QTest::qFail(
            qPrintable(QStringLiteral("expected box \"%1\", got \"%2\"").arg(text, box.text)),
            __FILE__, __LINE__);
    return answer;
}

QString ScriptedPrompts::ShowOpen(const OpenFileRequest& request) {
    openRequests.append(request);
    return Next(files_, "unexpected open-file dialog", QString());
}

QString ScriptedPrompts::ShowSave(const SaveFileRequest& request) {
    saveRequests.append(request);
    return Next(saves_, "unexpected save dialog", QString());
}
