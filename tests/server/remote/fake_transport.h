#pragma once

// Stands in for a console that cannot be reached from the tests: records what the
// client asked and answers what the test prepared.

#include "remote/http_transport.h"

class FakeTransport : public IHttpTransport {
public:
    TransportResult Exchange(const HttpTarget& target, const std::string& body, bool post,
        const CancelFlag* = nullptr) override
    {
        ++calls;
        lastTarget = target;
        lastBody = body;
        lastPost = post;
        return reply;
    }

    TransportResult reply { TransportFailure::None, 200, "" };
    int calls = 0;
    HttpTarget lastTarget;
    std::string lastBody;
    bool lastPost = false;
};
