#pragma once
#include <string>

#include "core/state.h"

namespace zupo {

// Reads every parameter key (Stock_Market, then Traders, then Common) into sim.P and builds the
// symbol set. RunError names the file, section, key and value of a missing or bad number, and
// refuses more than 75 symbols or more than 15 variables of one kind.
void GetEnv(Simulation& sim, const std::string& iniFile);
// Reads the driver's keys: Data_File, ExData_File, Tree_Path1, Tree_Path2 (resolved against the
// folder of iniFile), Gen_No, Stop_No, Do_Dim, and the window file names.
void ReadRunKeys(Simulation& sim, const std::string& iniFile);

int32_t ReadIniInt(const std::string& file, const std::string& section, const std::string& key);
double ReadIniReal6(const std::string& file, const std::string& section, const std::string& key);

} // namespace zupo
