#pragma once

#include "core/document/RecoveryFile.h"

#include <QObject>
#include <QTimer>

#include <string>

class CKLTDoc;

// Where the recovery file lives and how often it is written during a reception.
struct RecoverySettings {
    std::string folder = CRecoveryFile::DefaultFolder();
    int periodMs = 10000;
};

// Keeps the history of a reception in the recovery file until the user has saved it or given
// it up: written every period while a reception runs and the history is modified, once more
// when the reception ends, removed when the history is saved or discarded. All on the UI
// thread.
class CRecoveryKeeper : public QObject {
public:
    CRecoveryKeeper(CKLTDoc& document, const RecoverySettings& settings);

    void ReceptionBegins();
    void ReceptionEnds();

    // Writes the history now if it holds unsaved text; a write that fails is tried again at
    // the next occasion (the user is told nothing: the history itself is still on screen).
    void WriteNow();

    // The history was saved, or the user gave it up.
    void Discard();

    // At start, when a recovery file is there: asks whether to open it (112). Yes puts its
    // history into the document as a modified untitled one; No removes the file. True when
    // the document now holds the recovered history.
    bool OfferAtStart();

    const CRecoveryFile& File() const { return m_file; }
    bool IsKeeping() const { return m_timer.isActive(); }

private:
    CKLTDoc& m_document;
    CRecoveryFile m_file;
    QTimer m_timer;
};
