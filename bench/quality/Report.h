#pragma once

// The quality table as text (one table per group, a target line over each case's rows) and as
// JSON with the same figures.
#include "Cases.h"

#include <cstdio>
#include <string>
#include <vector>

namespace sigquality {

void PrintGroup(std::FILE* out, const std::string& group, const std::vector<Case>& cases,
                const std::vector<Row>& rows);

// {"quick": ..., "cases": [{"name", "group", "inRate", "outRate", "targets": {key: text},
//   "rows": [{"subject", "note", "figures": {key: number or null},
//   "bounds": {key: text of a figure that is a bound, "> 0.995"}, "meets": {key: bool}}]}]}
bool WriteJson(const std::string& path, const std::vector<Case>& cases,
               const std::vector<Row>& rows, const Settings& settings, std::string& error);

} // namespace sigquality
