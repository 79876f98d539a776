// The CD information editor, opened from the Edit button on a simulated three-track disc.
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <filesystem>

#include "PlayerFixture.h"
#include "disc/Cp932.h"
#include "disc/Profile.h"
#include "disc/Uinfo.h"

namespace {

std::string Database() {
  QFile f(QString::fromStdString(Disc_Database_Path()));
  return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

class EditorTest : public PlayerFixture {
 protected:
  EditorTest() : PlayerFixture({200, 200, 200}) {}
  void SetUp() override { Open_Player(false); }
  void Open_Player(bool failIdentity, bool identify = true) {
    sim->failIdentity(failIdentity);
    Build(false);
    if (identify) Refresh();
    info = windows->CDInfo.get();
  }
  // Opens the editor as the user does; `user` acts inside it and closes it.
  void Edit(std::function<void()> user) {
    Answer(info, std::move(user));
    main->spdEdit->click();
  }
  void Pick(int track) {
    QListWidget* list = info->listTracks;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(track - 1)).center());
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
  std::string Section() const { return Disc_ID_From_Identity(sim->disc()->IdentityText()); }
  const CD_Object& Disc() const { return *Main_Unit_State().Current_CD_Object; }

  TfrmCDInfo* info = nullptr;
};

TEST_F(EditorTest, FieldsTabOrderAndFontAreThoseOfTheNames) {
  std::vector<QWidget*> chain;
  QWidget* w = info->edArtist;
  for (int i = 0; i < 100 && chain.size() < 7; ++i, w = w->nextInFocusChain())
    if (w->window() == info && (w->focusPolicy() & Qt::TabFocus)) chain.push_back(w);
  EXPECT_EQ(chain,
            std::vector<QWidget*>({info->edArtist, info->edTitle, info->listTracks, info->edTrack,
                                   info->btnModify, info->btnCancel, info->btnOk}));
  // Half-width katakana must show; the captions must end before the fields begin.
  EXPECT_TRUE(QFontMetrics(info->listTracks->font()).inFontUcs4(U'ｱ'));
  EXPECT_LE(info->Label1->geometry().right(), info->edArtist->x());
  QRect centred;
  Edit([&] {
    centred = info->frameGeometry();
    info->reject();
  });
  EXPECT_EQ(centred.center(), info->screen()->geometry().center());
}

TEST_F(EditorTest, OkIsEnabledOnlyByAChangedName) {
  const struct {
    const char* what;
    std::function<void()> act;
    bool ok;
  } cases[] = {
      {"nothing", [] {}, false},
      {"Modify without typing",
       [&] {
         Pick(1);
         info->btnModify->click();
       },
       false},
      {"Modify with a typed title",
       [&] {
         Pick(3);
         Type(info->edTrack, "x", true);
       },
       true},
      {"artist typed back as it was",
       [&] {
         QTest::keyClicks(info->edArtist, "x");
         QTest::keyClick(info->edArtist, Qt::Key_Backspace);
       },
       true},
      {"title", [&] { QTest::keyClicks(info->edTitle, "x"); }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    bool shown = true, after = false;
    Edit([&] {
      // The dialog is reused: each opening starts with OK off and no track selected.
      shown = info->btnOk->isEnabled() || !info->listTracks->selectedItems().isEmpty();
      c.act();
      after = info->btnOk->isEnabled();
      info->reject();
    });
    EXPECT_FALSE(shown);
    EXPECT_EQ(after, c.ok);
  }
}

TEST_F(EditorTest, EveryWayOutButOkStoresTheEntryAsItWas) {
  const auto defaults = std::string("[") + Section() +
                        "]\r\nEntryType=1\r\nartist=" + cd_defaults::kArtist +
                        "\r\ntitle=" + cd_defaults::kTitle +
                        "\r\nnumtracks=3\r\n0=\xC4\xD7\xAF\xB8"
                        "1\r\n1=\xC4\xD7\xAF\xB8"
                        "2\r\n"
                        "2=\xC4\xD7\xAF\xB8"
                        "3\r\norder= 0 1 2\r\nnumplay=3\r\n";
  const std::function<void()> ways[] = {[&] { info->btnCancel->click(); },
                                        [&] { QTest::keyClick(info->edTitle, Qt::Key_Escape); },
                                        [&] { info->close(); }};
  for (const auto& leave : ways) {
    Edit([&] {
      Type(info->edArtist, "Typed", true);  // Enter presses Modify, never OK
      EXPECT_TRUE(info->isVisible());
      leave();
    });
    EXPECT_EQ(Database(), defaults);
    EXPECT_EQ(Disc().Artist, cd_defaults::kArtist);
    EXPECT_EQ(main->panelArtist->text(), "新しいｱｰﾁｽﾄ");
  }
}

TEST_F(EditorTest, ModifyAppliesTitlesAndOkKeepsWhatTheUserLeftAlone) {
  // Four stored titles for three tracks; names with bytes that are not code page 932 text.
  QFile f(QString::fromStdString(Disc_Database_Path()));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(("[" + Section() +
           "]\r\nartist=A\x81\x20"
           "B\r\nnumtracks=4\r\n1=Old\xFF\r\n")
              .c_str());
  f.close();
  Open_Player(false);
  Edit([&] {
    Pick(4);
    Type(info->edTrack, "  lead", true);  // the last track wraps to the first
    EXPECT_EQ(info->listTracks->currentRow(), 0);
    Type(info->edTrack, "a b  c", true);
    EXPECT_EQ(info->edTrack->selectedText(), "Old\uFFFD");
    QTest::keyClick(info->edTrack, Qt::Key_Return);  // unchanged, bytes and all
    Type(info->edTrack, "", true);
    Type(info->edTrack, "lost without Modify");
    QTest::keyClicks(info->edTitle, "!");
    info->btnOk->click();
  });
  Refresh();
  EXPECT_EQ(Disc().Track_Titles, std::vector<std::string>({"a b  c", "Old\xFF", "", "  lead"}));
  EXPECT_EQ(Disc().Artist,
            "A\x81\x20"
            "B");
  EXPECT_EQ(Rows(), QStringList({"1 a b  c", "2 Old\uFFFD", "3 ", "4   lead"}));
  EXPECT_EQ(main->panelTitle->text(), "新しいﾀｲﾄﾙ!");
  EXPECT_EQ(main->windowTitle(), "Stopped A\uFFFD B  新しいﾀｲﾄﾙ!  ");
  const std::string db = Database();
  EXPECT_NE(db.find("\r\nartist=A\x81\x20"
                    "B\r\n"),
            std::string::npos);
  for (const char* line : {"\r\n1=Old\xFF\r\n", "\r\n2=\r\n", "\r\n3=  lead\r\n"})
    EXPECT_NE(db.find(line), std::string::npos) << line;
  EXPECT_EQ(Stored(Section(), "2"), "");
}

TEST_F(EditorTest, NameThatCodePage932CannotHoldIsRefusedAndTheDialogStaysOpen) {
  const struct {
    QLineEdit* field;
    QString typed, named;
  } cases[] = {{info->edArtist, "Smile 😀", "artist"},
               {info->edTitle, "한국어", "title"},
               {info->edTrack, "Beyoncé", "title of track 2"}};
  for (const auto& c : cases) {
    QString message, left;
    Edit([&] {
      if (c.field == info->edTrack) Pick(2);
      c.field->selectAll();
      c.field->insert(c.typed);  // pasted
      info->btnModify->click();
      Answer(info->msgRefused, [&] {
        message = info->msgRefused->text();
        info->msgRefused->accept();
      });
      info->btnOk->click();
      left = c.field->text();
      info->reject();
    });
    EXPECT_TRUE(message.contains("The " + c.named + " ")) << message.toStdString();
    EXPECT_EQ(left, c.typed);
    EXPECT_EQ(Database().find('?'), std::string::npos);
  }
}

TEST_F(EditorTest, EditsStayWithTheDiscThatWasEditedWhenTheDiscChanges) {
  const std::string edited = Section();
  Edit([&] {
    Type(info->edArtist, "Edited");
    sim->openTray();
    Refresh();
    sim->insertDisc(SimulatedDriver::MakeDisc({100, 100, 100, 100, 100}));
    Refresh();
    info->btnOk->click();
  });
  EXPECT_EQ(Stored(edited, "artist"), "Edited");
  EXPECT_EQ(Stored(edited, "numtracks"), "3");
  EXPECT_EQ(Stored(Section(), "artist"), "(none)");
  EXPECT_EQ(main->panelArtist->text(), "新しいｱｰﾁｽﾄ");
  EXPECT_EQ(Rows().size(), 5);
}

TEST_F(EditorTest, DiscWithoutAnIdentityStoresNothingAndOkSaysSo) {
  for (bool failed : {false, true}) {
    SCOPED_TRACE(failed ? "identity failed" : "no disc identified yet");
    Open_Player(failed, failed);
    for (bool ok : {false, true}) {
      Edit([&] {
        QTest::keyClicks(info->edArtist, "Named");
        ok ? info->btnOk->click() : info->reject();
      });
      EXPECT_EQ(Database(), "");
      ASSERT_EQ(reports.size(), ok ? 1u : 0u);
    }
    EXPECT_EQ(reports[0].text, "names of a disc without an identity cannot be stored.");
    EXPECT_EQ(Disc().Artist, (failed ? cd_defaults::kArtist : "") + std::string("Named"));
    reports.clear();
  }
}

TEST_F(EditorTest, FailedStoreIsReportedAndKeepsTheNamesWithoutARefresh) {
  for (bool fails : {false, true}) {
    if (fails) {
      std::filesystem::remove(Disc_Database_Path());
      std::filesystem::create_directory(Disc_Database_Path());
    }
    Refresh();
    Edit([&] {
      Type(info->edArtist, fails ? "Kept" : "Stored");
      info->btnOk->click();
    });
    EXPECT_EQ(main->panelArtist->text(), fails ? "Kept" : "Stored");
    EXPECT_EQ(Main_Unit_State().Refresh_Pending, !fails);
    EXPECT_EQ(Main_Unit_State().Tick_Count, fails ? 0 : 1);
    ASSERT_EQ(reports.size(), fails ? 1u : 0u);
  }
  EXPECT_EQ(reports[0].text, QString::fromStdString(Disc_Database_Path()) + " に書き込めません.");
  EXPECT_EQ(reports[0].icon, QMessageBox::Critical);
  reports.clear();
  std::filesystem::remove(Disc_Database_Path());
}

}  // namespace
