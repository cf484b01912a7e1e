#pragma once

#include <QString>
#include <QStringList>

namespace quaddle {

// The icon a message box shows, which also tells the user what kind of notice it is.
enum class TMsgKind { Plain, Error, Information, Question, Confirmation };

enum class TMsgButtons { Ok, YesNo, OkCancel, OkAbort };

enum class TMsgAnswer { Ok, Cancel, Yes, No, Abort };

// Every message box and every question the program puts to the user goes through this
// interface, so that logic code stays free of widgets and tests can answer from a script.
class TDialogs {
public:
    virtual ~TDialogs() = default;

    virtual TMsgAnswer ShowMessage(const QString& text, TMsgKind kind, TMsgButtons buttons) = 0;

    // Lets the user pick existing files; an empty list means the choice was cancelled.
    virtual QStringList ChooseFiles(const QString& title) = 0;
};

// The implementation in use. The program installs the one that shows real windows;
// tests install a scripted one. Not owned.
TDialogs& Dialogs();
void InstallDialogs(TDialogs* dialogs);

} // namespace quaddle
