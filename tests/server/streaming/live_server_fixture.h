#pragma once

// Helpers of the live-streaming tests over the loopback server: test media made
// once and shared between test programs.

#include "live_test_support.h"
#include "support/loopback_server.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// Test media shared by all tests, made once on first use in a folder of the
// temporary folder that is kept between runs.
const std::string& SharedMediaFolder();
// Makes name in the shared media folder with make(path) unless it is there already.
bool EnsureSharedMedia(const std::string& name, bool (*make)(const std::string&));

// Copies (hard-links where possible) a shared media file into the server's share.
bool PutMedia(
    const LoopbackServer& server, const std::string& sharedName, const std::string& asName);
