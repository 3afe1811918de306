#pragma once
// A private Dovecot IMAP server on 127.0.0.1 for one test: configuration,
// users file, self-signed certificate and mail all live in a fresh temporary
// folder; the server listens on two free ports (STARTTLS and TLS from the
// first byte), is stopped in the destructor, and can be stopped and started
// again in the middle of a test. Mail is delivered straight into the user's
// Maildir; the Maildir file names show the flags the server keeps.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

namespace qm::testing {

struct DovecotOptions {
  // Names in the certificate's subjectAltName.
  std::string cert_names = "DNS:localhost,IP:127.0.0.1";
  std::string cert_common_name = "localhost";
  // Without TLS the server offers no STARTTLS and has no TLS port.
  bool tls = true;
  // COMPRESS=DEFLATE, through Dovecot's imap_zlib plugin.
  bool compress = false;
  // Bearer tokens: the SASL mechanisms ("xoauth2", "oauthbearer" or both)
  // that an oauth2 passdb checks by asking `introspection_url` (RFC 7662,
  // POST); empty: passwords only.
  std::string oauth2_mechanisms{};
  std::string introspection_url{};
  // The auth process logs every request, with its mechanism and whether it
  // brought an initial response (secrets hidden).
  bool auth_debug = false;
};

class DovecotServer {
 public:
  static constexpr char kProgram[] = "/usr/sbin/dovecot";
  static constexpr char kUser[] = "tester";
  static constexpr char kPassword[] = "secret";
  static constexpr int kMailUid = 65534;  // mail processes run as nobody

  static bool Installed() { return std::filesystem::exists(kProgram); }

  explicit DovecotServer(DovecotOptions options = {}) : options_(std::move(options)) {
    namespace fs = std::filesystem;
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
    for (const char* sub : {"run", "ssl", "home/tester/Maildir/cur", "home/tester/Maildir/new",
                            "home/tester/Maildir/tmp"}) {
      fs::create_directories(dir_ / sub);
    }
    PickFreePorts();
    if (options_.tls) MakeCertificate();
    WriteConfiguration();
    ChownHome();
    Start();
  }
  ~DovecotServer() {
    try {
      Stop();
    } catch (...) {
    }
  }
  DovecotServer(const DovecotServer&) = delete;
  DovecotServer& operator=(const DovecotServer&) = delete;

  int starttls_port() const { return imap_port_; }
  int tls_port() const { return imaps_port_; }
  // The server's self-signed certificate, to trust as a CA file.
  std::filesystem::path certificate() const { return dir_ / "ssl/cert.pem"; }
  std::filesystem::path maildir() const { return dir_ / "home/tester/Maildir"; }
  const std::filesystem::path& folder() const { return dir_.path(); }

  void Start() {
    if (running_) return;
    // The server detaches; its own output goes to a file so that no pipe of
    // ours stays open in the daemon.
    const std::string out = (dir_ / "start.out").string();
    Run({"/bin/sh", "-c",
         std::string("exec ") + kProgram + " -c '" + Config() + "' </dev/null >'" + out + "' 2>&1"},
        "see " + out);
    running_ = true;
    WaitForPorts();
  }

  // Stops the server and every client process; open connections drop.
  void Stop() {
    if (!running_) return;
    running_ = false;
    const int pid = MasterPid();
    Run({"/bin/sh", "-c",
         "exec /usr/bin/doveadm -c '" + Config() + "' stop </dev/null >/dev/null 2>&1"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pid > 0 && Alive(pid) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Login processes that proxy TLS and mail processes may outlive the
    // master for a while; a stopped server drops every connection now.
    for (const int child : InstanceProcesses()) ::kill(child, SIGKILL);
  }

  // Delivers a message; returns the unique part of its file name. Without
  // flags it goes into new/ (a fresh, unread message).
  std::string Deliver(const std::string& bytes, const std::string& flags = "") {
    const std::string base = std::to_string(1700000000 + serial_) + ".M" + std::to_string(serial_) +
                             "P" + std::to_string(::getpid()) + ".testhost";
    ++serial_;
    const std::filesystem::path file =
        flags.empty() ? maildir() / "new" / base : maildir() / "cur" / (base + ":2," + flags);
    std::ofstream(file, std::ios::binary) << bytes;
    if (::chown(file.c_str(), kMailUid, kMailUid) != 0) throw std::runtime_error("chown failed");
    return base;
  }

  // The current file of the message keyed `unique`; empty when it is gone.
  std::filesystem::path Find(const std::string& unique) const {
    for (const char* sub : {"cur", "new"}) {
      for (const auto& entry : std::filesystem::directory_iterator(maildir() / sub)) {
        const std::string name = entry.path().filename().string();
        if (name == unique || name.rfind(unique + ":", 0) == 0) return entry.path();
      }
    }
    return {};
  }

  // Removes the message's file, as another client's expunge would.
  void Expunge(const std::string& unique) const { std::filesystem::remove(Find(unique)); }

  // The flags the server keeps for the message ("" when none or gone).
  std::string Flags(const std::string& unique) const {
    const std::string name = Find(unique).filename().string();
    const auto at = name.find(":2,");
    return at == std::string::npos ? std::string() : name.substr(at + 3);
  }

  std::string Log() const {
    std::ifstream in(dir_ / "dovecot.log", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Waits until the log holds `text`; false after `limit`.
  bool WaitForLog(const std::string& text,
                  std::chrono::milliseconds limit = std::chrono::seconds(20)) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Log().find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

 private:
  std::string Config() const { return (dir_ / "dovecot.conf").string(); }

  static void Run(const std::vector<std::string>& command, const std::string& hint = "") {
    const ProgramResult r =
        RunProgram(command[0], {command.begin() + 1, command.end()},
                   {{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}}, std::chrono::seconds(30));
    if (r.exit_code != 0) {
      throw std::runtime_error(command.back() + " failed: " + r.err + r.out + hint);
    }
  }

  // Processes of this instance, found by the instance name in their titles.
  std::vector<int> InstanceProcesses() const {
    std::vector<int> pids;
    const std::string title = "dovecot-" + InstanceName() + "/";
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      const std::string name = entry.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::ifstream in(entry.path() / "cmdline", std::ios::binary);
      std::string cmdline;
      std::getline(in, cmdline, '\0');
      if (cmdline.rfind(title, 0) == 0) pids.push_back(std::stoi(name));
    }
    return pids;
  }

  std::string InstanceName() const { return "qmtest" + std::to_string(imap_port_); }

  // Running, and not just waiting to be reaped by its parent.
  static bool Alive(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string id, name, state;
    return static_cast<bool>(in >> id >> name >> state) && state != "Z";
  }

  int MasterPid() const {
    std::ifstream in(dir_ / "run/master.pid");
    int pid = 0;
    in >> pid;
    return pid;
  }

  // Two ports the kernel calls free, held open together so they differ.
  void PickFreePorts() {
    int sockets[2];
    int ports[2];
    for (int i = 0; i < 2; ++i) {
      sockets[i] = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t length = sizeof address;
      if (::bind(sockets[i], reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
          ::getsockname(sockets[i], reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("no free port");
      }
      ports[i] = ntohs(address.sin_port);
    }
    for (int s : sockets) ::close(s);
    imap_port_ = ports[0];
    imaps_port_ = ports[1];
  }

  static bool Accepts(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(s);
    return ok;
  }

  void WaitForPorts() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Accepts(imap_port_) || (options_.tls && !Accepts(imaps_port_))) {
      if (std::chrono::steady_clock::now() > deadline) {
        throw std::runtime_error("dovecot did not open its ports: " + Log());
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  void MakeCertificate() const {
    Run({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
         "ec_paramgen_curve:prime256v1", "-nodes", "-days", "3650", "-subj",
         "/CN=" + options_.cert_common_name, "-addext", "subjectAltName=" + options_.cert_names,
         "-keyout", (dir_ / "ssl/key.pem").string(), "-out", certificate().string()});
  }

  void WriteConfiguration() const {
    const std::string d = dir_.path().string();
    std::ofstream(dir_ / "users") << kUser << ":{PLAIN}" << kPassword << ":" << kMailUid << ":"
                                  << kMailUid << "::" << d << "/home/tester\n";
    std::ofstream conf(Config());
    conf << "base_dir = " << d << "/run\nstate_dir = " << d << "/run/state\n"
         << "instance_name = " << InstanceName() << "\nprotocols = imap\n"
         << "listen = 127.0.0.1\nlog_path = " << d << "/dovecot.log\n"
         << "auth_verbose = yes\nauth_failure_delay = 0\ndisable_plaintext_auth = no\n"
         << "auth_mechanisms = plain login " << options_.oauth2_mechanisms << "\n"
         << "auth_debug = " << (options_.auth_debug ? "yes" : "no") << "\n"
         << "first_valid_uid = 1\nmail_location = maildir:~/Maildir\n";
    if (!options_.oauth2_mechanisms.empty()) {
      std::ofstream(dir_ / "oauth2.conf.ext")
          << "introspection_mode = post\nintrospection_url = " << options_.introspection_url
          << "\nusername_attribute = username\nactive_attribute = active\n"
          << "active_value = true\n";
      conf << "passdb {\n  driver = oauth2\n  mechanisms = " << options_.oauth2_mechanisms
           << "\n  args = " << d << "/oauth2.conf.ext\n}\n";
    }
    conf << "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN " << d << "/users\n}\n"
         << "userdb {\n  driver = passwd-file\n  args = " << d << "/users\n}\n"
         << "service anvil {\n  chroot =\n}\n"
         << "service imap-login {\n  inet_listener imap {\n    address = 127.0.0.1\n"
         << "    port = " << imap_port_ << "\n  }\n  inet_listener imaps {\n"
         << "    address = 127.0.0.1\n    port = " << (options_.tls ? imaps_port_ : 0)
         << "\n    ssl = yes\n  }\n}\n";
    if (options_.tls) {
      conf << "ssl = yes\nssl_cert = <" << d << "/ssl/cert.pem\nssl_key = <" << d
           << "/ssl/key.pem\n";
    } else {
      conf << "ssl = no\n";
    }
    if (options_.compress) {
      conf << "mail_plugins = $mail_plugins zlib\n"
           << "protocol imap {\n  mail_plugins = $mail_plugins imap_zlib\n}\n";
    }
  }

  void ChownHome() const {
    namespace fs = std::filesystem;
    const fs::path home = dir_ / "home";
    if (::chown(home.c_str(), kMailUid, kMailUid) != 0) throw std::runtime_error("chown failed");
    for (const auto& entry : fs::recursive_directory_iterator(home)) {
      if (::chown(entry.path().c_str(), kMailUid, kMailUid) != 0) {
        throw std::runtime_error("chown failed");
      }
    }
  }

  DovecotOptions options_;
  TempDir dir_;
  int imap_port_ = 0;
  int imaps_port_ = 0;
  int serial_ = 0;
  bool running_ = false;
};

}  // namespace qm::testing
