#pragma once

#include "core/Prompts.h"

#include <QList>
#include <deque>
#include <functional>

// Answers the tool's boxes the way a test declared, in order. A box nobody
// declared fails the test (and is answered so that it ends: Cancel or No).
class ScriptedPrompts : public Prompts {
public:
    // The next box must carry `text` (exact); it is answered with `answer`.
    void Expect(const QString& text, BoxAnswer answer = BoxAnswer::Ok);
    // The next open-file dialog returns `path` ("" for a cancel).
    void ExpectOpen(const QString& path);
    // The next save dialog returns `path` ("" for a cancel).
    void ExpectSave(const QString& path);
    bool AllAnswered() const { return boxes_.empty() && files_.empty() && saves_.empty(); }

    BoxAnswer MsgBox(const Box& box) override;
    QString ShowOpen(const OpenFileRequest& request) override;
    QString ShowSave(const SaveFileRequest& request) override;

    QList<Box> seen;
    QList<OpenFileRequest> openRequests;
    QList<SaveFileRequest> saveRequests;
    std::function<void()> whileShown; // runs while a box is up (as a user would)

private:
    std::deque<std::pair<QString, BoxAnswer>> boxes_;
    std::deque<QString> files_;
    std::deque<QString> saves_;
};
