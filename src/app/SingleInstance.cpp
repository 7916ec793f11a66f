#include "app/SingleInstance.h"

#include <QDataStream>
#include <QDir>
#include <QLocalSocket>
#include <QTimer>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// First word of every request: the program and the version of the request.
constexpr quint32 kRequestMagic = 0x564e5431; // "VNT1"
constexpr char kAccepted = 'A';
// A request larger than this is no hand-over of ours.
constexpr qint64 kMaxRequestBytes = 16 * 1024 * 1024;
// A connection that has not sent its request by then is dropped.
constexpr int kRequestTimeoutMs = 10000;

// A folder only this user can enter: owned by us, no access for others,
// not a symbolic link.
bool IsPrivateFolder(const QByteArray& path) {
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

QString PrivateTempFolder() {
    const QByteArray path =
        QFile::encodeName(QDir::tempPath() + "/vantrel-" + QString::number(::geteuid()));
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) return QString();
    return IsPrivateFolder(path) ? QFile::decodeName(path) : QString();
}

} // namespace

TSingleInstance::TSingleInstance(QString socketName, QObject* parent)
    : QObject(parent), FName(socketName.isEmpty() ? DefaultSocketName() : std::move(socketName)) {
    // No socket options: with them Qt binds elsewhere and renames the socket
    // into place, replacing a running instance's socket instead of failing.
    // The socket's folder is the user's own (DefaultSocketName()).
    connect(&FServer, &QLocalServer::newConnection, this, &TSingleInstance::AcceptConnections);
}

TSingleInstance::~TSingleInstance() {
    FServer.close();
}

QString TSingleInstance::DefaultSocketName() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    QString folder;
    if (!runtime.isEmpty() && runtime.startsWith('/') && IsPrivateFolder(runtime))
        folder = QFile::decodeName(runtime);
    else
        folder = PrivateTempFolder();
    return folder.isEmpty() ? QString() : folder + "/vantrel-instance";
}

bool TSingleInstance::HandOver(const QStringList& files, int timeoutMs) {
    if (FName.isEmpty()) return false;
    QLocalSocket socket;
    socket.connectToServer(FName);
    if (!socket.waitForConnected(timeoutMs)) return false;
    QByteArray request;
    QDataStream out(&request, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << kRequestMagic << files;
    socket.write(request);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    // The answer comes once the running window has taken the request.
    while (socket.bytesAvailable() < 1)
        if (!socket.waitForReadyRead(timeoutMs)) return false;
    char answer = 0;
    return socket.getChar(&answer) && answer == kAccepted;
}

bool TSingleInstance::Listen() {
    FError.clear();
    if (FName.isEmpty()) {
        FError = "no private folder for the instance socket";
        return false;
    }
    if (FServer.isListening() || FServer.listen(FName)) return true;
    if (FServer.serverError() == QAbstractSocket::AddressInUseError) {
        if (AnotherAnswers(1000)) return false;
        // Left behind by an instance that ended without closing it.
        QLocalServer::removeServer(FName);
        if (FServer.listen(FName)) return true;
    }
    FError = FServer.errorString();
    return false;
}

bool TSingleInstance::AnotherAnswers(int timeoutMs) const {
    QLocalSocket probe;
    probe.connectToServer(FName);
    const bool answered = probe.waitForConnected(timeoutMs);
    probe.abort();
    return answered;
}

void TSingleInstance::AcceptConnections() {
    while (QLocalSocket* socket = FServer.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadRequest(socket); });
        QTimer::singleShot(kRequestTimeoutMs, socket, [socket] { socket->abort(); });
        if (socket->bytesAvailable() > 0) ReadRequest(socket);
    }
}

void TSingleInstance::ReadRequest(QLocalSocket* socket) {
    if (socket->bytesAvailable() > kMaxRequestBytes) {
        socket->abort();
        return;
    }
    QDataStream in(socket);
    in.setVersion(QDataStream::Qt_6_0);
    in.startTransaction();
    quint32 magic = 0;
    QStringList files;
    in >> magic >> files;
    if (!in.commitTransaction()) return; // the rest is still on its way
    if (magic != kRequestMagic) {
        socket->abort();
        return;
    }
    socket->putChar(kAccepted);
    socket->flush();
    socket->disconnectFromServer();
    emit FilesReceived(files);
}
