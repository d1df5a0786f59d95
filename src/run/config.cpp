#include "run/config.h"

#include <limits>

#include "core/errors.h"
#include "core/ini.h"
#include "core/paths.h"
#include "core/real6.h"
#include "core/textio.h"
#include "model/modelfile.h"
#include "model/symbols.h"

namespace zupo {

namespace {

std::string KeyName(const std::string& file, const std::string& section, const std::string& key) {
  return file + " [" + section + "] " + key;
}

// The value of a numeric key; a missing key (or one that reads as empty) is an error, since no
// default is ever substituted.
std::string RequiredValue(const std::string& file, const std::string& section,
                          const std::string& key) {
  std::string s = ReadIniStr(section, key, file);
  if (s.empty()) throw RunError(KeyName(file, section, key) + ": the key is missing or empty");
  return s;
}

// Whether a name of a symbol list is one the model files and the evaluation can use: the token
// rule of the model files must read it back whole, and an operator or function must be one the
// evaluation computes (others evaluate to 0).
bool ReadsBack(const std::string& name) {
  if (name.empty()) return false;
  TextReader in("", name);
  return ReadToken(in) == name && in.Eof();
}

bool EvaluationKnows(const std::string& name, bool binary) {
  if (binary) return name == "+" || name == "-" || name == "*" || name == "%";
  return name == "SIN" || name == "COS" || name == "EXP" || name == "LOG" || name == "ABS" ||
         name == "SQRT";
}

void WarnUnknownSymbols(const Simulation& sim, const std::string& file, const char* key,
                        const std::vector<std::string>& names, int kind) {
  for (const std::string& name : names) {
    bool known = ReadsBack(name) && (kind == 0 || EvaluationKnows(name, kind == 2));
    if (!known)
      sim.Warning(KeyName(file, "Common", key) + ": \"" + name +
                  "\" is not a symbol the program knows; it evaluates to 0");
  }
}

uint8_t LowByte(int32_t v) {
  return static_cast<uint8_t>(static_cast<uint32_t>(v) & 0xFFu);
}

std::string ReadPath(const std::string& file, const std::string& key) {
  return ResolvePath(FolderOf(file), ReadIniStr("Common", key, file));
}

} // namespace

int32_t ReadIniInt(const std::string& file, const std::string& section, const std::string& key) {
  std::string s = RequiredValue(file, section, key);
  long long v = 0;
  if (!ParseInt(s, v) || v < std::numeric_limits<int32_t>::min() ||
      v > std::numeric_limits<int32_t>::max())
    throw RunError(KeyName(file, section, key) + ": \"" + s + "\" is not a valid integer");
  return static_cast<int32_t>(v);
}

double ReadIniReal6(const std::string& file, const std::string& section, const std::string& key) {
  std::string s = RequiredValue(file, section, key);
  long double v = 0;
  if (!ParseReal(s, v))
    throw RunError(KeyName(file, section, key) + ": \"" + s + "\" is not a valid number");
  try {
    return Round6(v);
  } catch (const FloatError&) {
    throw RunError(KeyName(file, section, key) + ": \"" + s + "\" is out of range");
  }
}

void GetEnv(Simulation& sim, const std::string& iniFile) {
  Params& P = sim.P;
  const std::string& f = iniFile;
  P.H0 = ReadIniReal6(f, "Stock_Market", "H0");
  P.M0 = ReadIniReal6(f, "Stock_Market", "M0");
  P.Irate = ReadIniReal6(f, "Stock_Market", "Irate");
  P.Beta = ReadIniReal6(f, "Stock_Market", "Beta");

  P.Full = ReadIniInt(f, "Traders", "Full");
  P.Grow = ReadIniInt(f, "Traders", "Grow");
  P.Reproduct = ReadIniInt(f, "Traders", "Reproduct");
  P.Mutation = ReadIniInt(f, "Traders", "Mutation");
  P.MutProb = ReadIniReal6(f, "Traders", "MutProb");
  int32_t depthLimit = ReadIniInt(f, "Traders", "DepthLimit");
  P.DepthLimit = LowByte(depthLimit);
  if (depthLimit != P.DepthLimit)
    sim.Warning(KeyName(f, "Traders", "DepthLimit") + ": " + std::to_string(depthLimit) +
                " is above 255; it is kept modulo 256, as " + std::to_string(P.DepthLimit));
  P.LeaveProb = ReadIniInt(f, "Traders", "LeaveProb");
  P.MaxExp = ReadIniReal6(f, "Traders", "MaxExp");
  P.MutMode = LowByte(ReadIniInt(f, "Traders", "MutMode"));
  P.G_Gap = ReadIniInt(f, "Traders", "G_Gap");
  P.LibraryProb = Round6(ReadIniInt(f, "Traders", "LibraryProb"));
  P.Lambda = ReadIniReal6(f, "Traders", "Lambda");
  P.Theta1 = ReadIniReal6(f, "Traders", "Theta1");
  P.Theta2 = ReadIniReal6(f, "Traders", "Theta2");
  P.Theta3 = ReadIniReal6(f, "Traders", "Theta3");
  P.TryNo = LowByte(ReadIniInt(f, "Traders", "TryNo"));

  auto list = [&](const char* key) { return ParseSymbolList(ReadIniStr("Common", key, f)); };
  std::vector<std::string> binary = list("BinarySet");
  std::vector<std::string> unary = list("UnarySet");
  std::vector<std::string> xvar = list("X_Var");
  std::vector<std::string> yvar = list("Y_Var");
  std::vector<std::string> extra = list("Extra_Var");
  std::string constItem = ParseConstItem(ReadIniStr("Common", "Const_Item", f));
  try {
    BuildSymbolSet(sim.S, binary, unary, xvar, yvar, extra, constItem);
  } catch (const RunError& e) {
    throw RunError(f + " [Common]: " + e.what());
  }
  WarnUnknownSymbols(sim, f, "BinarySet", binary, 2);
  WarnUnknownSymbols(sim, f, "UnarySet", unary, 1);
  WarnUnknownSymbols(sim, f, "X_Var", xvar, 0);
  WarnUnknownSymbols(sim, f, "Y_Var", yvar, 0);
  WarnUnknownSymbols(sim, f, "Extra_Var", extra, 0);
}

void ReadRunKeys(Simulation& sim, const std::string& iniFile) {
  Params& P = sim.P;
  const std::string& f = iniFile;
  // Paths are kept as configured apart from the separators: Tree_Path1 + digit names a model
  // folder, so a trailing separator stays where it is.
  P.Data_File = ReadPath(f, "Data_File");
  P.ExData_File = ReadPath(f, "ExData_File");
  P.Tree_Path1 = ReadPath(f, "Tree_Path1");
  P.Tree_Path2 = ReadPath(f, "Tree_Path2");
  P.Gen_No = ReadIniInt(f, "Traders", "Gen_No");
  sim.R.Gen_No = P.Gen_No;
  P.Stop_No = ReadIniInt(f, "Common", "Stop_No");
  P.Do_Dim = LowByte(ReadIniInt(f, "Common", "Do_Dim"));
  P.DimA_File = ReadPath(f, "DimA_File");
  P.DimB_File = ReadPath(f, "DimB_File");
  P.DimC_File = ReadPath(f, "DimC_File");
}

} // namespace zupo
