#pragma once

// nginx (Debian's nginx-light) as an HTTP balancer of the test's own in front of
// console instances on loopback ports: it reuses connections to them and tells them
// the client's address in X-Forwarded-For.

#include "server/app/daemon_process.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

class NginxBalancer {
public:
    NginxBalancer(const std::string& root, int port, const std::vector<int>& backends)
    {
        std::filesystem::create_directories(root + "/logs");
        std::ofstream conf(root + "/nginx.conf");
        conf << (geteuid() == 0 ? "user root; " : "") << "worker_processes 1; pid " << root
             << "/nginx.pid; error_log " << root << "/logs/error.log;\n"
             << "events { worker_connections 4096; }\n"
             << "http { access_log off;\n upstream consoles { ";
        for (int backend : backends)
            conf << "server 127.0.0.1:" << backend << "; ";
        conf << "keepalive 64; keepalive_timeout 4s; }\n"
             << " server { listen 127.0.0.1:" << port << ";\n"
             << "  location / { proxy_pass http://consoles; proxy_http_version 1.1;\n"
             << "   proxy_set_header Connection \"\";\n"
             << "   proxy_set_header X-Forwarded-For $remote_addr; } } }\n";
        conf.close();
        m_process = std::make_unique<DaemonProcess>("/usr/sbin/nginx",
            std::vector<std::string> {
                "-p", root, "-c", root + "/nginx.conf", "-g", "daemon off;" },
            root, std::vector<std::string> {});
    }
    ~NginxBalancer()
    {
        m_process->Signal(SIGQUIT);
        m_process->WaitExit();
    }
    NginxBalancer(const NginxBalancer&) = delete;
    NginxBalancer& operator=(const NginxBalancer&) = delete;

    int Pid() const { return m_process->Pid(); }
    static bool Installed() { return std::filesystem::exists("/usr/sbin/nginx"); }

private:
    std::unique_ptr<DaemonProcess> m_process;
};
