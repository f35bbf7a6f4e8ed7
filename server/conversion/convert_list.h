#pragma once

// The job list clients fetch: finished jobs (complete or failed) and open ones
// (waiting or converting), in queue order; jobs to be removed appear in neither.

#include "conversion/convert_queue.h"

#include <string>
#include <vector>

class TextTable;

// The whole property-list document of the jobs; texts gives the word for a failed job.
std::string MakeConvertListDocument(const TextTable& texts, const std::vector<ConvertJobPtr>& jobs);
