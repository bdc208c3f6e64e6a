// `zelk-release report`: the stored analytics records as a table, one row per record in arrival
// order, then a summary per step.
#pragma once

#include <ostream>
#include <vector>

#include "record_store.h"

// Date (the record's own "date", else the receive time), installation, step (without "class "),
// final state, result ("-" for a step that never started), duration in seconds; then per step:
// records, failures (a result other than "succeeded") and the median duration. Texts from the
// records are printed with control characters replaced, so a record cannot steer the terminal.
void PrintReport(const std::vector<StoredRecord>& records, std::ostream& out);
