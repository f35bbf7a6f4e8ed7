#pragma once

// The desktop side of the server's conversion queue: the window reads the jobs, adds
// dropped files, cancels and clears through the queue's own methods, the same way the
// request handlers do; the queue and its worker stay in the server.

#include "conversion/convert_queue.h"

#include <functional>
#include <string>
#include <vector>

class ConversionContext;

// A job as the window draws it, copied from the queue at one moment.
struct ConversionRow {
    std::string convertId;
    std::string sourcePath;
    std::string outputPath; // the final name
    int progress = 0; // 0 to 100
    int state = kConvertWaiting;
};

// The queue's jobs in order.
std::vector<ConversionRow> ReadConversionRows(const CConvertQueue& queue);

// Queues a file of this computer by its own path (no share involved); false when it
// is not a readable regular file or the queue takes no more jobs (it has stopped).
bool QueueLocalFile(ConversionContext& server, const std::string& path);

// Marks a job to be removed (the worker stops its engine and deletes its file).
void CancelConversion(CConvertQueue& queue, const std::string& convertId);

// Marks every complete job to be removed.
void RemoveCompletedConversions(CConvertQueue& queue);

// The output name of a dropped file: "<folder>/<base>-vembacast.m4v", or with " (2)",
// " (3)" ... before the extension while that name exists or taken(name) says so.
std::string ConversionOutputPath(
    const std::string& source, const std::function<bool(const std::string&)>& taken);
