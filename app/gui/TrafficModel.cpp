#include "TrafficModel.h"

#include <QBrush>
#include <QColor>
#include <QLocale>
#include <algorithm>

namespace {

constexpr const char* HEADERS[] = {"Ora", "Dir", "Byte", "Descrizione", "Risposta ms"};

// The frame's bytes in lines of 16 ("XX " each), an ASCII frame in lines of
// as many characters.
std::string WrappedFrameBytesText(TFrameFraming Framing, const std::vector<std::uint8_t>& Bytes) {
  constexpr std::size_t LINE = 16 * 3;
  std::string text = FrameBytesText(Framing, Bytes);
  if (Framing == TFrameFraming::ffAscii) {
    for (std::size_t at = LINE; at < text.size(); at += LINE + 1) text.insert(at, 1, '\n');
  } else {
    for (std::size_t at = LINE - 1; at < text.size(); at += LINE) text[at] = '\n';
  }
  return text;
}

}  // namespace

TTrafficModel::TTrafficModel(QObject* parent, std::size_t Capacity)
    : QAbstractTableModel(parent), FStore(Capacity) {}

int TTrafficModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(FStore.Size());
}

int TTrafficModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : tcColumnCount;
}

QVariant TTrafficModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= FStore.Size())
    return {};
  const TTrafficEntry& entry = FStore.At(static_cast<std::size_t>(index.row()));
  if (role == Qt::ForegroundRole) {
    if (IsInvalidFrame(entry)) return QBrush(QColor(0xD0, 0x00, 0x00));
    if (entry.Outcome == TFrameOutcome::foException) return QBrush(QColor(0xC0, 0x60, 0x00));
    return {};
  }
  // The column is often narrower than a long frame: its tooltip has all of
  // it, 16 bytes a line.
  if (role == Qt::ToolTipRole && index.column() == tcBytes)
    return QString::fromStdString(WrappedFrameBytesText(entry.Framing, entry.Bytes));
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case tcTime:
      return QString::fromStdString(ClockTimeText(entry.Time));
    case tcDirection:
      return QString::fromLatin1(DirectionText(entry.Direction));
    case tcBytes:
      return QString::fromStdString(FrameBytesText(entry.Framing, entry.Bytes));
    case tcSummary:
      return QString::fromStdString(entry.Summary);
    case tcResponse:
      if (!entry.ResponseTime) return {};
      return QString::fromStdString(MillisecondsText(*entry.ResponseTime))
          .replace(QLatin1Char('.'), QLocale().decimalPoint());
    default:
      return {};
  }
}

QVariant TTrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= tcColumnCount)
    return {};
  return QString::fromUtf8(HEADERS[section]);
}

void TTrafficModel::Append(std::vector<TTrafficEntry> Entries) {
  if (Entries.empty()) return;
  const std::size_t capacity = FStore.Capacity();
  if (Entries.size() > capacity)
    Entries.erase(Entries.begin(), Entries.end() - static_cast<std::ptrdiff_t>(capacity));
  // Rows that the new ones push out go first, in one removal.
  const std::size_t room = capacity - FStore.Size();
  const std::size_t leaving = Entries.size() > room ? Entries.size() - room : 0;
  if (leaving > 0) {
    beginRemoveRows(QModelIndex(), 0, static_cast<int>(leaving) - 1);
    FStore.DropOldest(leaving);
    endRemoveRows();
  }
  const int first = static_cast<int>(FStore.Size());
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(Entries.size()) - 1);
  for (TTrafficEntry& entry : Entries) FStore.Add(std::move(entry));
  endInsertRows();
}

void TTrafficModel::Clear() {
  beginResetModel();
  FStore.Clear();
  endResetModel();
}
