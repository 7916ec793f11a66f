// One window per user. The first start of the program listens on a local
// socket; a later start hands its files to it over that socket and ends.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>

class QLocalSocket;

class TSingleInstance : public QObject {
    Q_OBJECT
public:
    // `socketName` is a full path or a name in Qt's socket folder; empty
    // means the user's own (DefaultSocketName()).
    explicit TSingleInstance(QString socketName = QString(), QObject* parent = nullptr);
    ~TSingleInstance() override;

    // The user's socket: "vantrel-instance" in $XDG_RUNTIME_DIR, else in a
    // folder of the user's own under the temporary folder ("vantrel-<uid>").
    // Empty when no private place exists; the program then runs on its own.
    static QString DefaultSocketName();

    // Sends the files (absolute paths) to a running instance. True when one
    // took them within `timeoutMs`; false when none runs or it did not answer.
    bool HandOver(const QStringList& files, int timeoutMs = 5000);

    // Starts listening. A socket file that nobody answers on (left behind
    // by a crashed instance) is removed first. False when another instance
    // answers on the socket, or when listening fails (see ErrorText()).
    bool Listen();
    bool IsListening() const { return FServer.isListening(); }
    // Why Listen() failed; empty when another instance answered.
    const QString& ErrorText() const { return FError; }
    const QString& SocketName() const { return FName; }

signals:
    // Files handed over by a later start (possibly none: that start only
    // asks the window to come to the front).
    void FilesReceived(const QStringList& files);

private:
    bool AnotherAnswers(int timeoutMs) const;
    void AcceptConnections();
    void ReadRequest(QLocalSocket* socket);

    QString FName;
    QString FError;
    QLocalServer FServer;
};
