#pragma once

// The server as its conversions see it: the layer of the server object that owns the
// conversion queue with its worker, and the record the subtitle overlay of the last
// asked-for job or session is read from (see enginectl/engine_context.h for how the
// layers of the server object stack).

#include "conversion/convert_queue.h"
#include "conversion/subtitle_record_cache.h"
#include "streaming/streaming_context.h"

class ConversionContext : public StreamingContext {
public:
    // The queue's worker starts with the server object.
    explicit ConversionContext(ServerParts parts, ConvertQueueTiming timing = {});
    ~ConversionContext() override;

    CConvertQueue& ConvertQueue() { return m_convertQueue; }
    SubtitleRecordCache& SubtitleRecords() { return m_subtitleRecords; }

private:
    SubtitleRecordCache m_subtitleRecords;
    CConvertQueue m_convertQueue; // last: its worker ends before the rest goes
};
