#pragma once
// Run-slot seam: what a recording asks of the open data-logging runs. At most kMaxRuns runs are
// open at once; each has a stable id from its allocation until it is released. The run set of
// the data-logging tab implements it; tests use a recording fake.
#include <string>
#include <string_view>
#include <vector>

namespace kv {

inline constexpr int kMaxRuns = 10;

class RunSlots {
public:
    virtual ~RunSlots() = default;
    // Opens a new, empty run captioned "Run " N "*" (N counts every run created since start),
    // selects it and returns its id; -1 when kMaxRuns runs are open.
    virtual int AllocateRun() = 0;
    // Closes run `id` without a question (a failed preparation or an empty run).
    virtual void ReleaseRun(int id) = 0;
    // Brings the tab strip and the run buttons up to date.
    virtual void RefreshRunTabs() = 0;
    // The column titles of run `id` (its header row).
    virtual void SetRunHeaders(int id, std::vector<std::string> headers) = 0;
    // Appends one row of cell texts to run `id` (missing cells are empty, extra ones dropped) and
    // marks it modified.
    virtual void AppendRunRow(int id, const std::vector<std::string>& cells) = 0;
    // Number of sample rows (header row excluded) of run `id`.
    virtual int RunRowCount(int id) const = 0;
};

// The refusal when kMaxRuns runs are open and a recording would start.
std::string MaxRunsRecordMessage();
// The refusal when kMaxRuns runs are open and a run would be loaded from disk.
std::string MaxRunsLoadMessage();

} // namespace kv
