#pragma once

// What "/play" decided for a session's stream, fixed until the next "/play": for a
// browser, its variants and the segments they are cut into; for every client, the
// file's key frames when they are indexed, so each engine start (a seek above all)
// goes straight to the key frame before its start without probing the file.

#include "library/keyframe_index.h"
#include "streaming/browser_variants.h"
#include "streaming/segment_plan.h"

#include <memory>
#include <vector>

struct StreamPlan {
    enum class Client { Phone, Browser };
    Client client = Client::Phone;
    SegmentPlan segments; // a browser's; the phone's are the 5 s grid
    std::vector<BrowserVariant> variants; // a browser's, best first
    int startVariant = 0; // the variant a browser starts with
    std::shared_ptr<const MediaKeyframeIndex> index; // null while not indexed

    bool IsBrowser() const { return client == Client::Browser; }
    // The browser variant numbered variant, or null.
    const BrowserVariant* Variant(int variant) const
    {
        for (const BrowserVariant& offered : variants) {
            if (offered.number == variant)
                return &offered;
        }
        return nullptr;
    }
};
