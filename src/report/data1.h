#pragma once
// Reading a run's statistics table (Data1.txt) back: one header line, then one row of 27 numbers
// per generation.
#include <array>
#include <string>
#include <vector>

namespace zupo {

// The columns of a row, in file order.
enum Data1Col {
  kGen,
  kPrice,
  kDividend,
  kBuyNo,
  kSellNo,
  kBeSNo,
  kTotalBid,
  kTotalOffer,
  kTwealth1,
  kTwealth2,
  kTwealth3,
  kTwealth4,
  kTwealth5,
  kAveDepth,
  kAveNode,
  kAveHi,
  kAveVijs,
  kAveSigma,
  kVarDepth,
  kVarNode,
  kVarHi,
  kVarVijs,
  kVarSigma,
  kSucceedNo,
  kMartingaleNo,
  kVisitGenNo,
  kVisitLibNo,
  kData1Cols
};

struct Data1Table {
  std::vector<std::array<double, kData1Cols>> Rows;
  // The file ended in a row without its line end (the run was writing it): that row is left out.
  bool PartialLastRow = false;

  std::vector<double> Column(Data1Col c) const;
  int FirstGen() const { return Rows.empty() ? 0 : static_cast<int>(Rows.front()[kGen]); }
  int LastGen() const { return Rows.empty() ? 0 : static_cast<int>(Rows.back()[kGen]); }
};

// Reads the table. RunError naming the file (and the line) when the file is missing, its first
// line is not the table's header, or a complete row is not 27 numbers with a generation number
// above the previous row's.
Data1Table ReadData1(const std::string& path);

// The rows from generation `from` on.
Data1Table RowsFrom(const Data1Table& table, int from);

} // namespace zupo
