#pragma once

// A small HTTP service of its own, apart from the web server: every request it gets
// goes to one handler as (method, path, form body, requester's address), and the
// handler's text is answered as text/xml. The console service runs on it, embedded
// on a loopback port or standalone.
//
// Threads: the library runs the service's own master thread and a few workers; the
// handler is called on a worker and must be safe to call concurrently.

#include <functional>
#include <memory>
#include <optional>
#include <string>

struct FormRequest {
    std::string method;
    std::string path; // the cleaned local URI
    std::string body; // the request body (form fields), at most 64 KB
    std::string remoteAddress;
    std::string forwardedFor; // the X-Forwarded-For header, empty without one
};

// The answer text, or nullopt for 404.
using FormHandler = std::function<std::optional<std::string>(const FormRequest&)>;

class CFormService {
public:
    CFormService();
    ~CFormService(); // stops the service
    CFormService(const CFormService&) = delete;
    CFormService& operator=(const CFormService&) = delete;

    // Listens on address:port (port 0 picks a free one); false when it cannot.
    bool Start(const std::string& address, int port, FormHandler handler);
    void Stop();
    bool IsRunning() const;
    int Port() const; // the port it listens on, 0 when stopped

private:
    struct State;
    std::unique_ptr<State> m_state;
};
