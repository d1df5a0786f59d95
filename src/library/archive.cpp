#include "library/archive.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

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
  const std::string* Text;
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
  std::vector<Candidate> cands;
  std::unordered_set<std::string> seen;
  auto consider = [&](const std::string& text, int entry) {
    if (text.empty()) return;
    std::optional<ModelJudgement> j = judge(text);
    if (!j || !seen.insert(j->Key).second) return;
    cands.push_back({&text, j->Mape, entry, static_cast<int>(cands.size())});
  };
  for (int w = 1; w <= MaxTraders; ++w) consider(entries[w].Text, w);
  for (const std::string& text : newcomers) consider(text, 0);

  std::sort(cands.begin(), cands.end(), [](const Candidate& a, const Candidate& b) {
    return a.Mape != b.Mape ? a.Mape < b.Mape : a.Order < b.Order;
  });
  if (cands.size() > static_cast<size_t>(MaxTraders)) cands.resize(MaxTraders);

  LibraryEntries next;
  std::array<bool, MaxTraders + 1> taken{};
  for (const Candidate& c : cands)
    if (c.Entry != 0) {
      next[c.Entry] = {*c.Text, c.Mape};
      taken[c.Entry] = true;
    }
  int w = 1;
  auto nextFree = [&] {
    while (w <= MaxTraders && taken[w]) ++w;
    return w;
  };
  for (const Candidate& c : cands)
    if (c.Entry == 0) {
      int e = nextFree();
      next[e] = {*c.Text, c.Mape};
      taken[e] = true;
    }
  // Fewer distinct models than entries: repeat the kept ones, best first.
  for (size_t k = 0; !cands.empty() && nextFree() <= MaxTraders; ++k) {
    const Candidate& c = cands[k % cands.size()];
    next[w] = {*c.Text, c.Mape};
    taken[w] = true;
  }

  int changed = 0;
  for (int e = 1; e <= MaxTraders; ++e)
    if (next[e].Text != entries[e].Text) ++changed;
  entries = std::move(next);
  return changed;
}

} // namespace zupo
