// libssl.so for CivetWeb: OpenSSL 3's libssl (a dependency, where every other name
// is found) and the one entry point of OpenSSL 1.1 that CivetWeb still asks for.

#include <openssl/ssl.h>

#undef SSL_get_peer_certificate
X509* SSL_get_peer_certificate(const SSL* connection);

X509* SSL_get_peer_certificate(const SSL* connection)
{
    return SSL_get1_peer_certificate(connection);
}
