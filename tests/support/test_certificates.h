#pragma once

// Certificates of the tests' own: a certificate authority and server certificates it
// signs for localhost and 127.0.0.1, made by the openssl tool in a folder of the test.
// Clients trust the authority (curl --cacert, a browser's NSS database), so the tests
// check real verification, never a switch that turns it off.

#include "support/test_support.h"

#include <string>

namespace vembatest {

class TestCertificates {
public:
    // Makes the authority in folder (which must exist); Ok() says whether it worked.
    explicit TestCertificates(std::string folder)
        : m_folder(std::move(folder))
    {
        m_ok = RunCommand("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes"
                          " -days 30 -subj '/CN=VembaCast Test CA' -keyout "
                + ShellQuote(CaKey()) + " -out " + ShellQuote(CaCertificate()),
            &m_log);
    }

    bool Ok() const { return m_ok; }
    const std::string& Log() const { return m_log; }
    std::string CaCertificate() const { return m_folder + "/ca.pem"; }

    struct Pair {
        std::string certificate;
        std::string key;
    };

    // A server certificate named name (its CN), signed by the authority, for localhost
    // and 127.0.0.1; empty paths when the tool failed.
    Pair MakeServer(const std::string& name)
    {
        Pair pair { m_folder + "/" + name + ".pem", m_folder + "/" + name + ".key" };
        std::string request = m_folder + "/" + name + ".csr";
        std::string extensions = m_folder + "/" + name + ".ext";
        bool made = RunCommand("printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\\n"
                               "basicConstraints=CA:FALSE\\nextendedKeyUsage=serverAuth\\n' > "
                            + ShellQuote(extensions),
                        &m_log)
            && RunCommand("openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "
                    + ShellQuote("/CN=" + name) + " -keyout " + ShellQuote(pair.key) + " -out "
                    + ShellQuote(request),
                &m_log)
            && RunCommand("openssl x509 -req -days 30 -CA " + ShellQuote(CaCertificate())
                    + " -CAkey " + ShellQuote(CaKey()) + " -set_serial "
                    + std::to_string(++m_serial) + " -in " + ShellQuote(request) + " -extfile "
                    + ShellQuote(extensions) + " -out " + ShellQuote(pair.certificate),
                &m_log);
        return made ? pair : Pair {};
    }

private:
    std::string CaKey() const { return m_folder + "/ca.key"; }

    std::string m_folder;
    std::string m_log;
    bool m_ok = false;
    int m_serial = 1000;
};

} // namespace vembatest
