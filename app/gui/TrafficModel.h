#pragma once
// The traffic panel's rows: the last frames of a TTrafficStore, oldest
// first. Frames arrive in batches; a batch becomes one insertion (and, once
// the store is full, one removal at the top), and the texts of a row are
// made only when the view asks for them, so that a row that is never
// scrolled into view costs no formatting.

#include <QAbstractTableModel>
#include <vector>

#include "TrafficStore.h"

class TTrafficModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum EColumn { tcTime, tcDirection, tcBytes, tcSummary, tcResponse, tcColumnCount };

  explicit TTrafficModel(QObject* parent = nullptr, std::size_t Capacity = TRAFFIC_STORE_CAPACITY);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  void Append(std::vector<TTrafficEntry> Entries);
  void Clear();
  const TTrafficStore& Store() const { return FStore; }

 private:
  TTrafficStore FStore;
};
