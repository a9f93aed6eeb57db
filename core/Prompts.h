#pragma once

#include <QString>
#include <functional>

// Every message box and the open-file dialog go through this one hook, so that
// tests can answer them without a person.
enum class BoxIcon { Information, Exclamation, Question };
// CreateCancel asks before making something: its Create answers Yes.
enum class BoxButtons { Ok, OkCancel, YesNo, RetryCancel, CreateCancel };
enum class BoxAnswer { Ok, Cancel, Yes, No, Retry };

struct Box {
    QString text;
    QString title;
    BoxIcon icon = BoxIcon::Information;
    BoxButtons buttons = BoxButtons::Ok;
    BoxAnswer defaultButton = BoxAnswer::Ok;
    QString detail; // shown behind "Show Details..."; empty for none
};

inline Box MakeBox(const QString& text, const QString& title, BoxIcon icon,
                   BoxButtons buttons = BoxButtons::Ok, BoxAnswer defaultButton = BoxAnswer::Ok) {
    Box box;
    box.text = text;
    box.title = title;
    box.icon = icon;
    box.buttons = buttons;
    box.defaultButton = defaultButton;
    return box;
}

// The answer of a box dismissed without a choice (Escape, or a box nobody
// can answer): the one that goes no further. Never Retry, which would loop.
inline BoxAnswer DismissAnswer(BoxButtons buttons) {
    switch (buttons) {
    case BoxButtons::Ok:
        return BoxAnswer::Ok;
    case BoxButtons::YesNo:
        return BoxAnswer::No;
    default:
        return BoxAnswer::Cancel;
    }
}

// Mode 1 replaces the boot loader itself, and a load that fails then leaves a
// board only the factory can mend: every client asks this first, and an
// answer other than Ok goes no further.
inline Box ReloadBootLoaderBox() {
    return MakeBox(QStringLiteral("Are you sure you want to reload the boot loader\r\n"
                                  "If the load fails the modem will require factory servicing"),
                   QStringLiteral("Velloran"), BoxIcon::Question, BoxButtons::OkCancel,
                   BoxAnswer::Cancel);
}

struct OpenFileRequest {
    QString title;
    QString filter; // "Program Files (*.rom) | *.rom"
    QString initialDirectory;
};

struct SaveFileRequest {
    QString title;
    QString filter;      // "Text Files (*.txt) | *.txt"
    QString initialPath; // the directory, with a suggested name
};

class Prompts {
public:
    virtual ~Prompts() = default;
    virtual BoxAnswer MsgBox(const Box& box) = 0;
    // The chosen path, or an empty string when the operator cancels.
    virtual QString ShowOpen(const OpenFileRequest&) { return {}; }
    // Where to save, or an empty string when the operator cancels. A hook
    // that offers no save dialog cancels.
    virtual QString ShowSave(const SaveFileRequest&) { return {}; }
    // The same box without waiting for it: `answered` runs once it is closed.
    // A window asks this way for a run on another thread, so that it never
    // sits in a box of its own while its events wait.
    virtual void MsgBoxLater(const Box& box, std::function<void(BoxAnswer)> answered) {
        answered(MsgBox(box));
    }
};
