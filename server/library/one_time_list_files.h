#pragma once

// One-time list files: a listing or a conversion list is not sent inside its
// answer but written to a list file ("fil" + hex + ".tmp") in the services folder;
// the answer carries its URL, and the client fetches it once through "/xml/",
// which deletes it.

#include <string>

class HttpRequest;

// Writes document (UTF-8, no byte-order mark) to a list file. When name is empty a
// new list file is created and its bare name returned in name; a given name must
// be a list file name and is used in the services folder. False (and name empty)
// when the file cannot be made or written; nothing is left behind then.
bool MakeAndGetXmlFile(const std::string& document, std::string& name);

// The handler of "/xml/" (request_handlers.h) serves the list file that the URI names exactly once
// and deletes it. Any other name is not found; a second fetch finds nothing (500, as for a file
// that cannot be opened). HEAD shows the headers and keeps the file.

// Deletes the list files ("fil" + hex + ".tmp") nobody fetched from the services
// folder (server stop).
void RemoveLeftoverListFiles();
