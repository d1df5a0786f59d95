#pragma once
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/state.h"
#include "core/textio.h"
#include "model/tree.h"

namespace zupo {

// Full name of file number n: prefix folder (Tree_Path2 when library, else Tree_Path1) + the
// folder digit (n div 100; 9 for every number from 900 on) + '/' + filePrefix + n in at least
// four digits + ".dat". "T" for model files, "Best" for best-model reports.
std::string ModelFileName(const Simulation& sim, std::string_view filePrefix, int n,
                          bool library = false);

// One token of a model file, by the token rule (A C E L X Y Z: three characters; SI + one;
// SQ + two; S followed by anything else: the S alone, the second character lost; any other
// character alone).
std::string ReadToken(TextReader& in);

// The model file text of a tree (postfix, no separators, no line end).
std::string TreeText(const SymbolSet& S, const TTreeNode* T);
// The model file text of a list of items.
std::string ItemsText(const SymbolSet& S, std::span<const TPostfixItem> items);
// The model file text of the loaded list.
std::string ListText(const Simulation& sim);
// "(" + value with 2 decimals in at least 4 characters + " )"
void AppendConstToken(std::string& out, double value);

// Model n of the population (Tree_Path1), compiled. Its file is read the first time only: nothing
// else writes these files.
const StoredModel& OwnModel(Simulation& sim, int n);
// Library model n (Tree_Path2). The companion may change its file between generations, so the
// file is read once in each generation that uses it and parsed again when its text changed.
const StoredModel& LibraryModelAt(Simulation& sim, int n);
// The text of model n under Tree_Path1.
const std::string& ModelFileText(Simulation& sim, int n);

// Model n becomes the given items, as reading their text back gives them (a constant keeps two
// decimals). The file is written by FlushModel.
void SetModel(Simulation& sim, int n, std::span<const TPostfixItem> items);
// Model `to` becomes model `from`, as WriteList of the loaded model `from` would make it.
void CopyModel(Simulation& sim, int from, int to);
// Writes model n's file unless the file already holds the model's text.
void FlushModel(Simulation& sim, int n);
// Closes the model files kept open (Models.KeepOpen); the first failure is thrown after all
// are closed.
void CloseModelFiles(Simulation& sim);
// Model n becomes the model of text, and its file is written unless it already holds text.
void StoreModelText(Simulation& sim, int n, std::string text);
// TreeDepth and TreeSize of model n, remembered with the model.
void ModelMeasures(Simulation& sim, int n, int32_t& depth, int32_t& size);

// Model n becomes tree T (released); the file is written by FlushModel.
void SaveCandidate(Simulation& sim, PTreeNode& T, int n);
// Writes T as model file n under Tree_Path1 and releases T.
void SaveModel(Simulation& sim, PTreeNode& T, int n);
// Loads model n (Tree_Path1) into ModelList; ModelCursor := 0.
void LoadModel(Simulation& sim, int n);
// The same from Tree_Path2 (the library).
void LoadModel2(Simulation& sim, int n);
// The tree of model n (n >= 0: Tree_Path1; n < 0: library model -n);
// counts all nodes and the terminals. Warns "Stack underfollow !! " on a missing operand.
PTreeNode ReadTree(Simulation& sim, int n, int& NodeCount, int& TermCount);
// Writes the loaded ModelList as model file n under Tree_Path1; ModelCursor ends at the end.
void WriteList(Simulation& sim, int n);
// The in-order form: "(" Left name Right ")" for binary, name + Left for unary, the number alone
// for a constant.
std::string InOrderText(const SymbolSet& S, const TTreeNode* T);
// Releases the loaded list.
void DisposeList(Simulation& sim);

// The deepest model a file may hold. A run never makes a tree deeper than DepthLimit (at most
// 255); the walks over a tree recurse once per level, so a deeper file is refused.
constexpr int MaxModelFileDepth = 4096;

// Parsing of model text (used by the three readers): the text's items in postfix order.
// RunError naming the file when the text is empty, a constant's number cannot be read or the
// model is nested deeper than MaxModelFileDepth.
std::vector<TPostfixItem> ParseModelText(const SymbolSet& S, const std::string& name,
                                         const std::string& text);

} // namespace zupo
