// The HTTPS port of the real daemon through real TLS clients: curl with the test's own
// authority trusted fetches the page and a range of a download, openssl s_client shows
// which protocols and ciphers are taken, a certificate renewed on disk is presented
// after SIGHUP, and an unusable key stops the start.

#include "daemon_process.h"
#include "platform/adapters.h"
#include "support/http_client.h"
#include "support/test_certificates.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using vembatest::RunCommand;
using vembatest::ShellQuote;

namespace {

class DaemonHttpsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (ListAdapters().empty())
            GTEST_SKIP() << "no network adapter: the server cannot be set up here";
        fs::create_directories(m_media);
        fs::create_directories(m_out);
        ASSERT_TRUE(m_authority.Ok()) << m_authority.Log();
        m_first = m_authority.MakeServer("first");
        m_second = m_authority.MakeServer("second");
        ASSERT_FALSE(m_second.key.empty()) << m_authority.Log();
        fs::copy_file(m_first.certificate, m_certificate);
        fs::copy_file(m_first.key, m_key);
        std::string bytes;
        for (int i = 0; i < 5000; ++i)
            bytes += static_cast<char>(i * 7 % 251);
        WriteFileText(m_media + "/clip.bin", bytes);
    }

    std::unique_ptr<DaemonProcess> Start(std::vector<std::string> extra = {})
    {
        std::vector<std::string> arguments { "--data-dir", m_data, "--port", std::to_string(m_port),
            "--share", "Movies=" + m_media, "--tls-port", std::to_string(m_tlsPort), "--tls-cert",
            m_certificate, "--tls-key", m_key };
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return std::make_unique<DaemonProcess>(arguments, m_out);
    }

    // curl over HTTPS, verifying the server against the test's authority.
    std::string Curl(const std::string& options, const std::string& path)
    {
        std::string output;
        RunCommand("curl -sS --max-time 30 --cacert " + ShellQuote(m_authority.CaCertificate())
                + " " + options + " " + ShellQuote(Https(path)),
            &output);
        return output;
    }
    std::string Https(const std::string& path) const
    {
        return "https://localhost:" + std::to_string(m_tlsPort) + path;
    }

    // openssl s_client's report of one handshake with the options given.
    std::string Handshake(const std::string& options)
    {
        std::string output;
        RunCommand("openssl s_client -connect 127.0.0.1:" + std::to_string(m_tlsPort)
                + " -servername localhost -CAfile " + ShellQuote(m_authority.CaCertificate()) + " "
                + options + " </dev/null",
            &output);
        return output;
    }
    static bool Accepted(const std::string& report)
    {
        return report.find("Verify return code: 0 (ok)") != std::string::npos
            && report.find("Cipher is (NONE)") == std::string::npos;
    }

    TempFolder m_root;
    std::string m_data = m_root / "data";
    std::string m_media = m_root / "media";
    std::string m_out = m_root / "out";
    std::string m_certificate = m_root / "live.pem";
    std::string m_key = m_root / "live.key";
    vembatest::TestCertificates m_authority { m_root.path() };
    vembatest::TestCertificates::Pair m_first;
    vembatest::TestCertificates::Pair m_second;
    int m_port = PickFreePort();
    int m_tlsPort = PickFreePort();
};

TEST_F(DaemonHttpsTest, ThePageAndRangesOverHttpsBesideThePlainPort)
{
    auto daemon = Start();
    ASSERT_TRUE(daemon->WaitForOutput("HTTPS on port " + std::to_string(m_tlsPort)))
        << daemon->Out() << daemon->Err();
    EXPECT_NE(daemon->Out().find("open https://127.0.0.1:" + std::to_string(m_tlsPort) + "/"),
        std::string::npos);

    std::string page = Curl("-i", "/");
    EXPECT_EQ(page.rfind("HTTP/1.1 200 OK", 0), 0u) << page;
    EXPECT_NE(page.find("<title>VembaCast</title>"), std::string::npos);
    EXPECT_EQ(page.find("Strict-Transport-Security"), std::string::npos)
        << "HSTS only when the user asks for it";

    std::string part = Curl("-r 1000-1099 -o " + ShellQuote(m_root / "part") + " -w '%{http_code}'",
        "/file_download/Movies/clip.bin");
    EXPECT_EQ(part, "206");
    EXPECT_EQ(ReadFileText(m_root / "part"), ReadFileText(m_media + "/clip.bin").substr(1000, 100));

    // The phone's plain port is untouched.
    EXPECT_EQ(HttpGetRaw(m_port, "/index.html").status, 200);
    daemon->Signal(SIGTERM);
    EXPECT_EQ(daemon->WaitExit(), 0);
}

TEST_F(DaemonHttpsTest, OnlyTls12And13WithForwardSecretCiphers)
{
    auto daemon = Start();
    ASSERT_TRUE(daemon->WaitForOutput("HTTPS on port")) << daemon->Err();
    // The client offers the old protocols for real (its own defaults would refuse them).
    EXPECT_FALSE(Accepted(Handshake("-tls1 -cipher DEFAULT@SECLEVEL=0")));
    EXPECT_FALSE(Accepted(Handshake("-tls1_1 -cipher DEFAULT@SECLEVEL=0")));
    EXPECT_FALSE(Accepted(Handshake("-tls1_2 -cipher AES128-SHA")))
        << "a cipher without forward secrecy";
    std::string modern = Handshake("-tls1_2");
    EXPECT_TRUE(Accepted(modern)) << modern;
    EXPECT_NE(modern.find("ECDHE-"), std::string::npos) << modern;
    EXPECT_TRUE(Accepted(Handshake("-tls1_3")));
    daemon->Signal(SIGTERM);
    EXPECT_EQ(daemon->WaitExit(), 0);
}

TEST_F(DaemonHttpsTest, ARenewedCertificateIsPresentedAfterSighupAndAHalfRenewalIsRefused)
{
    auto daemon = Start();
    ASSERT_TRUE(daemon->WaitForOutput("HTTPS on port")) << daemon->Err();
    EXPECT_NE(Handshake("").find("subject=CN = first"), std::string::npos);

    // The new certificate without its key: the one in use stays.
    fs::copy_file(m_second.certificate, m_certificate, fs::copy_options::overwrite_existing);
    daemon->Signal(SIGHUP);
    ASSERT_TRUE(daemon->WaitForError("HTTPS certificate not read again (the one in use stays): "
                                     "the key "
        + m_key + " does not belong"))
        << daemon->Err();
    EXPECT_NE(Handshake("").find("subject=CN = first"), std::string::npos);

    fs::copy_file(m_second.key, m_key, fs::copy_options::overwrite_existing);
    daemon->Signal(SIGHUP);
    ASSERT_TRUE(daemon->WaitForOutput("HTTPS certificate read again: /CN=second")) << daemon->Out();
    std::string report = Handshake("");
    EXPECT_NE(report.find("subject=CN = second"), std::string::npos) << report;
    EXPECT_TRUE(Accepted(report));
    EXPECT_EQ(HttpGetRaw(m_port, "/index.html").status, 200);
    daemon->Signal(SIGTERM);
    EXPECT_EQ(daemon->WaitExit(), 0);
}

TEST_F(DaemonHttpsTest, HstsWhenAskedFor)
{
    auto daemon = Start({ "--hsts", "600" });
    ASSERT_TRUE(daemon->WaitForOutput("HTTPS on port")) << daemon->Err();
    EXPECT_NE(Curl("-I", "/").find("Strict-Transport-Security: max-age=600"), std::string::npos);
    daemon->Signal(SIGTERM);
    EXPECT_EQ(daemon->WaitExit(), 0);
}

TEST_F(DaemonHttpsTest, AnUnusableKeyStopsTheStartInsteadOfServingPlainHttpAlone)
{
    fs::remove(m_key);
    auto daemon = Start();
    EXPECT_EQ(daemon->WaitExit(), 1);
    EXPECT_NE(daemon->Err().find("HTTPS cannot start, so the server does not start (code 9): "
                                 "the key "
                  + m_key + " cannot be read: No such file or directory"),
        std::string::npos)
        << daemon->Err();
    EXPECT_FALSE(HttpGetRaw(m_port, "/index.html").connected);

    fs::copy_file(m_second.key, m_key);
    auto mismatched = Start();
    EXPECT_EQ(mismatched->WaitExit(), 1);
    EXPECT_NE(mismatched->Err().find("does not belong to the certificate " + m_certificate),
        std::string::npos)
        << mismatched->Err();
}

} // namespace
