#pragma once

// One-time list files: a listing or a conversion list is not sent inside its
// answer but written to a list file ("fil" + hex + ".tmp") in the services folder;
// the answer carries its URL, and the client fetches it once through "/xml/",
// which deletes it.

#include <string>

class HttpRequest;
class LibraryContext;

// Writes document (UTF-8, no byte-order mark) to a list file. When name is empty a
// new list file is created and its bare name returned in name; a given name must
// be a list file name and is used in the services folder. False (and name empty)
// when the file cannot be made or written; nothing is left behind then.
//
// Who asked for a list file: the requester's address, under which the book counts
// unfetched files, and, when the server checks its password, the client id that alone
// may fetch it.
struct ListFileOwner {
    std::string client;
    std::string id;
};

// The owner of a list file made for request.
ListFileOwner ListFileOwnerOf(LibraryContext& server, const HttpRequest& request);

// A new file is entered in the book of unfetched list files under its owner: files
// expire unfetched after 5 minutes, a client keeps at most 16 (its oldest goes) and the
// server 1,000 (a new one is refused).
bool MakeAndGetXmlFile(LibraryContext& server, const std::string& document, std::string& name,
    const ListFileOwner& owner = ListFileOwner());

// The handler of "/xml/" (request_handlers.h) serves the list file that the URI names exactly
// once and deletes it. Any other name is not found, and so is a second fetch (a missing file is
// no fault of the server's) and, when the server checks its password, a fetch without the id
// that asked for the file. HEAD shows the headers and keeps the file.

// Deletes the list files ("fil" + hex + ".tmp") nobody fetched from the services
// folder and empties the book (server start and stop).
void RemoveLeftoverListFiles(LibraryContext& server);
