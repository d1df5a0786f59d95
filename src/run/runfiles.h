#pragma once
#include <string>

#include "core/state.h"

namespace zupo {

// The header line of Data1.txt (298 characters, then CR LF).
std::string Data1Header();
// Data file: line 1 PriceLag[1..NXVar], line 2 PDLag[1..NYVar], each value in 7.3 form and two
// blanks; line 1 ends with CR LF, line 2 has no line end.
std::string DataFileText(const Simulation& sim);
void ReadDataFile(Simulation& sim);
void WriteDataFile(Simulation& sim);
// The three window files: 111 lines each in the 23-character scientific form.
std::string WindowFileText(const std::array<double, DimLen + 1>& window);
void ReadWindowFiles(Simulation& sim);
// Rewrites each window file whose name is not empty.
void WriteWindowFiles(Simulation& sim);
// The twenty model folders: Tree_Path1 + digit and Tree_Path2 + digit.
void CreateModelFolders(Simulation& sim);
// Run-file names under Tree_Path1 ("Data1.txt" -> <Tree_Path1>/Data1.txt).
std::string RunFile(const Simulation& sim, const std::string& name);
// Resume: cuts Data1.txt back to its header and the rows of generations up to gen, and Data2.txt
// back to the dump blocks of those generations, so that the resumed run appends each generation
// exactly once. Each file is replaced atomically, and only when something is cut.
void CutBackRunFiles(Simulation& sim, int gen);
// The generation of the last complete row of Data1.txt (0 when it has none).
int LastStatisticsRow(const Simulation& sim);

} // namespace zupo
