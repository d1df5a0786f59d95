#include "run/runfiles.h"

#include <string_view>

#include "core/errors.h"
#include "core/format.h"
#include "core/paths.h"
#include "core/real6.h"
#include "core/textio.h"

namespace zupo {

std::string Data1Header() {
  std::string h;
  h += "GEN          P(t+1)    D(t+1) ";
  h += "BuyNo SellNo BeSNo     TotalBid  TotalOffer ";
  h += "Twealth1  Twealth2  Twealth3  Twealth4  Twealth5";
  h += "  AveDepth    AveNode   AveHi      AveVijs       AveSigma";
  h += "    VarDepth     VarNode    VarHi";
  h += "        VarVijs        VarSigma    SucceedNo     MartingaleNo";
  h += "  VisitGenNo   VisitLibNo";
  EndLine(h);
  return h;
}

std::string DataFileText(const Simulation& sim) {
  std::string s;
  for (int k = 1; k <= sim.S.NXVar; ++k) {
    AppendFixed(s, sim.M.PriceLag[k], 7, 3);
    s += "  ";
  }
  EndLine(s);
  // The second line has no line end.
  for (int k = 1; k <= sim.S.NYVar; ++k) {
    AppendFixed(s, sim.M.PDLag[k], 7, 3);
    s += "  ";
  }
  return s;
}

void ReadDataFile(Simulation& sim) {
  TextReader in = TextReader::Open(sim.P.Data_File);
  for (int k = 1; k <= sim.S.NXVar; ++k) sim.M.PriceLag[k] = in.ReadReal();
  in.SkipLine();
  for (int k = 1; k <= sim.S.NYVar; ++k) sim.M.PDLag[k] = in.ReadReal();
}

void WriteDataFile(Simulation& sim) {
  sim.Files.Rewrite(sim.DataOut, sim.P.Data_File, DataFileText(sim));
}

std::string WindowFileText(const std::array<double, DimLen + 1>& window) {
  std::string s;
  s.reserve(DimLen * 25);
  for (int k = 1; k <= DimLen; ++k) {
    AppendSci23(s, window[k]);
    EndLine(s);
  }
  return s;
}

namespace {

TextReader OpenWindowFile(const std::string& name, const char* key) {
  if (name.empty()) throw RunError(std::string(key) + ": no window file is named");
  return TextReader::Open(name);
}

} // namespace

void ReadWindowFiles(Simulation& sim) {
  TextReader a = OpenWindowFile(sim.P.DimA_File, "DimA_File");
  TextReader b = OpenWindowFile(sim.P.DimB_File, "DimB_File");
  TextReader c = OpenWindowFile(sim.P.DimC_File, "DimC_File");
  for (int k = 1; k <= DimLen; ++k) {
    sim.R.DimA[k] = a.ReadReal6();
    a.SkipLine();
    sim.R.DimB[k] = b.ReadReal6();
    b.SkipLine();
    sim.R.DimC[k] = c.ReadReal6();
    c.SkipLine();
  }
}

void WriteWindowFiles(Simulation& sim) {
  // With Do_Dim not 0 the names are read all the same; an empty name leaves that window unsaved.
  if (!sim.P.DimA_File.empty())
    sim.Files.Rewrite(sim.DimAOut, sim.P.DimA_File, WindowFileText(sim.R.DimA));
  if (!sim.P.DimB_File.empty())
    sim.Files.Rewrite(sim.DimBOut, sim.P.DimB_File, WindowFileText(sim.R.DimB));
  if (!sim.P.DimC_File.empty())
    sim.Files.Rewrite(sim.DimCOut, sim.P.DimC_File, WindowFileText(sim.R.DimC));
}

void CreateModelFolders(Simulation& sim) {
  for (char d = '0'; d <= '9'; ++d) {
    EnsureDir(sim.P.Tree_Path1 + d);
    EnsureDir(sim.P.Tree_Path2 + d);
    sim.ProcessMessages();
  }
}

std::string RunFile(const Simulation& sim, const std::string& name) {
  return FileInFolder(sim.P.Tree_Path1, name);
}

namespace {

// The leading integer of a line (after blanks), or false when the line does not start with one.
bool LeadingInt(std::string_view line, long long& v) {
  size_t b = line.find_first_not_of(' ');
  if (b == std::string_view::npos) return false;
  size_t e = b + (line[b] == '-' ? 1 : 0);
  while (e < line.size() && line[e] >= '0' && line[e] <= '9') ++e;
  return ParseInt(line.substr(b, e - b), v);
}

// Keeps the lines of text for which keep(line) holds. Every line the run writes ends with a line
// end, so an unterminated last line is the tail of an interrupted write and is dropped.
template <class Keep> std::string KeepLines(const std::string& text, Keep keep) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) break;
    std::string_view line(text.data() + pos, nl + 1 - pos);
    if (keep(line)) out += line;
    pos = nl + 1;
  }
  return out;
}

void CutBack(const std::string& path, const std::string& kept, const std::string& text) {
  if (kept.size() != text.size()) WriteFileAtomic(path, kept);
}

} // namespace

int LastStatisticsRow(const Simulation& sim) {
  long long last = 0;
  KeepLines(ReadWholeFile(RunFile(sim, "Data1.txt")), [&last](std::string_view line) {
    long long g = 0;
    if (LeadingInt(line, g)) last = g;
    return false;
  });
  return static_cast<int>(last);
}

void CutBackRunFiles(Simulation& sim, int gen) {
  // Data1.txt: rows are "<generation> ..."; the header and any other line stay.
  std::string path1 = RunFile(sim, "Data1.txt");
  std::string text1 = ReadWholeFile(path1);
  CutBack(path1,
          KeepLines(text1,
                    [gen](std::string_view line) {
                      long long g = 0;
                      return !LeadingInt(line, g) || g <= gen;
                    }),
          text1);

  // Data2.txt: a block is its "Generation:<g>" line and the lines up to the next block.
  std::string path2 = RunFile(sim, "Data2.txt");
  std::string text2 = ReadWholeFile(path2);
  bool dropping = false;
  CutBack(path2,
          KeepLines(text2,
                    [gen, &dropping](std::string_view line) {
                      constexpr std::string_view tag = "Generation:";
                      if (line.substr(0, tag.size()) == tag) {
                        long long g = 0;
                        dropping = LeadingInt(line.substr(tag.size()), g) && g > gen;
                      }
                      return !dropping;
                    }),
          text2);
}

} // namespace zupo
