#pragma once

// The direct-play table: files that a phone may play as they are get a number, and
// the client fetches them under "/playdirect/file-<number>.m4v" instead of by path.
// Numbers count from 1 in the order paths are first asked for and are never reused;
// a path keeps its number for the life of the process. Handlers on many threads
// ask at once, so the table is read and changed under one lock, and two first
// requests for one path get one number.

#include <string>

// The path's number, giving it the next one when it has none yet.
unsigned GetDirectPlayNumber(const std::string& filePath);

// The path stored under number, or empty text when no path has it.
std::string FindDirectPlayPath(unsigned number);

// "http://<host>:<external port>/playdirect/file-<number>.m4v".
std::string MakeDirectPlayUrl(const std::string& host, const std::string& filePath);

// The file path of a "/playdirect/" URI, or empty text for an unknown number.
std::string ResolveDirectPlayUri(const std::string& uri);
