#pragma once

// Answers of the browser's JSON API ("/api/v1/..."), beside the phone's property
// lists: a status line that says what happened (200, or 400 for a malformed request,
// 404 for what is not there, 409 for a limit), a body with its length, and an entity
// tag made from the body, so a client that asks again with "If-None-Match" gets 304
// while nothing changed. HEAD gets the same headers without the body. Errors carry
// {"error": {"status": N, "message": "..."}}.

#include <cstdint>
#include <string>
#include <string_view>

class HttpRequest;

inline constexpr const char* kJsonContentType = "application/json; charset=utf-8";

// 200 with body (or 304 when the client's copy is current).
void WriteApiAnswer(
    HttpRequest& request, std::string_view body, std::string_view contentType = kJsonContentType);

// 202: the work asked for has begun; the client asks again after retryAfterSeconds
// ("Retry-After"). No tag: the answer says nothing about the thing asked for.
void WriteApiPending(HttpRequest& request, std::string_view body, int retryAfterSeconds);

// An error status with its JSON message.
void WriteApiError(HttpRequest& request, int status, std::string_view message);

// The entity tag of a body: a quoted hash of its bytes.
std::string ApiEntityTag(std::string_view body);

// A 64-bit hash of bytes (FNV-1a): tags and cache names, nothing that needs secrecy.
uint64_t ContentHash(std::string_view bytes);
