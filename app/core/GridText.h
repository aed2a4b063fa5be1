#pragma once
// The register grid as text to hand on, its header row first: rows for the
// clipboard (tab-separated, as spreadsheets paste them) and the whole grid
// for a CSV file in a dialect (CsvDialect.h).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "CsvDialect.h"
#include "RegisterGrid.h"

// The header and the given rows, six cells apart by tabs, each line ended by
// a line feed; values with DecimalSeparator, as the grid shows them.
std::string GridClipboardText(const TRegisterGrid& Grid, const std::vector<std::size_t>& Rows,
                              std::string_view DecimalSeparator);

// The header and every row as CSV lines.
std::string GridCsvText(const TRegisterGrid& Grid, const TCsvDialect& Dialect);
