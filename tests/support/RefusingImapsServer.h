#pragma once
// An IMAP server over TLS on 127.0.0.1 for one test, on a thread of its own,
// stopped in the destructor. It signs anyone on, then refuses every command
// but LOGOUT with the words the test chose, sent byte for byte, as a hostile
// server would. Its self-signed certificate is to be trusted as a CA file.
// Connections are served one after the other; each ends after a few seconds
// of silence.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <cctype>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "tests/support/Subprocess.h"
#include "tests/support/TcpRelay.h"
#include "tests/support/TempDir.h"

namespace qm::testing {

class RefusingImapsServer {
 public:
  explicit RefusingImapsServer(std::string refusal) : refusal_(std::move(refusal)) {
    MakeCertificate();
    context_.reset(SSL_CTX_new(TLS_server_method()));
    if (!context_ ||
        SSL_CTX_use_certificate_file(context_.get(), certificate().c_str(), SSL_FILETYPE_PEM) !=
            1 ||
        SSL_CTX_use_PrivateKey_file(context_.get(), (dir_ / "key.pem").c_str(), SSL_FILETYPE_PEM) !=
            1) {
      throw std::runtime_error("the server's TLS cannot be set up");
    }
    Listen();
    thread_ = std::thread([this] { Serve(); });
  }
  ~RefusingImapsServer() {
    stopping_ = true;
    thread_.join();
  }
  RefusingImapsServer(const RefusingImapsServer&) = delete;
  RefusingImapsServer& operator=(const RefusingImapsServer&) = delete;

  int port() const { return port_; }
  std::filesystem::path certificate() const { return dir_ / "cert.pem"; }

 private:
  struct ContextFree {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
  };
  struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
  };
  using Ssl = std::unique_ptr<SSL, SslFree>;

  void MakeCertificate() const {
    const ProgramResult r =
        RunProgram("/usr/bin/openssl",
                   {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-days", "3650", "-subj", "/CN=localhost", "-addext",
                    "subjectAltName=DNS:localhost,IP:127.0.0.1", "-keyout",
                    (dir_ / "key.pem").string(), "-out", certificate().string()},
                   {{"PATH", "/usr/bin:/bin"}});
    if (r.exit_code != 0) throw std::runtime_error("openssl req failed: " + r.err);
  }

  void Listen() {
    listener_ = OwnedFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!listener_.valid() ||
        ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_.get(), 4) != 0 ||
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("the server cannot listen");
    }
    port_ = ntohs(address.sin_port);
  }

  void Serve() {
    while (!stopping_) {
      pollfd ready{listener_.get(), POLLIN, 0};
      if (::poll(&ready, 1, 100) <= 0) continue;
      const OwnedFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (client.valid()) Converse(client.get());
    }
  }

  void Converse(int fd) {
    const timeval silence{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &silence, sizeof silence);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &silence, sizeof silence);
    const Ssl ssl(SSL_new(context_.get()));
    if (!ssl || SSL_set_fd(ssl.get(), fd) != 1 || SSL_accept(ssl.get()) != 1) return;
    const std::string capabilities = "IMAP4rev1 SASL-IR AUTH=PLAIN";
    Send(ssl.get(), "* OK [CAPABILITY " + capabilities + "] ready\r\n");
    for (std::string line; !stopping_ && ReadLine(ssl.get(), line);) {
      const std::size_t space = line.find(' ');
      const std::string tag = line.substr(0, space);
      std::string command = space == std::string::npos ? "" : line.substr(space + 1);
      command = command.substr(0, command.find(' '));
      for (char& c : command) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (command == "CAPABILITY") {
        Send(ssl.get(), "* CAPABILITY " + capabilities + "\r\n" + tag + " OK done\r\n");
      } else if (command == "AUTHENTICATE" || command == "LOGIN") {
        Send(ssl.get(), tag + " OK signed on\r\n");
      } else if (command == "LOGOUT") {
        Send(ssl.get(), "* BYE\r\n" + tag + " OK done\r\n");
        return;
      } else {
        Send(ssl.get(), tag + " NO " + refusal_ + "\r\n");
      }
    }
  }

  static void Send(SSL* ssl, const std::string& bytes) {
    SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size()));
  }

  // One line without its line break; false at the end or after a long one.
  static bool ReadLine(SSL* ssl, std::string& line) {
    line.clear();
    for (char c; SSL_read(ssl, &c, 1) == 1;) {
      if (c == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
      }
      line += c;
      if (line.size() > 64 * 1024) return false;
    }
    return false;
  }

  std::string refusal_;
  TempDir dir_;
  std::unique_ptr<SSL_CTX, ContextFree> context_;
  OwnedFd listener_;
  int port_ = 0;
  std::atomic<bool> stopping_ = false;
  std::thread thread_;
};

}  // namespace qm::testing
