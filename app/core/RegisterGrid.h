#pragma once
// The texts of the register grid, without any widget: a fixed header row and
// one row of six cells per map entry. The window copies them into its table.

#include <array>
#include <cstddef>
#include <string>
#include <vector>

enum EGridColumn : int {
  gcAddress = 0,      // "Indirizzo"
  gcType = 1,         // "Tipo"
  gcObis = 2,         // "OBIS"
  gcValue = 3,        // "Valore"
  gcRawValue = 4,     // "Valore Registri"
  gcDescription = 5,  // "Descrizione"
};
inline constexpr int GRID_COLUMN_COUNT = 6;
inline constexpr const char* GRID_HEADERS[GRID_COLUMN_COUNT] = {
    "Indirizzo", "Tipo", "OBIS", "Valore", "Valore Registri", "Descrizione"};
inline constexpr int GRID_COLUMN_WIDTHS[GRID_COLUMN_COUNT] = {50, 60, 100, 80, 140, 300};
inline constexpr int GRID_ROW_HEIGHT = 15;

using TGridRow = std::array<std::string, GRID_COLUMN_COUNT>;

class TRegisterGrid {
 public:
  // Data rows, without the header row: row i shows map entry i.
  std::size_t RowCount() const { return FRows.size(); }
  const TGridRow& Row(std::size_t i) const { return FRows.at(i); }
  const std::string& Cell(std::size_t row, int column) const {
    return FRows.at(row).at(static_cast<std::size_t>(column));
  }
  const std::vector<TGridRow>& Rows() const { return FRows; }

  // Used by TRegisterMap::UpdateGridStruct / UpdateGridData.
  void Resize(std::size_t rows) { FRows.assign(rows, TGridRow{}); }
  TGridRow& MutableRow(std::size_t i) { return FRows.at(i); }

 private:
  std::vector<TGridRow> FRows;
};
