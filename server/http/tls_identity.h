#pragma once

// The certificate that the HTTPS port presents: a certificate with its chain and the
// private key that belongs to it, read from PEM files and checked before use. The
// store holds the one in use and swaps it whole when the files are read again (at
// SIGHUP), so a renewed certificate needs no restart: each new TLS connection picks the
// identity current at its handshake, and nothing else of the server is touched.
//
// Threads: Load runs on the thread that asks for it (the server start, the daemon's
// signal handling) and reads the files with no lock held; the library's workers call
// the handshake hook, which copies the current identity under m_lock and sets it on
// the connection after letting go.

#include <memory>
#include <mutex>
#include <string>

struct TlsFiles {
    std::string certificate; // PEM: the certificate, then any intermediate certificates
    std::string key; // PEM: the private key, unencrypted
};

class TlsIdentity;

// Reads and checks the files; null with a sentence naming the file and the reason in
// error when they cannot be read, hold no certificate or key, or do not belong together.
std::shared_ptr<const TlsIdentity> LoadTlsIdentity(const TlsFiles& files, std::string& error);

// The certificate's subject and expiry, for the log ("CN=example.net, until ...").
std::string DescribeTlsIdentity(const TlsIdentity& identity);

class TlsIdentityStore {
public:
    explicit TlsIdentityStore(TlsFiles files);

    // Reads the files; on failure the identity in use (if any) stays, and error says why.
    bool Load(std::string& error);
    std::shared_ptr<const TlsIdentity> Current() const;
    const TlsFiles& Files() const { return m_files; }

    // Makes an OpenSSL server context (SSL_CTX*) serve TLS 1.2 and 1.3 only, with the
    // intermediate cipher list, no compression, renegotiation or session tickets, and
    // this store's identity chosen at each handshake. The store must outlive the
    // context. False with a reason when OpenSSL refuses a setting.
    bool ConfigureServerContext(void* sslContext, std::string& error);

private:
    const TlsFiles m_files;
    mutable std::mutex m_lock;
    std::shared_ptr<const TlsIdentity> m_current; // guarded by m_lock
};

// The TLS 1.2 ciphers offered: forward secrecy and AEAD only, in the order of the
// current "intermediate" recommendation. TLS 1.3 keeps OpenSSL's three suites.
inline constexpr const char* kTlsCipherList
    = "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
      "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
      "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
      "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:DHE-RSA-CHACHA20-POLY1305";
