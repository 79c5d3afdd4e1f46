#pragma once
// The list of a batch run: a folder of programming files, or a CSV file with one customer a
// line (see docs/batch-list.md), and the run itself, one unit after another.

#include <QDateTime>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "UnitSession.h"

namespace vardelio {

struct TBatchItem {
  QString name;      // how the operator knows it: the file's name, or "línea N"
  std::string file;  // the programming file, as bytes; empty for a line of a CSV list
  TPanelProgramming values;
};

// The items in order (a folder's files by name), or the first thing wrong with the list,
// naming the item and its first bad field: a list is taken whole or not at all.
struct TBatchList {
  std::vector<TBatchItem> items;
  QString fault;
};
TBatchList ReadBatchList(const std::string& path);
// A CSV list's text; `name` is how a fault names the list.
TBatchList ParseBatchCsv(const std::string& text);

// One item's end in a run.
enum class TBatchState { pending, verified, failed, skipped };
struct TBatchResult {
  TBatchState state = TBatchState::pending;
  QString message;  // the outcome as the operator was told it
  QDateTime time;
  int attempts = 0;
};

// Where a run stands: the item that is next, and each item's result so far.
class TBatchRun {
 public:
  explicit TBatchRun(std::vector<TBatchItem> items);

  const std::vector<TBatchItem>& Items() const { return items_; }
  const std::vector<TBatchResult>& Results() const { return results_; }
  // The item to connect next; nullopt once the run is over.
  std::optional<std::size_t> Next() const;
  bool Over() const { return !Next(); }

  // The current item was sent and verified (or not); a failure stays current until Retry or
  // Skip.
  void Record(const TSessionResult& result);
  bool CurrentFailed() const;
  void Skip();
  // Ends the run: what has not been done is skipped.
  void Stop();

  // "5 equipos: 4 verificados, 1 con falla, 0 salteados."
  QString Summary() const;
  bool AllVerified() const;

 private:
  std::vector<TBatchItem> items_;
  std::vector<TBatchResult> results_;
  std::size_t current_ = 0;
  bool failedCurrent_ = false;
};

QString BatchStateCaption(TBatchState state);

}  // namespace vardelio
