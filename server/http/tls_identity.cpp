#include "http/tls_identity.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ChainFree {
    void operator()(STACK_OF(X509) * chain) const { sk_X509_pop_free(chain, X509_free); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;
using CertificatePtr = std::unique_ptr<X509, X509Free>;
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using ChainPtr = std::unique_ptr<STACK_OF(X509), ChainFree>;

// OpenSSL's reason for the last failure on this thread; the queue is left empty.
std::string OpenSslReason()
{
    unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    if (code == 0)
        return "no reason given";
    char text[256];
    ERR_error_string_n(code, text, sizeof(text));
    return text;
}

bool OpenFile(const std::string& path, const char* what, FilePtr& file, std::string& error)
{
    if (path.empty()) {
        error = std::string("no ") + what + " file is set";
        return false;
    }
    file.reset(std::fopen(path.c_str(), "re"));
    if (!file) {
        error
            = std::string("the ") + what + " " + path + " cannot be read: " + std::strerror(errno);
        return false;
    }
    return true;
}

// A key with a pass phrase cannot be used unattended: no phrase is ever given.
int NoPassPhrase(char*, int, int, void*)
{
    return 0;
}

} // namespace

class TlsIdentity {
public:
    CertificatePtr certificate;
    ChainPtr chain;
    KeyPtr key;
};

std::shared_ptr<const TlsIdentity> LoadTlsIdentity(const TlsFiles& files, std::string& error)
{
    ERR_clear_error();
    FilePtr certificateFile;
    FilePtr keyFile;
    if (!OpenFile(files.certificate, "certificate", certificateFile, error)
        || !OpenFile(files.key, "key", keyFile, error))
        return nullptr;
    auto identity = std::make_shared<TlsIdentity>();
    identity->certificate.reset(
        PEM_read_X509(certificateFile.get(), nullptr, NoPassPhrase, nullptr));
    if (!identity->certificate) {
        error = "the certificate " + files.certificate
            + " holds no PEM certificate: " + OpenSslReason();
        return nullptr;
    }
    identity->chain.reset(sk_X509_new_null());
    while (X509* next = PEM_read_X509(certificateFile.get(), nullptr, NoPassPhrase, nullptr))
        sk_X509_push(identity->chain.get(), next);
    ERR_clear_error(); // the end of the file ends the chain
    identity->key.reset(PEM_read_PrivateKey(keyFile.get(), nullptr, NoPassPhrase, nullptr));
    if (!identity->key) {
        error
            = "the key " + files.key + " holds no unencrypted PEM private key: " + OpenSslReason();
        return nullptr;
    }
    if (X509_check_private_key(identity->certificate.get(), identity->key.get()) != 1) {
        error = "the key " + files.key + " does not belong to the certificate " + files.certificate;
        ERR_clear_error();
        return nullptr;
    }
    return identity;
}

std::string DescribeTlsIdentity(const TlsIdentity& identity)
{
    char subject[256] = "";
    X509_NAME_oneline(X509_get_subject_name(identity.certificate.get()), subject, sizeof(subject));
    std::string text = subject;
    tm until {};
    if (ASN1_TIME_to_tm(X509_get0_notAfter(identity.certificate.get()), &until) == 1) {
        char date[32];
        std::strftime(date, sizeof(date), "%Y-%m-%d %H:%M UTC", &until);
        text += std::string(", valid until ") + date;
    }
    return text;
}

TlsIdentityStore::TlsIdentityStore(TlsFiles files)
    : m_files(std::move(files))
{
}

bool TlsIdentityStore::Load(std::string& error)
{
    std::shared_ptr<const TlsIdentity> identity = LoadTlsIdentity(m_files, error);
    if (!identity)
        return false;
    std::lock_guard lock(m_lock);
    m_current = std::move(identity);
    return true;
}

std::shared_ptr<const TlsIdentity> TlsIdentityStore::Current() const
{
    std::lock_guard lock(m_lock);
    return m_current;
}

namespace {

// Called by OpenSSL at each handshake, after the client's hello: the connection gets
// the identity current at this moment. 0 fails the handshake.
int ChooseIdentity(SSL* connection, void* argument)
{
    auto* store = static_cast<TlsIdentityStore*>(argument);
    std::shared_ptr<const TlsIdentity> identity = store->Current();
    if (!identity)
        return 0;
    return SSL_use_cert_and_key(connection, identity->certificate.get(), identity->key.get(),
               identity->chain.get(), 1)
        == 1;
}

} // namespace

bool TlsIdentityStore::ConfigureServerContext(void* sslContext, std::string& error)
{
    auto* context = static_cast<SSL_CTX*>(sslContext);
    static const unsigned char kSessionContext[] = "vembacast";
    bool configured = SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) == 1
        && SSL_CTX_set_cipher_list(context, kTlsCipherList) == 1
        && SSL_CTX_set_dh_auto(context, 1) == 1
        && SSL_CTX_set_session_id_context(context, kSessionContext, sizeof(kSessionContext) - 1)
            == 1;
    if (!configured) {
        error = "OpenSSL refused the TLS settings: " + OpenSslReason();
        return false;
    }
    // The client's preference among strong ciphers (it knows whether it has AES
    // hardware); no tickets, whose keys would live as long as the process.
    SSL_CTX_clear_options(context, SSL_OP_CIPHER_SERVER_PREFERENCE);
    SSL_CTX_set_options(context,
        SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_TICKET | SSL_OP_NO_SSLv3
            | SSL_OP_NO_TLSv1 | SSL_OP_NO_TLSv1_1);
    SSL_CTX_set_cert_cb(context, ChooseIdentity, this);
    return true;
}
