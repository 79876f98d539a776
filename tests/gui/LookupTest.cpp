// Naming a disc online against a local server that plays the service.
#include <deque>

#include <QElapsedTimer>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

#include "PlayerFixture.h"
#include "lookup/Lookup.h"
#include "settings/PlayerSettings.h"
#include "support/DiscIdReference.h"

namespace {

// Answers requests in order from a queue, each after its delay, on the window's own thread: a
// client that blocked that thread would never hear an answer.
struct Service : QTcpServer {
  Service() {
    listen(QHostAddress::LocalHost);
    clock.start();
    connect(this, &QTcpServer::newConnection, [this] {
      QTcpSocket* s = nextPendingConnection();
      connect(s, &QTcpSocket::readyRead, s, [this, s, request = QByteArray()]() mutable {
        if (!(request += s->readAll()).contains("\r\n\r\n")) return;
        seen.emplace_back(clock.elapsed(), request);
        if (answers.empty()) answers.push_back({404, "{}", 0});
        const auto [status, body, delayMs] = answers.front();
        answers.pop_front();
        const QByteArray reply = "HTTP/1.1 " + QByteArray::number(status) +
                                 " Status\r\nContent-Type: application/json\r\nContent-Length: " +
                                 QByteArray::number(body.size()) + "\r\n\r\n" + body;
        QTimer::singleShot(delayMs, s, [s, reply] { s->write(reply), s->disconnectFromHost(); });
      });
    });
  }
  std::deque<std::tuple<int, QByteArray, int>> answers;  // status, body, delay in ms
  std::vector<std::pair<qint64, QByteArray>> seen;       // when, in ms, and the request's head
  QElapsedTimer clock;
};

struct LookupTest : PlayerFixture {
  LookupTest() : PlayerFixture({60, 60, 60}) {}
  // The disc again, once the window saw it leave; the lookup it brings is answered `delayMs` late.
  void Reinsert(int delayMs) {
    std::remove(Disc_Database_Path().c_str());
    service.answers.push_back({200, Found(id), delayMs});
    const DiscToc toc = *sim->disc();
    const size_t asked = service.seen.size() + 1;
    sim->openTray();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !main->Disc_Loaded(); }, 10000));
    sim->insertDisc(toc);
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.seen.size() == asked; }, 10000));
  }
  static QByteArray Found(const std::string& id) {
    return QByteArray::fromStdString(
        R"({"releases": [{"title": "Album", "artist-credit": [{"name": "Band"}],
      "media": [{"position": 1, "discs": [{"id": ")" +
        id + R"("}],
                 "tracks": [{"title": "One"}, {"title": "Two"}, {"title": "Three"}]}]}]})");
  }
  bool Named() const {
    return QTest::qWaitFor([&] { return ui->panelArtist->text() == "Band"; }, 15000);
  }

  Service service;
  // 60 s tracks from sector 0: offsets 150, 4650, 9150; lead-out 13650.
  const std::string id = Reference_Disc_Id(1, 3, {13650, 150, 4650, 9150});
};

}  // namespace

TEST_F(LookupTest, AsksOnlyWhenAllowedWaitsWithoutBlockingAndStoresOnlyWhatItFound) {
  windows = Create_Player_Windows(std::make_unique<SharedDriver>(sim), /*runClock=*/true);
  main = windows->Main.get();
  MainProbe& probe = ui.emplace(MainProbe{*main});
  main->show();
  const std::string server =
      "[Lookup]\r\nServer=http://127.0.0.1:" + std::to_string(service.serverPort());
  Put(Settings_File_Path(), server + "\r\nOnline=0\r\n");
  ASSERT_TRUE(QTest::qWaitFor([&] { return main->Disc_Loaded(); }, 10000));
  QTest::qWait(300);
  EXPECT_TRUE(service.seen.empty()) << "nothing is sent without the user's say";

  // Unknown by its identity, found by its table of contents.
  service.answers = {{404, R"({"error": "Not Found"})", 0}, {200, Found("ANOTHER"), 0}};
  probe.LookUpNames->trigger();
  ASSERT_TRUE(Named()) << service.seen.size() << " requests";
  EXPECT_EQ(probe.panelTitle->text(), "Album");
  EXPECT_EQ(Rows(), QStringList({"1 One", "2 Two", "3 Three"}));
  EXPECT_TRUE(QTest::qWaitFor([&] { return probe.PanelDisplay->text().contains("One"); }, 5000));
  EXPECT_NE(Bytes(Disc_Database_Path()).find("artist=Band"), std::string::npos);
  const auto& seen = service.seen;
  const QByteArray get = "GET /ws/2/discid/" + QByteArray::fromStdString(id);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(seen[0].second.startsWith(get + "?")) << seen[0].second.constData();
  EXPECT_TRUE(seen[1].second.startsWith(get + "?toc=1+3+13650+150+4650+9150&"));
  EXPECT_GE(seen[1].first - seen[0].first, 900) << "at most one request a second";
  EXPECT_TRUE(QRegularExpression(R"(\r\nuser-agent: zarncd/\S+ \(.+\)\r\n)",
                                 QRegularExpression::CaseInsensitiveOption)
                  .match(seen[0].second)
                  .hasMatch());

  // Over a stored entry: asked first; a refusal by the service stores nothing.
  QString asked;
  probe.DiscLookup->Confirm = [&](const QString& q) { return (asked = q), true; };
  const std::string stored = Bytes(Disc_Database_Path());
  service.answers.push_back({503, "{}", 0});
  probe.LookUpNames->trigger();
  EXPECT_EQ(asked, "Replace the names stored for this disc?");
  ASSERT_TRUE(QTest::qWaitFor([&] { return probe.DiscLookup->Message() != nullptr; }, 10000));
  EXPECT_TRUE(
      probe.DiscLookup->Message()->text().startsWith("MusicBrainz could not be reached: HTTP 503"));
  probe.DiscLookup->Message()->close();
  EXPECT_EQ(Bytes(Disc_Database_Path()), stored);

  // By itself, for a disc without an entry, with the answer 5 s late: the clock keeps ticking.
  Put(Settings_File_Path(), server + "\r\nOnline=1\r\n");
  qint64 longestGap = 0;
  QElapsedTimer sinceTick;
  sinceTick.start();
  QObject::connect(probe.Timer, &QTimer::timeout, main,
                   [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
  Reinsert(5000);
  sinceTick.restart();
  longestGap = 0;
  ASSERT_TRUE(Named());
  EXPECT_LT(longestGap, 1000) << "the display stopped while the lookup waited";

  // An answer that comes after the disc left the drive is dropped.
  Reinsert(2000);
  sim->openTray();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !probe.DiscLookup->Busy(); }, 10000));
  EXPECT_EQ(Bytes(Disc_Database_Path()), "");
}
