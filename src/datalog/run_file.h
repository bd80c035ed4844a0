#pragma once
// The run file: plain text, one line per grid row, header row first, cells joined by one tab,
// lines ended by CR LF. When read, empty lines and lines that begin with ";" are skipped
// anywhere, each data cell loses its blanks and gets the reader's decimal separator for "," and
// ".", and at most kMaxRunRows data lines are kept. The same tab-delimited text goes to the
// clipboard; a run can also be written as CSV for spreadsheets.
#include "datalog/log_run.h"
#include "platform/parsed.h"

#include <string>
#include <string_view>

namespace kv {

inline constexpr int kMaxRunRows = 10000;
// Far more columns than any run can log (the widest has fewer than 60).
inline constexpr int kMaxRunColumns = 256;

struct LoadedRunFile {
    LogRun run;
    // A further data line followed the kMaxRunRows-th; it and the rest were not read.
    bool truncated = false;
};

// Reads a run file's text. `decimalSeparator` is the user's ("." or ","). Fails with
// RunFileEmptyMessage() when no header line comes before the end, with RunTooWideMessage() when
// the header has more than kMaxRunColumns columns.
Parsed<LoadedRunFile> ParseRunFile(std::string_view text, char decimalSeparator = '.');
// Reads a run file; a file that cannot be read fails with RunLoadErrorMessage().
Parsed<LoadedRunFile> LoadRunFile(const std::string& path, char decimalSeparator = '.');

// The tab-delimited text of grid rows `firstRow`..`lastRow` and columns `firstColumn`..`lastColumn`
// (grid row 0 is the header row, so sample row r is grid row r + 1), each row ended by CR LF.
// The bounds are clamped to the run.
std::string RunBlockText(const LogRun& run, int firstRow, int lastRow, int firstColumn, int lastColumn);
// Every row, header row first, as the run file and the clipboard hold it.
std::string RunText(const LogRun& run);

// Writes the run file in one step through a temporary file beside `path`; the file that was
// there stays when anything fails. Empty on success, else why it failed.
std::string SaveRunFile(const std::string& path, const LogRun& run);

// CSV (RFC 4180): the headers as the first record, fields holding a comma, a quote, CR or LF in
// quotes with quotes doubled, CR LF record ends, numbers with a decimal point.
std::string RunCsvText(const LogRun& run);

std::string RunFileEmptyMessage();
// A header line of more than kMaxRunColumns columns.
std::string RunTooWideMessage();
std::string RunLoadErrorMessage();
std::string RunSaveErrorMessage();
std::string RunTruncatedMessage();

} // namespace kv
