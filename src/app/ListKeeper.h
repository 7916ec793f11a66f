// The stored conversion list: the list is written to the configuration
// folder after every change, so that a start after a crash or a power cut
// finds it again, with the progress of a batch that did not end. A window
// that ends normally discards it: a normal start begins with an empty list.
//
// Threads: user-interface thread only.
#pragma once

#include "core/ListStore.h"

#include <QObject>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

class TFilesList;

class TListKeeper : public QObject {
    Q_OBJECT
public:
    // The store beside the settings file; changes of `list` are stored a
    // little later, those that come close together once.
    TListKeeper(TFilesList& list, const std::string& settingsFile);

    // Fills the list with the stored rows (a message box says what could
    // not be read) and from then on keeps the store up to date.
    void Restore();
    // The window ends normally: the store goes.
    void Discard();

    // What the batch tells the store: its tasks are built, a row converted,
    // a row left unconverted (its file refused or removed) and why, the
    // batch ended.
    void BatchStarted();
    void RowConverted(int row);
    void RowFailed(int row, const QString& reason);
    void BatchEnded();

private:
    void StoreNow();
    std::vector<TStoredRow> Rows() const;

    TFilesList& FList;
    TListStore FStore;
    QTimer FTimer;
    bool FBatchRunning = false; // a batch runs: the store says so
    std::string FLastError;     // logged once, not on every change
};
