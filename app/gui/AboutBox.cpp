#include "AboutBox.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTextEdit>
#include <QUrl>

#include "Commons.h"

namespace {

constexpr int CLIENT_WIDTH = 456;
constexpr int CLIENT_HEIGHT = 296;

QFont SansFont(std::initializer_list<const char*> families, int pixelSize) {
  QFont font;
  QStringList names;
  for (const char* family : families) names << QString::fromLatin1(family);
  names << QStringLiteral("DejaVu Sans") << QStringLiteral("Liberation Sans");
  font.setFamilies(names);
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixelSize);
  return font;
}

}  // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  BuildControls();
  FormCreate();
}

void TAboutBox::ExecuteModal(QWidget* parent) {
  TAboutBox box(parent);
  if (const QScreen* screen = box.screen()) {
    QRect frame = box.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    box.move(frame.topLeft());
  }
  box.exec();
}

void TAboutBox::BuildControls() {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("About"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(CLIENT_WIDTH, CLIENT_HEIGHT);
  setFont(SansFont({"MS Sans Serif", "Microsoft Sans Serif"}, 11));
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);
  setAutoFillBackground(true);

  Image2 = new QLabel(this);
  Image2->setObjectName(QStringLiteral("Image2"));
  Image2->setGeometry(0, 0, CLIENT_WIDTH, CLIENT_HEIGHT);
  Image2->setScaledContents(true);
  Image2->setPixmap(QPixmap(QStringLiteral(":/images/AboutPicture.png")));

  memoCopyright = new QTextEdit(this);
  memoCopyright->setObjectName(QStringLiteral("memoCopyright"));
  memoCopyright->setGeometry(170, 24, 270, 56);
  memoCopyright->setReadOnly(true);
  memoCopyright->setFrameShape(QFrame::NoFrame);
  memoCopyright->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  memoCopyright->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  memoCopyright->setFocusPolicy(Qt::NoFocus);
  memoCopyright->setAcceptRichText(false);
  QPalette grey = memoCopyright->palette();
  grey.setColor(QPalette::Text, Qt::gray);
  grey.setColor(QPalette::Base, Qt::transparent);
  memoCopyright->setPalette(grey);

  lblSendEmail = new QLabel(QString::fromLatin1(SUPPORT_EMAIL), this);
  lblSendEmail->setObjectName(QStringLiteral("lblSendEmail"));
  lblSendEmail->setGeometry(170, 92, 270, 20);
  lblSendEmail->setAlignment(Qt::AlignCenter);
  QFont link = SansFont({"Arial"}, 13);
  link.setItalic(true);
  link.setUnderline(true);
  lblSendEmail->setFont(link);
  QPalette blue = lblSendEmail->palette();
  blue.setColor(QPalette::WindowText, Qt::blue);
  lblSendEmail->setPalette(blue);
  lblSendEmail->setCursor(Qt::PointingHandCursor);
  lblSendEmail->setToolTip(QStringLiteral("Invia una email al supporto tecnico"));
  lblSendEmail->installEventFilter(this);

  Bevel1 = new QFrame(this);
  Bevel1->setObjectName(QStringLiteral("Bevel1"));
  Bevel1->setGeometry(170, 124, 270, 2);
  Bevel1->setFrameShape(QFrame::HLine);
  Bevel1->setFrameShadow(QFrame::Sunken);

  lblOS = new QLabel(QStringLiteral("S.O."), this);
  lblOS->setObjectName(QStringLiteral("lblOS"));
  lblOS->setGeometry(170, 136, 270, 18);

  lblAvailableMemory = new QLabel(QStringLiteral("Windows Available Memory"), this);
  lblAvailableMemory->setObjectName(QStringLiteral("lblAvailableMemory"));
  lblAvailableMemory->setGeometry(170, 160, 160, 18);

  PhysMem = new QLabel(QStringLiteral("0"), this);
  PhysMem->setObjectName(QStringLiteral("PhysMem"));
  PhysMem->setGeometry(330, 160, 110, 18);
  PhysMem->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setGeometry(360, 256, 80, 26);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutBox::FormCreate() {
  const QString version = QString::fromStdString(GetVersionStr(""));
  memoCopyright->setPlainText(QStringLiteral("Test VIVAR517 - Versione ") + version +
                              QLatin1Char('\n') + QString::fromUtf8(ABOUT_COPYRIGHT));
  // Centre every line of the memo.
  memoCopyright->selectAll();
  memoCopyright->setAlignment(Qt::AlignHCenter);
  memoCopyright->moveCursor(QTextCursor::Start);

  GetOSInfo();
  PhysMem->setText(QString::fromStdString(
      FormatMemoryKB(TotalPhysicalMemory(), QLocale().groupSeparator().toStdString())));
}

void TAboutBox::GetOSInfo() {
  lblOS->setText(QString::fromStdString(GetOSString()));
}

// Whatever program the desktop has for "mailto:" addresses starts a message to
// support; without one the click has no visible effect.
void TAboutBox::lblSendEmailClick() {
  QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + lblSendEmail->text()));
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lblSendEmail && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    lblSendEmailClick();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}
