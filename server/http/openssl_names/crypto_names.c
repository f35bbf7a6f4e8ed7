// libcrypto.so for CivetWeb: OpenSSL 3's libcrypto as a dependency, where every name
// CivetWeb looks up is found. Nothing of its own.

int vembacast_crypto_names_marker(void);

int vembacast_crypto_names_marker(void)
{
    return 3;
}
