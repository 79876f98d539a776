// Naming a disc online against a local server that plays the service: the window goes on while
// it waits, failures store nothing, and found names reach the database and the window.
#include <algorithm>
#include <mutex>

#include <QElapsedTimer>
#include <QMessageBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include "PlayerFixture.h"
#include "lookup/Lookup.h"
#include "settings/PlayerSettings.h"
#include "support/DiscIdReference.h"

namespace {

// Answers requests in order from a list, each after its delay, on a thread of its own so that a
// client that blocked the window's thread would be seen blocking.
class Service {
 public:
  struct Answer {
    int status = 200;
    QByteArray body;
    int delayMs = 0;
  };
  struct Seen {
    QByteArray target, agent;
    qint64 atMs = 0;
  };

  Service() {
    thread_.start();
    server_.moveToThread(&thread_);
    QMetaObject::invokeMethod(
        &server_,
        [this] {
          server_.listen(QHostAddress::LocalHost);
          QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { Accept(); });
        },
        Qt::BlockingQueuedConnection);
    clock_.start();
  }
  ~Service() {
    QMetaObject::invokeMethod(
        &server_, [this] { server_.close(); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
  }
  QString Address() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort());
  }
  void Queue(std::vector<Answer> answers) {
    const std::lock_guard lock(mutex_);
    answers_.insert(answers_.end(), answers.begin(), answers.end());
  }
  std::vector<Seen> Requests() const {
    const std::lock_guard lock(mutex_);
    return seen_;
  }
  int Answered() const {
    const std::lock_guard lock(mutex_);
    return answered_;
  }

 private:
  void Accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
      QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
        QByteArray& request = pending_[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n")) return;
        Seen seen{request.split(' ').value(1), {}, clock_.elapsed()};
        for (const QByteArray& line : request.split('\n'))
          if (line.toLower().startsWith("user-agent:")) seen.agent = line.mid(11).trimmed();
        pending_.erase(socket);
        Answer answer{404, "{}", 0};
        {
          const std::lock_guard lock(mutex_);
          seen_.push_back(seen);
          if (!answers_.empty()) {
            answer = answers_.front();
            answers_.erase(answers_.begin());
          }
        }
        QTimer::singleShot(answer.delayMs, socket, [this, socket, answer] {
          socket->write("HTTP/1.1 " + QByteArray::number(answer.status) +
                        " Status\r\nContent-Type: application/json\r\nContent-Length: " +
                        QByteArray::number(answer.body.size()) + "\r\nConnection: close\r\n\r\n" +
                        answer.body);
          socket->disconnectFromHost();
          const std::lock_guard lock(mutex_);
          ++answered_;
        });
      });
      QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
  }

  QThread thread_;
  QTcpServer server_;
  QElapsedTimer clock_;
  std::map<QTcpSocket*, QByteArray> pending_;
  mutable std::mutex mutex_;
  std::vector<Answer> answers_;
  std::vector<Seen> seen_;
  int answered_ = 0;
};

// Polls with the event loop running until `done` holds or the deadline passes.
bool Until(const std::function<bool()>& done, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QTest::qWait(20);
  }
  return true;
}

class LookupTest : public PlayerFixture {
 protected:
  LookupTest() : PlayerFixture({60, 60, 60}) {}

  void Settings(bool online) {
    Put(Settings_File_Path(), "[Lookup]\r\nServer=" + service.Address().toStdString() +
                                  "\r\nOnline=" + (online ? "1" : "0") + "\r\n");
  }
  // The disc again, after the tray was open long enough for the window to see it.
  void Reinsert() {
    const DiscToc toc = *sim->disc();
    sim->openTray();
    ASSERT_TRUE(Until([&] { return !main->Disc_Loaded(); }, 10000));
    sim->insertDisc(toc);
  }
  QByteArray Found(const char* id) const {
    return QStringLiteral(R"({"releases": [{"title": "Album", "artist-credit": [{"name": "Band"}],
      "media": [{"position": 1, "discs": [{"id": "%1"}],
                 "tracks": [{"title": "One"}, {"title": "Two"}, {"title": "Three"}]}]}]})")
        .arg(id)
        .toUtf8();
  }

  Service service;
};

}  // namespace

TEST_F(LookupTest, AsksOnlyWhenAllowedWaitsWithoutBlockingAndStoresOnlyWhatItFound) {
  windows = Create_Player_Windows(std::make_unique<SharedDriver>(sim), /*runClock=*/true);
  main = windows->Main.get();
  MainProbe& probe = ui.emplace(MainProbe{*main});
  main->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(main));
  Settings(false);
  ASSERT_TRUE(Until([&] { return main->Disc_Loaded(); }, 10000));
  // 60 s tracks from sector 0: offsets 150, 4650, 9150; lead-out 13650.
  const std::string id = Reference_Disc_Id(1, 3, {13650, 150, 4650, 9150});
  const QByteArray path = "/ws/2/discid/" + QByteArray::fromStdString(id);
  QTest::qWait(300);
  EXPECT_TRUE(service.Requests().empty()) << "nothing is sent without the user's say";

  // On request: unknown by its identity, found by its table of contents.
  service.Queue({{404, R"({"error": "Not Found"})"}, {200, Found("ANOTHER")}});
  probe.LookUpNames->trigger();
  ASSERT_TRUE(Until([&] { return probe.panelArtist->text() == QStringLiteral("Band"); }, 10000))
      << probe.panelArtist->text().toStdString() << ", requests: " << service.Requests().size()
      << ", message: "
      << (probe.DiscLookup->Message() ? probe.DiscLookup->Message()->text().toStdString() : "");
  EXPECT_EQ(probe.panelTitle->text(), "Album");
  EXPECT_EQ(Rows(), QStringList({"1 One", "2 Two", "3 Three"}));
  ASSERT_TRUE(Until([&] { return probe.PanelDisplay->text().contains("One"); }, 5000));
  EXPECT_NE(Bytes(Disc_Database_Path()).find("artist=Band"), std::string::npos);
  std::vector<Service::Seen> seen = service.Requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(seen[0].target.startsWith(path + "?")) << seen[0].target.constData();
  EXPECT_TRUE(seen[1].target.startsWith(path + "?toc=1+3+13650+150+4650+9150&"))
      << seen[1].target.constData();
  EXPECT_GE(seen[1].atMs - seen[0].atMs, 900) << "at most one request a second";
  EXPECT_TRUE(seen[0].agent.startsWith("zarncd/") && seen[0].agent.contains("(") &&
              seen[0].agent.endsWith(")"))
      << seen[0].agent.constData();

  // On request over a stored entry: asked first; a refusal by the service stores nothing.
  QString asked;
  probe.DiscLookup->Confirm = [&](const QString& question) {
    asked = question;
    return true;
  };
  const std::string stored = Bytes(Disc_Database_Path());
  service.Queue({{503, "{}"}});
  probe.LookUpNames->trigger();
  EXPECT_EQ(asked, "Replace the names stored for this disc?");
  ASSERT_TRUE(Until([&] { return probe.DiscLookup->Message() != nullptr; }, 10000));
  EXPECT_TRUE(
      probe.DiscLookup->Message()->text().startsWith("MusicBrainz could not be reached: HTTP 503"))
      << probe.DiscLookup->Message()->text().toStdString();
  probe.DiscLookup->Message()->close();
  EXPECT_EQ(Bytes(Disc_Database_Path()), stored);

  // By itself, for a disc without an entry, with the answer 5 s late: the clock keeps ticking.
  std::remove(Disc_Database_Path().c_str());
  Settings(true);
  qint64 longestGap = 0;
  QElapsedTimer sinceTick;
  sinceTick.start();
  QObject::connect(probe.Timer, &QTimer::timeout, main,
                   [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
  service.Queue({{200, Found(id.c_str()), 5000}});
  Reinsert();
  ASSERT_TRUE(Until([&] { return service.Requests().size() == 4u; }, 10000));
  sinceTick.restart();
  longestGap = 0;
  ASSERT_TRUE(Until([&] { return probe.panelArtist->text() == QStringLiteral("Band"); }, 15000))
      << probe.panelArtist->text().toStdString();
  EXPECT_LT(longestGap, 1000) << "the display stopped while the lookup waited";
  std::printf("longest gap between display ticks while a lookup waited 5 s: %lld ms\n",
              static_cast<long long>(longestGap));
  std::fflush(stdout);

  // An answer that comes after the disc left the drive is dropped.
  std::remove(Disc_Database_Path().c_str());
  service.Queue({{200, Found(id.c_str()), 2000}});
  Reinsert();
  ASSERT_TRUE(Until([&] { return service.Requests().size() == 5u; }, 10000));
  sim->openTray();
  ASSERT_TRUE(Until([&] { return service.Answered() == 5; }, 10000));
  ASSERT_TRUE(Until([&] { return !probe.DiscLookup->Busy(); }, 5000));
  EXPECT_EQ(Bytes(Disc_Database_Path()), "");
}
