#pragma once

#include "platform/Dialogs.h"

#include <QByteArrayView>
#include <QList>
#include <cstddef>
#include <cstdint>

// Every fuzz target defines this; libFuzzer or RunCorpus.cpp calls it once per input.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace quaddle::fuzz {

// Answers every question the quickest way out: OK to messages, cancel to everything else.
class TQuietDialogs : public TDialogs {
public:
    TMsgAnswer ShowMessage(const QString&, TMsgKind, TMsgButtons) override {
        return TMsgAnswer::Ok;
    }
    QStringList ChooseFiles(const QString&) override { return {}; }
    TMasterPassResult AskMasterPassword(TMasterPassMode, QString&) override {
        return TMasterPassResult::Abort;
    }
    bool AskLogin(QString&, QString&) override { return false; }
    int AskUser(TAskMode, const QString&) override { return 128; }
};

// Creates the application object once, on Qt's offscreen platform, with a throw-away
// settings store and TQuietDialogs installed.
void EnsureApplication();

// The input cut into consecutive pieces. Seed 0 cuts after every byte; other seeds give
// pieces of pseudo-random sizes from 1 to seed bytes, so that every boundary gets tried.
QList<QByteArrayView> Pieces(QByteArrayView data, uint8_t seed);

} // namespace quaddle::fuzz
