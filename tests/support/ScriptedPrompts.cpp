#include "tests/support/ScriptedPrompts.h"

#include <QTest>

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
    if (boxes_.empty()) {
        QTest::qFail(qPrintable(QStringLiteral("unexpected box: ") + box.text), __FILE__, __LINE__);
        return DismissAnswer(box.buttons);
    }
    auto [text, answer] = boxes_.front();
    boxes_.pop_front();
    if (text != box.text)
        QTest::qFail(
            qPrintable(QStringLiteral("expected box \"%1\", got \"%2\"").arg(text, box.text)),
            __FILE__, __LINE__);
    return answer;
}

QString ScriptedPrompts::ShowOpen(const OpenFileRequest& request) {
    openRequests.append(request);
    if (files_.empty()) {
        QTest::qFail("unexpected open-file dialog", __FILE__, __LINE__);
        return {};
    }
    QString path = files_.front();
    files_.pop_front();
    return path;
}

QString ScriptedPrompts::ShowSave(const SaveFileRequest& request) {
    saveRequests.append(request);
    if (saves_.empty()) {
        QTest::qFail("unexpected save dialog", __FILE__, __LINE__);
        return {};
    }
    QString path = saves_.front();
    saves_.pop_front();
    return path;
}
