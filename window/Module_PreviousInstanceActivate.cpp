#include "window/Module_PreviousInstanceActivate.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QtGlobal>

namespace {

// A running qvue answers at once; this only bounds a hung or foreign peer.
constexpr int kConnectTimeoutMs = 500;
constexpr int kReplyTimeoutMs = 500;
// A client that connects and says nothing is dropped after this.
constexpr int kRequestTimeoutMs = 2000;

constexpr char kRequest[] = "raise\n";
constexpr char kReply[] = "raised\n";

struct Channel {
  QPointer<QLocalServer> server;
  QPointer<QWidget> form;
  std::function<void()> on_activated;
  QPointer<QLocalServer> serving;  // the server whose connections are handled
};

Channel& TheChannel() {
  static Channel channel;
  return channel;
}

// A file at the path that belongs to someone else may be a trap set in a
// shared /tmp: we neither talk to it nor replace it.
bool OwnedByAnotherUser(const QString& path) {
  struct stat info;
  return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && info.st_uid != ::getuid();
}

enum class Peer { kNone, kRunning, kForeign };

// Connects to the channel; with a request, sends it and waits briefly for the
// running qvue to confirm.
Peer ContactRunningInstance(const QString& path, bool send_request) {
  if (OwnedByAnotherUser(path)) return Peer::kForeign;
  QLocalSocket socket;
  socket.connectToServer(path);
  if (!socket.waitForConnected(kConnectTimeoutMs)) return Peer::kNone;
  if (send_request) {
    socket.write(kRequest);
    QDeadlineTimer deadline(kReplyTimeoutMs);
    while (!socket.canReadLine() && !deadline.hasExpired() && socket.state() == QLocalSocket::ConnectedState) {
      socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    }
    // Even without the confirmation the peer holds the channel, so this
    // start ends: two viewers would act on the same folders.
  }
  socket.disconnectFromServer();
  return Peer::kRunning;
}

// Listens on the channel once nobody answered on it. Whatever a crashed qvue
// left at the path goes first: not every Qt replaces an existing file there.
void ClaimChannel(const QString& path) {
  Channel& channel = TheChannel();
  if (channel.server || QCoreApplication::instance() == nullptr) return;
  auto* server = new QLocalServer(QCoreApplication::instance());
  server->setSocketOptions(QLocalServer::UserAccessOption);
  QLocalServer::removeServer(path);
  if (!server->listen(path)) {
    qWarning("qvue: cannot listen on %s (%s); later starts will open another window",
             qPrintable(path), qPrintable(server->errorString()));
    delete server;
    return;
  }
  channel.server = server;
}

void RaiseForm() {
  Channel& channel = TheChannel();
  if (QWidget* form = channel.form) {
    if (form->isMinimized()) form->setWindowState((form->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    form->show();
    form->raise();
    form->activateWindow();
  }
  if (channel.on_activated) channel.on_activated();
}

void ServeRequest(QLocalSocket* client) {
  if (!client->canReadLine()) {
    if (client->bytesAvailable() > 64) client->abort();
    return;
  }
  const bool is_request = client->readLine() == kRequest;
  if (is_request) {
    client->write(kReply);
    client->flush();
  }
  client->disconnectFromServer();
  if (is_request) RaiseForm();
}

void AcceptPending() {
  QLocalServer* server = TheChannel().server;
  if (server == nullptr) return;
  while (QLocalSocket* client = server->nextPendingConnection()) {
    QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    QObject::connect(client, &QLocalSocket::readyRead, client, [client] { ServeRequest(client); });
    QTimer::singleShot(kRequestTimeoutMs, client, [client] { client->abort(); });
    ServeRequest(client);
  }
}

}  // namespace

QString InstanceSocketPath() {
  QString path = qEnvironmentVariable("QVUE_INSTANCE_SOCKET");
  if (!path.isEmpty()) return path;
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty()) return runtime + QStringLiteral("/qvue-instance");
  return QStringLiteral("/tmp/qvue-instance-%1").arg(::getuid());
}

bool ActivatePreviousInstance() {
  const QString path = InstanceSocketPath();
  switch (ContactRunningInstance(path, true)) {
    case Peer::kRunning:
      return true;
    case Peer::kNone:
      ClaimChannel(path);
      return false;
    case Peer::kForeign:
      qWarning("qvue: %s belongs to another user; running without the single-instance channel", qPrintable(path));
      return false;
  }
  return false;
}

void ListenForLaterInstances(QWidget* form, std::function<void()> on_activated) {
  Channel& channel = TheChannel();
  channel.form = form;
  channel.on_activated = std::move(on_activated);
  if (!channel.server) {
    const QString path = InstanceSocketPath();
    if (ContactRunningInstance(path, false) != Peer::kNone) return;
    ClaimChannel(path);
    if (!channel.server) return;
  }
  if (channel.serving == channel.server) return;
  channel.serving = channel.server;
  QObject::connect(channel.server, &QLocalServer::newConnection, channel.server, &AcceptPending);
  // Starts that came while the window was being built wait in the queue.
  QTimer::singleShot(0, channel.server, &AcceptPending);
}
