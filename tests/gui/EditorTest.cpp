// The CD information editor, opened from the Edit button on a simulated three-track disc.
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>

#include "PlayerFixture.h"
#include "disc/Uinfo.h"
#include "profile/ProfileFile.h"

struct CDInfoProbe {
  TfrmCDInfo& w;
  QLineEdit *edArtist = w.edArtist, *edTitle = w.edTitle, *edTrack = w.edTrack;
  QListWidget* listTracks = w.listTracks;
  QPushButton *btnOk = w.btnOk, *btnCancel = w.btnCancel;
  QMessageBox* msgRefused = w.msgRefused;
};

namespace {

struct EditorTest : PlayerFixture {
  EditorTest() : PlayerFixture({200, 200, 200}) {}
  void SetUp() override { Open_Player(); }
  void Open_Player(bool identify = true) {
    Build(false);
    if (identify) Refresh();
    info = windows->CDInfo.get();
    ed.emplace(CDInfoProbe{*info});
  }
  void Edit(std::function<void()> user) {
    Answer(info, std::move(user));
    ui->spdEdit->click();
  }
  void Type(QLineEdit* field, const QString& text, bool enter = false) {
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, text);
    if (enter) QTest::keyClick(field, Qt::Key_Return);
  }
  std::string Stored(const std::string& section, const char* key) const {
    return ProfileFile(Disc_Database_Path()).Profile_Read_String(section, key, "(none)");
  }
  QList<QListWidgetItem*> Chosen() const { return ed->listTracks->selectedItems(); }

  TfrmCDInfo* info = nullptr;
  std::optional<CDInfoProbe> ed;
};

// The dialog is reused: each opening starts with no row chosen and OK off; Enter presses Modify.
TEST_F(EditorTest, EachOpeningStartsAfreshAndEveryWayOutButOkStoresTheEntryAsItWas) {
  EXPECT_TRUE(QFontMetrics(ed->listTracks->font()).inFontUcs4(U'ｱ'));  // half-width katakana
  const std::tuple<QLineEdit*, bool, bool, std::function<void()>> cases[] = {
      {nullptr, false, false, [&] { info->close(); }},
      {ed->edArtist, true, true, [&] { ed->btnCancel->click(); }},
      {ed->edTitle, false, true, [&] { QTest::keyClick(ed->edTitle, Qt::Key_Escape); }}};
  for (const auto& [field, typedBack, ok, leave] : cases) {
    bool shown = true, after = false;
    Edit([&] {
      shown = ed->btnOk->isEnabled() || !ed->listTracks->selectedItems().isEmpty();
      if (field) QTest::keyClicks(field, "x");
      if (typedBack) QTest::keyClick(field, Qt::Key_Backspace);
      after = ed->btnOk->isEnabled();
      Type(ed->edArtist, "Typed", true);
      EXPECT_TRUE(info->isVisible());
      leave();
    });
    EXPECT_FALSE(shown);
    EXPECT_EQ(after, ok);
    EXPECT_EQ(Stored(Section(), "artist"), cd_defaults::kArtist);
    EXPECT_EQ(ui->panelArtist->text(), "新しいｱｰﾁｽﾄ");
  }
}

TEST_F(EditorTest, ModifyAppliesTitlesAndOkKeepsWhatTheUserLeftAlone) {
  // Four titles for three tracks; bytes that are not code page 932 text go back as they were.
  Write_Entry("artist=A\x81 B\r\nnumtracks=4\r\n1=Old\xFF\r\n");
  Open_Player();
  Edit([&] {
    ASSERT_TRUE(QTest::qWaitForWindowActive(info));
    ASSERT_EQ(QApplication::focusWidget(), ed->edArtist);
    QTest::keyClick(ed->edArtist, Qt::Key_Tab);
    EXPECT_EQ(ed->edTitle->selectedText(), "新しいﾀｲﾄﾙ");
    ClickRow(2, ed->listTracks);
    QTest::keyClick(ed->listTracks, Qt::Key_Return);
    EXPECT_FALSE(ed->btnOk->isEnabled());
    Type(ed->edTitle, "Best");
    Type(ed->edTrack, "", true);
    Type(ed->edTrack, "  lead", true);  // the last track wraps to the first
    EXPECT_EQ(ed->edTrack->selectedText(), "ﾄﾗｯｸ1");
    Type(ed->edTrack, "a b  c", true);
    Type(ed->edTrack, "lost without Modify");
    ed->btnOk->click();
  });
  Refresh();
  EXPECT_EQ(ui->State.Current_CD_Object->Track_Titles,
            std::vector<std::string>({"a b  c", "Old\xFF", "", "  lead"}));
  EXPECT_EQ(Rows(), QStringList({"1 a b  c", "2 Old\uFFFD", "3 ", "4   lead"}));
  EXPECT_EQ(main->windowTitle(), "Stopped A\uFFFD B  Best  ");
  const std::string db = Bytes(Disc_Database_Path());
  for (const char* line : {"\r\nartist=A\x81 B\r\n", "\r\ntitle=Best\r\n", "\r\n1=Old\xFF\r\n",
                           "\r\n2=\r\n", "\r\n3=  lead\r\n"})
    EXPECT_NE(db.find(line), std::string::npos) << line;
}

// A pasted name keeps its first line without NULs, cut to the 1023 bytes the database gives back
// whole, and still counts as the user's change; what CP932 cannot hold is refused on OK.
TEST_F(EditorTest, NamesHoldOneLineOfWhatCodePage932AndTheDatabaseKeep) {
  std::string kanji;
  for (int i = 0; i < 511; ++i) kanji += "\x8A\xBF";  // 漢 in code page 932
  // The field, the text pasted, how the refusal begins (empty where OK stores), what is stored.
  std::vector<std::tuple<QLineEdit*, QString, QString, std::string>> cases = {
      {ed->edArtist, "Smile 😀", "The artist ", ""},
      {ed->edTitle, "한국어", "The title ", ""},
      {ed->edTrack, "Beyoncé", "The title of track 2 ", ""},
      {ed->edTitle, QString(512, u'漢'), "The title is too long", ""},
      {ed->edTitle, QString(511, u'漢'), "", kanji}};
  for (QLineEdit* f : {ed->edArtist, ed->edTitle, ed->edTrack})
    cases.insert(cases.end(), {{f, QString(32767, u'x'), "", std::string(1023, 'x')},
                               {f, QString("Fi") + QChar(0) + "rst\nsecond\r\n", "", "First"},
                               {f, QString("Fi") + QChar(0) + "rst\r\nsecond", "", "First"}});
  for (const auto& [field, typed, refused, stored] : cases) {
    const char* key = field == ed->edArtist ? "artist" : field == ed->edTitle ? "title" : "1";
    QString refusal;
    bool open = false;
    Edit([&] {
      ClickRow(2, ed->listTracks);
      field->selectAll();
      QGuiApplication::clipboard()->setText(typed);
      QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
      QTest::keyClick(field, Qt::Key_Return);
      QTimer::singleShot(0, ed->msgRefused, [&] {
        if (!ed->msgRefused->isVisible()) return;
        refusal = ed->msgRefused->text();
        ed->msgRefused->accept();
      });
      ed->btnOk->click();
      open = info->isVisible();
      if (open) info->reject();
    });
    SCOPED_TRACE(typed.left(20).toStdString());
    EXPECT_EQ(open, !refused.isEmpty());
    EXPECT_EQ(refusal.left(refused.size()), refused);
    EXPECT_EQ(stored.empty() ? "" : Stored(Section(), key), stored);
  }
  EXPECT_EQ(ui->panelArtist->text(), "First");
  EXPECT_TRUE(reports.empty());
}

TEST_F(EditorTest, OnlyAPlainLeftClickOrAMovementKeyChoosesTheTrackThatModifyWrites) {
  Edit([&] {
    QListWidget* list = ed->listTracks;
    ASSERT_TRUE(QTest::qWaitForWindowActive(info));
    list->setFocus(Qt::TabFocusReason);
    // Up and Home land on the row the caret is on, with none chosen yet.
    const std::pair<Qt::Key, int> keys[] = {{Qt::Key_Up, 1},       {Qt::Key_Down, 2},
                                            {Qt::Key_End, 3},      {Qt::Key_Home, 1},
                                            {Qt::Key_PageDown, 3}, {Qt::Key_PageUp, 1}};
    for (const auto& [key, row] : keys) {
      QTest::keyClick(list, key);
      EXPECT_EQ(Chosen(), QList({list->item(row - 1)})) << key;
      EXPECT_EQ(ed->edTrack->text(), "ﾄﾗｯｸ" + QString::number(row));
    }
    // Any other click leaving the row chosen keeps Modify writing where the title came from.
    const QPoint below(RowAt(3, list).x(), list->viewport()->height() - 2);
    const struct {
      Qt::MouseButton button;
      Qt::KeyboardModifiers modifiers;
      QPoint at;
    } clicks[] = {{Qt::RightButton, {}, RowAt(3, list)},
                  {Qt::MiddleButton, {}, RowAt(3, list)},
                  {Qt::LeftButton, Qt::ControlModifier, RowAt(1, list)},
                  {Qt::LeftButton, Qt::ShiftModifier, RowAt(3, list)},
                  {Qt::LeftButton, {}, below}};
    for (const auto& c : clicks) {
      QTest::mouseClick(list->viewport(), c.button, c.modifiers, c.at);
      EXPECT_EQ(Chosen(), QList({list->item(0)})) << c.button << " " << c.at.y();
    }
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(Chosen(), QList({list->item(1)}));
    EXPECT_EQ(list->item(0)->text(), "1 ﾄﾗｯｸ1");
    EXPECT_EQ(list->item(2)->text(), "3 ﾄﾗｯｸ3");
    info->reject();
  });
}

TEST_F(EditorTest, EditsStayWithTheDiscThatWasEditedWhenTheDiscChanges) {
  const std::string edited = Section();
  Edit([&] {
    Type(ed->edArtist, "Edited");
    sim->openTray(), Refresh();
    sim->insertDisc(SimulatedDriver::MakeDisc({100, 100, 100, 100, 100})), Refresh();
    ed->btnOk->click();
  });
  EXPECT_EQ(Stored(edited, "artist"), "Edited");
  EXPECT_EQ(Stored(edited, "numtracks"), "3");
  EXPECT_EQ(Stored(Section(), "artist"), "(none)");
  EXPECT_EQ(ui->panelArtist->text(), "新しいｱｰﾁｽﾄ");
  EXPECT_EQ(Rows().size(), 5);
}

// A failed store keeps the names; Cancel on a disc without an identity has nothing to report.
TEST_F(EditorTest, FailedStoresAreReportedAndKeepTheNames) {
  const std::string db = Disc_Database_Path();
  const QString noIdentity = "names of a disc without an identity cannot be stored.";
  const QString unwritable = QString::fromStdString(db) + " に書き込めません.";
  const std::tuple<bool, bool, bool, QString> cases[] = {
      {true, false, false, ""},
      {false, false, false, noIdentity},
      {true, true, false, noIdentity},
      {true, false, true, unwritable + "|" + unwritable}};
  for (const auto& [identify, fails, blocked, said] : cases) {
    SCOPED_TRACE(said.toStdString());
    std::filesystem::remove(db);
    if (blocked) std::filesystem::create_directory(db);
    sim->failIdentity(fails);
    Open_Player(identify);
    Edit([&] { Type(ed->edArtist, "Named"), info->reject(); });
    const int ticks = ui->State.Tick_Count;
    Edit([&] { Type(ed->edArtist, "Named"), ed->btnOk->click(); });
    EXPECT_EQ(ui->State.Current_CD_Object->Artist, "Named");
    EXPECT_EQ(ui->panelArtist->text(), identify ? "Named" : "");
    EXPECT_EQ(!blocked && Bytes(db).find("Named") != std::string::npos, said.isEmpty());
    EXPECT_EQ(ui->State.Refresh_Pending, !blocked);
    EXPECT_EQ(ui->State.Tick_Count, ticks + !blocked);
    QStringList texts;
    for (const Report& r : reports) texts << r.text;
    EXPECT_EQ(texts.join('|'), said);
    reports.clear();
  }
  std::filesystem::remove(db);
}

}  // namespace
