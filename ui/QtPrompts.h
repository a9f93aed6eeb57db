#pragma once

#include "core/Prompts.h"

class QWidget;

// The real thing: Qt message boxes and the Qt file dialogs.
class QtPrompts : public Prompts {
public:
    explicit QtPrompts(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    BoxAnswer MsgBox(const Box& box) override;
    void MsgBoxLater(const Box& box, std::function<void(BoxAnswer)> answered) override;
    QString ShowOpen(const OpenFileRequest& request) override;
    QString ShowSave(const SaveFileRequest& request) override;

private:
    QWidget* parent_;
};
