// What a technician reaches for in the window: Ctrl+C on the grid's selected
// rows, File > "Esporta griglia…" and File > "Profili…". Each is built on a
// file of its own (GridText.h, CsvFileDialog.h, ProfilesDialog.h); this file
// only connects them to the window.

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QItemSelectionModel>
#include <QLocale>
#include <QMenu>
#include <QShortcut>
#include <QTableWidget>
#include <algorithm>

#include "CsvFileDialog.h"
#include "Form1.h"
#include "GridText.h"
#include "MessageBoxes.h"
#include "ProfilesDialog.h"

namespace {

QAction* MakeFileAction(TForm1& Form, const char* Name, const char* Caption) {
  auto* action = new QAction(QString::fromUtf8(Caption), &Form);
  action->setObjectName(QString::fromLatin1(Name));
  Form.File1->insertAction(Form.Exit1, action);
  return action;
}

// Runs an operation of a menu item; a failure goes to the window's error report.
template <typename F>
void Reported(TForm1& Form, F&& Operation) {
  try {
    Operation();
  } catch (const std::exception& error) {
    Form.ReportError(error);
  }
}

}  // namespace

void TForm1::BuildTools() {
  ExportGrid1 = MakeFileAction(*this, "ExportGrid1", "&Esporta griglia…");
  Profiles1 = MakeFileAction(*this, "Profiles1", "&Profili…");
  connect(ExportGrid1, &QAction::triggered, this,
          [this] { Reported(*this, [this] { ExportGridClick(); }); });
  connect(Profiles1, &QAction::triggered, this,
          [this] { Reported(*this, [this] { ProfilesClick(); }); });
  // A shortcut of the grid, not an action: the grid's context menu lists
  // actions, and copying is no item of it.
  auto* copy = new QShortcut(QKeySequence::Copy, MBGrid);
  copy->setObjectName(QStringLiteral("GridCopyShortcut"));
  copy->setContext(Qt::WidgetWithChildrenShortcut);
  connect(copy, &QShortcut::activated, this, [this] { CopyGridRows(); });
}

QString TForm1::SelectedGridText() const {
  std::vector<std::size_t> rows;
  for (const QModelIndex& index : MBGrid->selectionModel()->selectedRows())
    rows.push_back(static_cast<std::size_t>(index.row()));
  std::sort(rows.begin(), rows.end());
  return QString::fromStdString(
      GridClipboardText(FMap.Grid(), rows, QLocale().decimalPoint().toStdString()));
}

void TForm1::CopyGridRows() {
  if (MBGrid->selectionModel()->selectedRows().isEmpty()) return;
  QApplication::clipboard()->setText(SelectedGridText());
}

bool TForm1::ExportGrid(const QString& File, const TCsvDialect& Dialect) {
  const QByteArray text = QByteArray::fromStdString(GridCsvText(FMap.Grid(), Dialect));
  QFile file(File);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size() ||
      !file.flush()) {
    FMessageBoxes.ShowError(
        this,
        QStringLiteral("Impossibile esportare la griglia in %1: %2").arg(File, file.errorString()));
    return false;
  }
  return true;
}

void TForm1::ExportGridClick() {
  QString file;
  TCsvDialect dialect;
  if (AskCsvFile(this, QStringLiteral("Esporta la griglia"), QStringLiteral("griglia.csv"), file,
                 dialect))
    ExportGrid(file, dialect);
}

void TForm1::ProfilesClick() {
  TProfilesDialog dialog(*this);
  dialog.exec();
}
