#pragma once

// "/list/ID/NAME": the playlists of a live stream. Fetching a variant playlist
// (re)starts the session's engine for that variant from the beginning.

#include <string>

// Called for every playlist a client fetches, before the file is sent. The master
// playlist starts nothing; a variant playlist stops the session's engine and starts
// one for its variant, unless the session has no playlist yet or the client has
// already fetched the last segment.
class StreamingContext;
void QZ_StartClient(StreamingContext& server, const std::string& clientId, const std::string& uri);
