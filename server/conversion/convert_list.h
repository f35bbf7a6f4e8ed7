#pragma once

// The job list clients fetch: finished jobs (complete or failed) and open ones
// (waiting or converting), in queue order; jobs to be removed appear in neither.

#include "conversion/convert_queue.h"

#include <string>
#include <vector>

// The whole property-list document of the jobs.
std::string MakeConvertListDocument(const std::vector<ConvertJobPtr>& jobs);

// The queue as its messages give it (0x80D4, 0x80D5); empty when no queue runs.
std::vector<ConvertJobPtr> ReadConvertQueue();
