#pragma once

// The server as its live streaming sees it: the layer of the server object that owns
// the client sessions, the ENC session list, the watcher of live engines, the work
// folders, the bounds of segment waits, the fonts and overlay of burnt-in
// subtitles, and the audio and subtitle tracks of videos (see enginectl/engine_context.h for how
// the layers of the server object stack).

#include "library/library_context.h"
#include "streaming/font_file.h"
#include "streaming/media_tracks.h"
#include "streaming/running_engines.h"
#include "streaming/seek_previews.h"
#include "streaming/segments.h"
#include "streaming/session_list.h"
#include "streaming/session_watcher.h"
#include "streaming/subtitle_overlay.h"
#include "streaming/work_folders.h"

#include <mutex>

class StreamingContext : public LibraryContext {
public:
    explicit StreamingContext(ServerParts parts);
    ~StreamingContext() override;

    SessionList& Sessions() { return m_sessions; }
    EncSessionList& EncSessions() { return m_encSessions; }
    SessionWatcher& Watcher() { return m_watcher; }
    WorkFolderBook& WorkFolders() { return m_workFolders; }
    FontFiles& Fonts() { return m_fonts; }
    CSubtitleOverlayer& Overlayer() { return m_overlayer; }
    MediaTrackBook& Tracks() { return m_tracks; }
    SeekPreviews& Previews() { return m_previews; }

    // The bounds of segment waits; tests shorten them, requests read them when they
    // start.
    SegmentServingLimits SegmentLimits() const;
    void SetSegmentServingLimits(const SegmentServingLimits& limits);
    // The clock of segment waits: the limits' own, else the server's.
    Clock& WaitClockOf(const SegmentServingLimits& limits) const
    {
        return limits.clock ? *limits.clock : Time();
    }

private:
    EncSessionList m_encSessions;
    WorkFolderBook m_workFolders;
    FontFiles m_fonts;
    CSubtitleOverlayer m_overlayer;
    MediaTrackBook m_tracks;
    SeekPreviews m_previews;
    mutable std::mutex m_limitsLock;
    SegmentServingLimits m_limits; // guarded by m_limitsLock
    SessionWatcher m_watcher;
    SessionList m_sessions; // last: released before what the sessions use goes
};
