#pragma once
// The model library: an archive of the MaxTraders best distinct forecasting models seen so far,
// judged by their forecast error (smaller is better). Entry w of the archive is library model w.
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/state.h"

namespace zupo {

// One library entry: the model file text and its forecast error (a 6-byte real, as written to
// Mape.txt). An empty Text is an empty entry.
struct LibraryEntry {
  std::string Text;
  double Mape = 0;
};

// Entries 1..MaxTraders; [0] unused.
using LibraryEntries = std::array<LibraryEntry, MaxTraders + 1>;

// What the archive needs to know of a model: its identity (two models with the same in-order
// text are the same model) and its forecast error on the current windows.
struct ModelJudgement {
  std::string Key;
  double Mape = 0;
};

// Judges a model file text; nullopt when the text is not a readable model (it is then left out).
using JudgeModel = std::function<std::optional<ModelJudgement>(const std::string& text)>;

// Keeps the MaxTraders best distinct models among the current entries and the newcomers, and
// returns how many entries changed their text.
// - Every current entry is judged anew; of two entries of the same model the first is kept.
// - Ties are broken in favour of the current entries, then of the earlier entry or newcomer.
// - A model that stays keeps its entry number; newcomers take the freed numbers in ascending
//   order, best newcomer first. This keeps the library's files unchanged where the archive is.
// - With fewer distinct models than entries, the free entries repeat the kept models from the
//   best on, so that every entry holds a model.
int RefreshLibrary(LibraryEntries& entries, const std::vector<std::string>& newcomers,
                   const JudgeModel& judge);

// A model offered to the archive, judged already: its text, its identity (and the hash of it)
// and its forecast error. A null Text offers nothing (an empty entry, an unreadable model).
struct LibraryOffer {
  const std::string* Text = nullptr;
  const std::string* Key = nullptr;
  size_t KeyHash = 0;
  double Mape = 0;
};

// RefreshLibrary over judged models: offers[w - 1] is current entry w (w = 1..MaxTraders), the
// offers after them are the newcomers. The texts must not lie in entries except as their own
// entry's text. source, when given, receives for each entry w the index of the offer whose
// model it holds afterwards.
int RefreshLibrary(LibraryEntries& entries, const std::vector<LibraryOffer>& offers,
                   std::array<int, MaxTraders + 1>* source = nullptr);

// The in-order text of a model given in postfix order, the identity of a model in the archive:
// "(" left name right ")" for a binary operator, name + operand for a unary one, the number with
// two decimals for a constant. A missing operand is empty.
std::string InOrderKey(const SymbolSet& S, const std::vector<TPostfixItem>& items);

// The forecast error written for a model: its MapeScore as a 6-byte real. An error beyond the
// 6-byte range (or not a number) is written as the largest 6-byte real, so that the run can read
// it and the model ranks last.
double LibraryMape(long double score);

} // namespace zupo
