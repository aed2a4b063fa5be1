// The about box, the visual style and the menu's about item.

#include "AboutBox.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>

#include "CarbonStyle.h"
#include "Commons.h"
#include "Form1.h"
#include "GuiTestSupport.h"

namespace {

class TUrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> Urls;
 public slots:
  void Open(const QUrl& url) { Urls << url; }
};

class AboutBoxTest : public ::testing::Test {
 protected:
  void SetUp() override { EnsureApplication(); }
  void TearDown() override { QLocale::setDefault(QLocale::c()); }
};

TEST_F(AboutBoxTest, ShowsVersionSystemAndMemory) {
  TAboutBox box;
  EXPECT_EQ(box.windowTitle(), QStringLiteral("About"));
  EXPECT_EQ(box.size(), QSize(456, 296));
  const QStringList memo = box.memoCopyright->toPlainText().split(QLatin1Char('\n'));
  ASSERT_EQ(memo.size(), 2);
  EXPECT_EQ(memo[0].toStdString(), "Test VIVAR517 - Versione " + GetVersionStr(""));
  EXPECT_TRUE(memo[1].startsWith(QStringLiteral("Copyright")));
  EXPECT_TRUE(box.memoCopyright->isReadOnly());
  EXPECT_EQ(box.lblOS->text().toStdString(), GetOSString());
  EXPECT_EQ(box.lblAvailableMemory->text(), QStringLiteral("Windows Available Memory"));
  EXPECT_EQ(box.PhysMem->text().toStdString(), FormatMemoryKB(TotalPhysicalMemory(), ","));
  EXPECT_TRUE(box.PhysMem->text().endsWith(QStringLiteral(" KB")));
  EXPECT_EQ(box.lblSendEmail->toolTip(), QStringLiteral("Invia una email al supporto tecnico"));
  EXPECT_TRUE(box.OKButton->isDefault());
  EXPECT_FALSE(box.Image2->pixmap().isNull()) << "the picture is in the resources";
}

TEST_F(AboutBoxTest, MemoryFigureFollowsTheLocaleGrouping) {
  QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
  TAboutBox box;
  EXPECT_EQ(box.PhysMem->text().toStdString(), FormatMemoryKB(TotalPhysicalMemory(), "."));
}

TEST_F(AboutBoxTest, MailLinkOpensAMailtoAddress) {
  TUrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &catcher, "Open");
  TAboutBox box;
  box.lblSendEmailClick();
  QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
  ASSERT_EQ(catcher.Urls.size(), 1);
  EXPECT_EQ(catcher.Urls[0].toString(),
            QStringLiteral("mailto:") + QString::fromLatin1(SUPPORT_EMAIL));
}

TEST_F(AboutBoxTest, AboutItemOpensAModalBoxThatOkCloses) {
  TScratchFolder folder;
  folder.Write(QStringLiteral("map.cfg"), {QStringLiteral("a|i|b")});
  TRecordingMessageBoxes boxes;
  TForm1 form(boxes);
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<TAboutBox*>(QApplication::activeModalWidget());
    seen = box != nullptr;
    if (box != nullptr)
      box->OKButton->click();
    else if (QWidget* other = QApplication::activeModalWidget())
      other->close();
  });
  form.About1->trigger();
  EXPECT_TRUE(seen);
  EXPECT_TRUE(boxes.Messages.empty());
}

TEST(VisualStyle, CarbonComesFromTheResourcesAndUnknownStylesAreRefused) {
  EnsureApplication();
  auto* app = qobject_cast<QApplication*>(QApplication::instance());
  ASSERT_NE(app, nullptr);
  const QString error = ApplyVisualStyle(*app, QStringLiteral("Nebbia"));
  EXPECT_TRUE(error.contains(QStringLiteral("Nebbia")));
  EXPECT_TRUE(app->styleSheet().isEmpty());

  EXPECT_TRUE(ApplyVisualStyle(*app, QString::fromLatin1(DEFAULT_VISUAL_STYLE)).isEmpty());
  EXPECT_TRUE(app->styleSheet().contains(QStringLiteral("#ErrorPanel")));
  app->setStyleSheet(QString());
}

}  // namespace

#include "AboutBox_test.moc"
