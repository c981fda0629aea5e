// The single-instance channel between real processes: instance_probe does
// what qvue's start does, on a socket path private to each test.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <memory>

#include "tests/TestSupport.h"
#include "window/Module_PreviousInstanceActivate.h"

namespace {

// What is at the channel's path, or on the display, before the first start;
// a silent owner accepts connections and never answers, so it is the first.
enum class Leftover { kNothing, kRegularFile, kDeadSocket, kDecoyWindow, kSilentOwner };

// A bound Unix socket; listening, it accepts into its backlog but never reads.
// Closed without listening, it leaves the file a crashed server would leave.
int BindSocket(const QString& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path - 1);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

class Probe {
 public:
  explicit Probe(const QString& socket_path, const QStringList& arguments = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QVUE_INSTANCE_SOCKET", socket_path);
    // Qt wants a private runtime folder; the test's own keeps it quiet.
    if (!environment.contains("XDG_RUNTIME_DIR")) environment.insert("XDG_RUNTIME_DIR", QFileInfo(socket_path).path());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(INSTANCE_PROBE, arguments);
  }
  ~Probe() { process_.kill(), process_.waitForFinished(5000); }  // nothing when it has ended

  // The next line the probe prints, without its newline; empty on timeout.
  QByteArray Line(int timeout_ms = 10000) {
    QDeadlineTimer deadline(timeout_ms);
    while (!process_.canReadLine() && process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {}
    return process_.readLine().trimmed();
  }
  // The exit code once it ended, -1 when it did not end in time or crashed.
  int Exit(int timeout_ms = 10000) {
    if (!process_.waitForFinished(timeout_ms) || process_.exitStatus() != QProcess::NormalExit) return -1;
    return process_.exitCode();
  }
  bool Running() const { return process_.state() == QProcess::Running; }
  QByteArray Rest() { return process_.readAllStandardOutput(); }

 private:
  QProcess process_;
};

}  // namespace

Q_DECLARE_METATYPE(Leftover)

class InstanceTest : public QObject {
  Q_OBJECT

 private slots:
  // The channel's path from QVUE_INSTANCE_SOCKET, else XDG_RUNTIME_DIR, else
  // a name per user in the shared /tmp.
  void socketPathFollowsTheEnvironment() {
    for (auto [override, runtime, expected] :
         {std::tuple<const char*, const char*, QString>{"/x/chan", "/run/user/7", "/x/chan"},
          {nullptr, "/run/user/7", "/run/user/7/qvue-instance"},
          {nullptr, nullptr, QString("/tmp/qvue-instance-%1").arg(::getuid())}}) {
      test_support::ScopedEnv socket("QVUE_INSTANCE_SOCKET", override), runtime_dir("XDG_RUNTIME_DIR", runtime);
      QCOMPARE(InstanceSocketPath(), expected);
    }
  }

  void laterStartRaisesTheFirst_data() {
    QTest::addColumn<Leftover>("leftover");
    QTest::newRow("nothing at the path") << Leftover::kNothing;
    QTest::newRow("regular file at the path") << Leftover::kRegularFile;
    QTest::newRow("socket left by a crash") << Leftover::kDeadSocket;
    QTest::newRow("other window titled Qvuemon") << Leftover::kDecoyWindow;
    QTest::newRow("silent owner of the channel") << Leftover::kSilentOwner;
  }
  void laterStartRaisesTheFirst() {
    QFETCH(Leftover, leftover);
    QTemporaryDir dir;
    const QString path = dir.filePath("chan");
    std::unique_ptr<Probe> decoy, first;
    int fd = -1;
    if (leftover == Leftover::kRegularFile) {
      QVERIFY(QFile(path).open(QIODevice::WriteOnly));
    } else if (leftover == Leftover::kDeadSocket || leftover == Leftover::kSilentOwner) {
      fd = BindSocket(path);
      QVERIFY(fd >= 0);
      if (leftover == Leftover::kSilentOwner) QVERIFY(::listen(fd, 4) == 0); else ::close(fd);
    } else if (leftover == Leftover::kDecoyWindow) {
      decoy = std::make_unique<Probe>(path, QStringList{"--decoy"});
      QCOMPARE(decoy->Line(), QByteArray("decoy"));
    }
    if (leftover != Leftover::kSilentOwner) {
      first = std::make_unique<Probe>(path);
      QCOMPARE(first->Line(), QByteArray("first"));
    }

    QElapsedTimer clock;
    clock.start();
    Probe second(path);
    QCOMPARE(second.Line(), QByteArray("second"));
    const qint64 elapsed = clock.elapsed();
    if (leftover == Leftover::kSilentOwner) ::close(fd);
    QCOMPARE(second.Exit(), 0);
    QVERIFY2(elapsed < 5000, qPrintable(QString("the second start took %1 ms").arg(elapsed)));

    if (first) {
      QCOMPARE(first->Line(), QByteArray("activated"));
      QCOMPARE(first->Exit(), 0);
      QVERIFY2(!QFile::exists(path), "the channel outlived its qvue");
    }
    if (decoy) {
      QVERIFY(decoy->Running());
      QCOMPARE(decoy->Rest(), QByteArray());
    }
  }
};

QTEST_MAIN(InstanceTest)
#include "InstanceTest.moc"
