#pragma once
// The companion's work for one generation: reads the population's models of that generation,
// judges them and the library on the current window files, keeps the best, writes the library's
// model files and Mape.txt, and removes the signal file.
#include <array>
#include <memory>
#include <string>
#include <unordered_map>

#include "core/state.h"
#include "library/archive.h"
#include "library/scoring.h"

namespace zupo {

struct GenerationReport {
  int Gen = 0;
  double Best = 0, Median = 0; // forecast errors in the library after the generation
  int Changed = 0;             // entries whose model changed
  double Millis = 0;           // time spent
  double AheadMillis = 0;      // time spent ahead, between generations, since the one before
  long Evaluations = 0;        // models evaluated at one window position, ahead included
};

// The half of the model numbers (0 or 500) that holds generation g's models. The run's halves
// alternate from CurBase 0 in generation 1 (the checkpoint keeps that alternation across a
// resume), so the half follows from g alone; the checkpoint is not read, since the run rewrites
// it while the companion works.
int HalfOfGeneration(int g);

class LibraryKeeper {
public:
  // Reads the run's configuration (symbol lists, paths, window files, DepthLimit, ...). RunError
  // names the file, key and value at fault.
  explicit LibraryKeeper(const std::string& iniFile);
  ~LibraryKeeper();
  LibraryKeeper(const LibraryKeeper&) = delete;
  LibraryKeeper& operator=(const LibraryKeeper&) = delete;

  // The work for the signal file Tree_Path1 + "/Gen" + g. What it writes depends only on the
  // files of generation g: the population's models of generation g, the window files, and the
  // library as written for generation g (the half read by the run during generation g + 1).
  //
  // The library of generation g is written into the half that the run reads in the generation
  // after next (model numbers HalfOfGeneration(g + 1) + w): the other half is being read by the
  // run while this work is done, and is rewritten one generation later. So each entry w lives as
  // model w and as model 500 + w, for consecutive generations.
  GenerationReport Serve(int g);

  // Between generations: when the next generation learns, the population files of its half that
  // the run has written so far are read and their models judged on the current windows, so
  // that Serve finds that work done (files written after this are read by Serve). Returns the
  // number of files read. ReadAheadFd is readable when there is something to read ahead (-1
  // while there is nothing to do).
  int ReadAhead();
  int ReadAheadFd() const;
  // After the work for a generation: the forecasts that the next generation's work needs of the
  // library's and the population's models at the newest window position, which read only
  // positions known now (MapeScorer::BeginAhead). Returns the number of models done.
  int PrepareNext();
  // The time spent reading and preparing ahead since the last call.
  double TakeAheadMillis();

  const Simulation& Sim() const { return *sim_; }
  const LibraryEntries& Entries() const { return entries_; }
  std::string SignalFile(int g) const;

private:
  // The reading of a model text: its postfix items, its identity and its latest judgement.
  struct Reading {
    const std::string* Text = nullptr; // the key it is kept under
    bool Readable = true;              // false: not a model; it stays out of the library
    std::vector<TPostfixItem> Items;
    std::string Key;
    size_t KeyHash = 0;
    long LastServe = 0; // the work it was last judged in, with this error
    double Mape = 0;
    MapeScorer::Memo Memo;
  };

  void LoadEntries(int half);
  void WatchModelFolders();
  void TakeFileChanges();
  void ReadModelFile(int n, std::string& text);
  void ReadPopulation(int g);
  bool Learning(int g) const;
  Reading* ReadingOf(const std::string& text);
  void Judge(Reading& r);
  void RefreshEntries(GenerationReport& rep);
  void DropOldReadings();
  template <class Readings> int Forecast(const Readings& readings);
  void WriteHalf(int half);
  void WriteLibraryFile(int n, const std::string& text, long previousLength);
  void CloseFolders();
  void Forget(int& fd);
  void WriteMapeFile();

  std::unique_ptr<Simulation> sim_;
  LibraryEntries entries_;
  int servedGen_ = 0; // the generation whose library entries_ holds (0: none)
  // The text of each library model file as this program last wrote or read it, by model number.
  std::array<std::string, 2 * MaxTraders + 1> onDisk_;
  std::array<bool, 2 * MaxTraders + 1> known_{};
  // The readings of the model texts seen lately, by text. Nodes stay in place, so the pointers
  // below stay valid until a reading is dropped (DropOldReadings clears them first).
  std::unordered_map<std::string, Reading> readings_;
  std::array<Reading*, MaxTraders + 1> entryReading_{}; // of entries_[w]; null: not looked up
  long serves_ = 0;                                     // works done
  MapeScorer scorer_;
  long evaluationsReported_ = 0;
  // The readings of the population's models of generation populationGen_ (0: none read yet).
  std::array<Reading*, MaxTraders> population_{};
  int populationGen_ = 0;
  int preparedGen_ = 0;    // the last generation PrepareNext worked after
  double aheadMillis_ = 0; // time spent ahead, not yet reported
  std::vector<LibraryOffer> offers_;
  std::vector<Reading*> offerReadings_;
  // The ten model folders of Tree_Path1, opened once: the files are opened relative to them.
  std::array<int, 10> modelDirs_;
  // The ten library folders (Tree_Path2), and the length of the spare file in each (-1: not
  // known).
  std::array<int, 10> libraryDirs_;
  std::array<long, 10> spareLength_;
  // Open descriptors of the library's files by model number, and of the spare in each folder
  // (-1: not open), as many as the limit of open files leaves room for.
  std::array<int, 2 * MaxTraders + 1> fileFd_;
  std::array<int, 10> spareFd_;
  // The population's model files as last read or known, by model number. The run writes a
  // model file only when its model changed; the watch on the model folders (inotify) reports
  // every file written since, and only those are read again. Without the watch (-1) every file
  // is read each time.
  std::array<std::string, 2 * MaxTraders + 1> fileText_;
  std::array<bool, 2 * MaxTraders + 1> fileKnown_{};
  std::array<Reading*, 2 * MaxTraders + 1> fileReading_{}; // of fileText_[n]; null: not looked up
  int watchFd_ = -1;
  // Open descriptors of the population's model files by model number (-1: not open). The run
  // rewrites its files in place, so a descriptor reads a file's new text until the watch reports
  // that the name was given to another file (replaced, created, moved or removed); only with
  // the watch are they kept.
  std::array<int, 2 * MaxTraders + 1> modelFd_;
};

// The text of Mape.txt: one line per entry, the error value at the start of the line.
std::string MapeFileText(const LibraryEntries& entries);

} // namespace zupo
