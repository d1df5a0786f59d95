#include "library/archive.h"

#include <algorithm>
#include <cmath>

#include "core/format.h"
#include "core/real6.h"

namespace zupo {

namespace {

const std::string& NameOf(const SymbolSet& S, int code) {
  static const std::string none;
  if (code < 1 || code > S.NSym) return none;
  return S.SymTab[static_cast<size_t>(code)];
}

std::string PopOperand(std::vector<std::string>& stack) {
  if (stack.empty()) return {};
  std::string s = std::move(stack.back());
  stack.pop_back();
  return s;
}

struct Candidate {
  int Offer;
  double Mape;
  int Entry; // the entry it holds now; 0 for a newcomer
  int Order; // first the current entries, then the newcomers
};

} // namespace

std::string InOrderKey(const SymbolSet& S, const std::vector<TPostfixItem>& items) {
  // The same reading as a model file read into a tree, then printed in order.
  std::vector<std::string> stack;
  for (const TPostfixItem& it : items) {
    int code = it.Sym;
    if (S.IsTerminal(code)) {
      if (code != 0 && S.IsConst(code))
        stack.push_back(FormatFixed(it.Value, 4, 2));
      else
        stack.push_back(NameOf(S, code));
    } else if (S.IsBinary(code)) {
      std::string right = PopOperand(stack);
      std::string left = PopOperand(stack);
      stack.push_back("(" + left + NameOf(S, code) + right + ")");
    } else {
      stack.push_back(NameOf(S, code) + PopOperand(stack));
    }
  }
  return stack.empty() ? std::string() : std::move(stack.back());
}

double LibraryMape(long double score) {
  if (!(score <= Real6Max)) return Round6(Real6Max); // beyond the range, or not a number
  return Round6(score);
}

int RefreshLibrary(LibraryEntries& entries, const std::vector<std::string>& newcomers,
                   const JudgeModel& judge) {
  std::vector<std::optional<ModelJudgement>> judged;
  judged.reserve(MaxTraders + newcomers.size());
  std::vector<LibraryOffer> offers;
  offers.reserve(MaxTraders + newcomers.size());
  auto offer = [&](const std::string& text) {
    LibraryOffer o;
    if (!text.empty()) judged.push_back(judge(text));
    if (!text.empty() && judged.back()) {
      o = {&text, &judged.back()->Key, std::hash<std::string>{}(judged.back()->Key),
           judged.back()->Mape};
    }
    offers.push_back(o);
  };
  for (int w = 1; w <= MaxTraders; ++w) offer(entries[w].Text);
  for (const std::string& text : newcomers) offer(text);
  return RefreshLibrary(entries, offers);
}

int RefreshLibrary(LibraryEntries& entries, const std::vector<LibraryOffer>& offers,
                   std::array<int, MaxTraders + 1>* source) {
  // The first offer of each model, by its identity (an open-addressing set of offer numbers).
  std::vector<Candidate> cands;
  cands.reserve(offers.size());
  size_t mask = 1;
  while (mask < 2 * offers.size()) mask <<= 1;
  std::vector<int> seen(mask, -1);
  --mask;
  for (int k = 0; k < static_cast<int>(offers.size()); ++k) {
    const LibraryOffer& o = offers[k];
    if (!o.Text) continue;
    size_t slot = o.KeyHash & mask;
    bool repeated = false;
    for (; seen[slot] >= 0; slot = (slot + 1) & mask) {
      const LibraryOffer& other = offers[seen[slot]];
      if (other.KeyHash == o.KeyHash && *other.Key == *o.Key) {
        repeated = true;
        break;
      }
    }
    if (repeated) continue;
    seen[slot] = k;
    cands.push_back({k, o.Mape, k < MaxTraders ? k + 1 : 0, static_cast<int>(cands.size())});
  }

  std::sort(cands.begin(), cands.end(), [](const Candidate& a, const Candidate& b) {
    return a.Mape != b.Mape ? a.Mape < b.Mape : a.Order < b.Order;
  });
  if (cands.size() > static_cast<size_t>(MaxTraders)) cands.resize(MaxTraders);

  // The offer each entry takes: a model that stays keeps its entry.
  std::array<int, MaxTraders + 1> from;
  from.fill(-1);
  for (const Candidate& c : cands)
    if (c.Entry != 0) from[c.Entry] = c.Offer;
  int w = 1;
  auto nextFree = [&] {
    while (w <= MaxTraders && from[w] >= 0) ++w;
    return w;
  };
  for (const Candidate& c : cands)
    if (c.Entry == 0) from[nextFree()] = c.Offer;
  // Fewer distinct models than entries: repeat the kept ones, best first.
  for (size_t k = 0; !cands.empty() && nextFree() <= MaxTraders; ++k)
    from[w] = cands[k % cands.size()].Offer;

  // The new texts are copied before any entry changes: an offer may be another entry's text.
  std::vector<std::pair<int, std::string>> moved;
  int changed = 0;
  for (int e = 1; e <= MaxTraders; ++e) {
    if (from[e] == e - 1) continue; // the entry keeps its own text
    const std::string* text = from[e] >= 0 ? offers[from[e]].Text : nullptr;
    if (text ? *text != entries[e].Text : !entries[e].Text.empty()) ++changed;
    moved.emplace_back(e, text ? *text : std::string());
  }
  for (auto& [e, text] : moved) entries[e].Text = std::move(text);
  for (int e = 1; e <= MaxTraders; ++e) entries[e].Mape = from[e] >= 0 ? offers[from[e]].Mape : 0;
  if (source) *source = from;
  return changed;
}

} // namespace zupo
