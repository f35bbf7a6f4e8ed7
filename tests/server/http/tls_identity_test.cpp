// The HTTPS port's certificate and settings: what a start refuses, and why. (A reload
// is shown on the real daemon, daemon_https_test.cpp.)

#include "config/settings_store.h"
#include "http/https_port.h"
#include "http/tls_identity.h"
#include "server/platform/temp_folder.h"
#include "support/port_holder.h"
#include "support/test_certificates.h"
#include "support/test_server.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class TlsIdentityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_authority.Ok()) << m_authority.Log();
        m_first = m_authority.MakeServer("first");
        m_second = m_authority.MakeServer("second");
        ASSERT_FALSE(m_first.key.empty()) << m_authority.Log();
        ASSERT_FALSE(m_second.key.empty()) << m_authority.Log();
    }

    std::string Loaded(const TlsFiles& files)
    {
        std::string error;
        std::shared_ptr<const TlsIdentity> identity = LoadTlsIdentity(files, error);
        return identity ? "ok: " + DescribeTlsIdentity(*identity) : error;
    }

    vembatest::TempFolder m_folder { "vembatls" };
    vembatest::TestCertificates m_authority { m_folder.Path() };
    vembatest::TestCertificates::Pair m_first;
    vembatest::TestCertificates::Pair m_second;
};

TEST_F(TlsIdentityTest, ACertificateAndItsKeyLoadAndEveryFaultIsNamedWithTheFile)
{
    EXPECT_EQ(
        Loaded({ m_first.certificate, m_first.key }).rfind("ok: /CN=first, valid until ", 0), 0u);

    std::string missing = m_folder.Path() + "/missing.key";
    EXPECT_EQ(Loaded({ m_first.certificate, missing }),
        "the key " + missing + " cannot be read: No such file or directory");
    EXPECT_EQ(Loaded({ m_first.certificate, "" }), "no key file is set");
    EXPECT_EQ(Loaded({ m_first.certificate, m_second.key }),
        "the key " + m_second.key + " does not belong to the certificate " + m_first.certificate);

    std::string garbage = m_folder.Path() + "/garbage.pem";
    WriteFileText(garbage, "not a certificate\n");
    EXPECT_EQ(
        Loaded({ garbage, m_first.key }).rfind("the certificate " + garbage + " holds no PEM", 0),
        0u);
    // A certificate where the key belongs is no key either.
    EXPECT_EQ(Loaded({ m_first.certificate, m_first.certificate })
                  .rfind("the key " + m_first.certificate + " holds no unencrypted PEM", 0),
        0u);

    // A key with a pass phrase cannot be used unattended: no phrase is ever asked for.
    std::string locked = m_folder.Path() + "/locked.key";
    ASSERT_TRUE(vembatest::RunCommand("openssl pkey -aes256 -passout pass:secret -in "
        + vembatest::ShellQuote(m_first.key) + " -out " + vembatest::ShellQuote(locked)));
    EXPECT_EQ(
        Loaded({ m_first.certificate, locked }).rfind("the key " + locked + " holds no", 0), 0u);
}

TEST_F(TlsIdentityTest, TheHttpsSettingsAreCheckedBeforeTheStart)
{
    SettingsStore settings(m_folder.Path());
    auto prepare = [&](std::string& error) {
        std::shared_ptr<HttpsPort> https;
        bool ready = HttpsPort::Prepare(*settings.Current(), 47002, https, error);
        return std::make_pair(ready, https);
    };
    std::string error;
    auto [off, none] = prepare(error);
    EXPECT_TRUE(off);
    EXPECT_EQ(none, nullptr) << "no TlsPort: no HTTPS";

    vembatest::PortHolder taken;
    settings.WriteTexts({ { kKeyTlsCert, m_first.certificate }, { kKeyTlsKey, m_first.key },
        { kKeyTlsPort, std::to_string(taken.Port()) } });
    EXPECT_FALSE(prepare(error).first);
    EXPECT_EQ(error, "the HTTPS port " + std::to_string(taken.Port()) + " is taken");

    settings.WriteText(kKeyTlsPort, "47002");
    EXPECT_FALSE(prepare(error).first);
    EXPECT_EQ(error, "the HTTPS port 47002 is the plain HTTP port as well");
    settings.WriteText(kKeyTlsPort, "70000");
    EXPECT_FALSE(prepare(error).first);

    int free = vembatest::FreeTestPort();
    settings.WriteTexts({ { kKeyTlsPort, std::to_string(free) }, { kKeyTlsKey, "" } });
    EXPECT_FALSE(prepare(error).first) << "HTTPS asked for without a key must not start";
    EXPECT_EQ(error, "no key file is set");

    settings.WriteText(kKeyTlsKey, m_first.key);
    auto [ready, https] = prepare(error);
    ASSERT_TRUE(ready) << error;
    ASSERT_NE(https, nullptr);
    EXPECT_EQ(https->ListeningEntry(), std::to_string(free) + "s");
}

} // namespace
