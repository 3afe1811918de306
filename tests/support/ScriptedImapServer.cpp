#include "tests/support/ScriptedImapServer.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>

#include <stdexcept>

#include "tests/support/LoopbackSocket.h"
#include "tests/support/Subprocess.h"

namespace qm::testing {
namespace {

struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// Message i has UID i + 1 and that number.
std::string Fetched(std::size_t i, const std::string& item, const std::string& bytes) {
  const std::string number = std::to_string(i + 1);
  return "* " + number + " FETCH (UID " + number + " FLAGS () " + item + " {" +
         std::to_string(bytes.size()) + "}\r\n" + bytes + ")\r\n";
}

bool ReadLine(SSL* ssl, std::string& pending, std::string& line) {
  for (std::size_t end; (end = pending.find("\r\n")) == std::string::npos;) {
    char chunk[4096];
    const int got = SSL_read(ssl, chunk, sizeof chunk);
    if (got <= 0) return false;
    pending.append(chunk, static_cast<std::size_t>(got));
  }
  const std::size_t end = pending.find("\r\n");
  line = pending.substr(0, end);
  pending.erase(0, end + 2);
  return true;
}

void Send(SSL* ssl, const std::string& bytes) {
  for (std::size_t sent = 0; sent < bytes.size();) {
    const int wrote = SSL_write(ssl, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
    if (wrote <= 0) return;
    sent += static_cast<std::size_t>(wrote);
  }
}

}  // namespace

void ScriptedImapServer::ContextFree::operator()(SSL_CTX* context) const { SSL_CTX_free(context); }

ScriptedImapServer::ScriptedImapServer(std::uint64_t claimed, std::vector<ScriptedMessage> messages,
                                       std::string refusal)
    : claimed_(claimed), messages_(std::move(messages)), refusal_(std::move(refusal)) {
  MakeCertificate();
  context_.reset(SSL_CTX_new(TLS_server_method()));
  if (!context_ || SSL_CTX_use_certificate_chain_file(context_.get(), certificate().c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(context_.get(), (dir_ / "key.pem").c_str(), SSL_FILETYPE_PEM) !=
          1) {
    throw std::runtime_error("the scripted IMAP server has no certificate");
  }
  listener_ = ListenOnLoopback(port_, 4);
  thread_ = std::thread([this] { Serve(); });
}

ScriptedImapServer::~ScriptedImapServer() {
  stopping_ = true;
  thread_.join();
}

std::string ScriptedImapServer::StoreValue() const {
  return "imaps://tester@127.0.0.1:" + std::to_string(port_) + "/INBOX";
}

void ScriptedImapServer::MakeCertificate() const {
  const ProgramResult made = RunProgram(
      "/usr/bin/openssl",
      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
       "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
       (dir_ / "key.pem").string(), "-out", certificate().string()},
      {{"PATH", "/usr/bin:/bin"}});
  if (made.exit_code != 0) throw std::runtime_error("openssl req failed: " + made.err);
}

void ScriptedImapServer::Serve() {
  while (!stopping_) {
    pollfd ready{listener_.get(), POLLIN, 0};
    if (::poll(&ready, 1, 50) <= 0) continue;
    UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client.valid()) continue;
    const timeval patience{5, 0};
    ::setsockopt(client.get(), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    std::unique_ptr<SSL, SslFree> ssl(SSL_new(context_.get()));
    SSL_set_fd(ssl.get(), client.get());
    if (SSL_accept(ssl.get()) == 1) Session(ssl.get());
    ERR_clear_error();
  }
}

void ScriptedImapServer::Session(SSL* ssl) {
  std::string pending;
  Send(ssl, "* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] scripted\r\n");
  for (std::string line; ReadLine(ssl, pending, line) && !stopping_;) {
    if (!Answer(ssl, pending, line)) return;
  }
}

bool ScriptedImapServer::Answer(SSL* ssl, std::string& pending, const std::string& line) {
  const std::string tag = line.substr(0, line.find(' '));
  const std::string command = line.substr(tag.size() + 1);
  const std::string ok = tag + " OK done\r\n";
  if (command == "CAPABILITY") {
    Send(ssl, "* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\n" + ok);
  } else if (command.starts_with("AUTHENTICATE PLAIN ") || command.starts_with("LOGIN ")) {
    Send(ssl, ok);  // the credentials came with the command
  } else if (command == "AUTHENTICATE PLAIN") {
    std::string credentials;
    Send(ssl, "+ \r\n");
    if (!ReadLine(ssl, pending, credentials)) return false;
    Send(ssl, ok);
  } else if (command == "LOGOUT") {
    Send(ssl, "* BYE\r\n" + ok);
    return false;
  } else if (!refusal_.empty()) {
    Send(ssl, tag + " NO " + refusal_ + "\r\n");
  } else if (command.starts_with("COMPRESS")) {
    Send(ssl, tag + " NO not here\r\n");
  } else if (command.starts_with("SELECT")) {
    Send(ssl, "* " + std::to_string(claimed_) + " EXISTS\r\n* OK [UIDVALIDITY 1] ok\r\n" + tag +
                  " OK [READ-WRITE] selected\r\n");
  } else if (command.starts_with("UID FETCH 1:*")) {
    for (std::size_t i = 0; i < messages_.size(); ++i) {
      Send(ssl, Fetched(i, "BODY[HEADER.FIELDS (SUBJECT FROM)]", messages_[i].header_block));
    }
    Send(ssl, ok);
  } else if (command.starts_with("UID FETCH ")) {
    const std::size_t uid = std::stoul(command.substr(10));
    if (uid >= 1 && uid <= messages_.size()) {
      Send(ssl, Fetched(uid - 1, "BODY[]", messages_[uid - 1].bytes));
    }
    Send(ssl, ok);
  } else {
    Send(ssl, ok);
  }
  return true;
}

}  // namespace qm::testing
