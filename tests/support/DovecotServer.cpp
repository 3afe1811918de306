#include "tests/support/DovecotServer.h"

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/LoopbackSocket.h"
#include "tests/support/Subprocess.h"
#include "tests/support/WaitForChange.h"

namespace qm::testing {
namespace {

namespace fs = std::filesystem;

void Run(const std::vector<std::string>& command, const std::string& hint = "") {
  const ProgramResult r =
      RunProgram(command[0], {command.begin() + 1, command.end()},
                 {{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}}, std::chrono::seconds(30));
  if (r.exit_code != 0) {
    throw std::runtime_error(command.back() + " failed: " + r.err + r.out + hint);
  }
}

bool Accepts(int port) { return ConnectToLoopback(port).valid(); }

}  // namespace

bool DovecotServer::Installed() { return fs::exists(kProgram); }

DovecotServer::DovecotServer(DovecotOptions options) : options_(std::move(options)) {
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

DovecotServer::~DovecotServer() {
  try {
    Stop();
  } catch (...) {
  }
}

void DovecotServer::Start() {
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

void DovecotServer::Stop() {
  if (!running_) return;
  running_ = false;
  const int pid = MasterPid();
  Run({"/bin/sh", "-c",
       "exec /usr/bin/doveadm -c '" + Config() + "' stop </dev/null >/dev/null 2>&1"});
  if (pid > 0) WaitForProcessEnd(pid, std::chrono::seconds(10));
  // Login processes that proxy TLS and mail processes may outlive the
  // master for a while; a stopped server drops every connection now.
  for (const int child : InstanceProcesses()) ::kill(child, SIGKILL);
}

std::string DovecotServer::Deliver(const std::string& bytes, const std::string& flags) {
  const std::string base = std::to_string(1700000000 + serial_) + ".M" + std::to_string(serial_) +
                           "P" + std::to_string(::getpid()) + ".testhost";
  ++serial_;
  const fs::path file =
      flags.empty() ? maildir() / "new" / base : maildir() / "cur" / (base + ":2," + flags);
  std::ofstream(file, std::ios::binary) << bytes;
  if (::chown(file.c_str(), kMailUid, kMailUid) != 0) throw std::runtime_error("chown failed");
  return base;
}

fs::path DovecotServer::Find(const std::string& unique) const {
  for (const char* sub : {"cur", "new"}) {
    for (const auto& entry : fs::directory_iterator(maildir() / sub)) {
      const std::string name = entry.path().filename().string();
      if (name == unique || name.rfind(unique + ":", 0) == 0) return entry.path();
    }
  }
  return {};
}

void DovecotServer::Expunge(const std::string& unique) const { fs::remove(Find(unique)); }

std::string DovecotServer::Flags(const std::string& unique) const {
  const std::string name = Find(unique).filename().string();
  const auto at = name.find(":2,");
  return at == std::string::npos ? std::string() : name.substr(at + 3);
}

std::string DovecotServer::Log() const {
  std::ifstream in(dir_ / "dovecot.log", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool DovecotServer::WaitForLog(const std::string& text, std::chrono::milliseconds limit) const {
  return WaitForChange(
      dir_.path(), [&] { return Log().find(text) != std::string::npos; }, limit);
}

std::vector<int> DovecotServer::InstanceProcesses() const {
  std::vector<int> pids;
  const std::string title = "dovecot-" + InstanceName() + "/";
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "cmdline", std::ios::binary);
    std::string cmdline;
    std::getline(in, cmdline, '\0');
    if (cmdline.rfind(title, 0) == 0) pids.push_back(std::stoi(name));
  }
  return pids;
}

int DovecotServer::MasterPid() const {
  std::ifstream in(dir_ / "run/master.pid");
  int pid = 0;
  in >> pid;
  return pid;
}

// A stopped server's ports must still be free when it starts again. The
// kernel hands out ports for a bind to port 0 (every other test server and
// relay) from its local port range, so the ports are chosen below it: only
// another server of this kind could take one, and it checks first. Both are
// held bound together so that they differ.
void DovecotServer::PickFreePorts() {
  int lowest_ephemeral = 32768;
  std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> lowest_ephemeral;
  constexpr int kLowest = 10000;
  if (lowest_ephemeral - kLowest < 1000) {
    UniqueFd first = ListenOnLoopback(imap_port_);
    UniqueFd second = ListenOnLoopback(imaps_port_);
    return;
  }
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> ports(kLowest, lowest_ephemeral - 1);
  std::vector<UniqueFd> held;
  for (int* port : {&imap_port_, &imaps_port_}) {
    for (int attempt = 0;; ++attempt) {
      if (attempt == 1000) {
        throw std::runtime_error("no free port below " + std::to_string(lowest_ephemeral));
      }
      *port = ports(random);
      UniqueFd bound(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
      const sockaddr_in address = LoopbackAddress(*port);
      if (bound.valid() &&
          ::bind(bound.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        held.push_back(std::move(bound));
        break;
      }
    }
  }
}

// Nothing tells when the detached server has opened its ports: a connection
// is tried, 20 ms apart, until one is taken or ten seconds pass.
void DovecotServer::WaitForPorts() const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Accepts(imap_port_) || (options_.tls && !Accepts(imaps_port_))) {
    if (std::chrono::steady_clock::now() > deadline) {
      throw std::runtime_error("dovecot did not open its ports: " + Log());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void DovecotServer::MakeCertificate() const {
  Run({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
       "ec_paramgen_curve:prime256v1", "-nodes", "-days", "3650", "-subj",
       "/CN=" + options_.cert_common_name, "-addext", "subjectAltName=" + options_.cert_names,
       "-keyout", (dir_ / "ssl/key.pem").string(), "-out", certificate().string()});
}

void DovecotServer::WriteConfiguration() const {
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
    conf << "ssl = yes\nssl_cert = <" << d << "/ssl/cert.pem\nssl_key = <" << d << "/ssl/key.pem\n";
  } else {
    conf << "ssl = no\n";
  }
  if (options_.compress) {
    conf << "mail_plugins = $mail_plugins zlib\n"
         << "protocol imap {\n  mail_plugins = $mail_plugins imap_zlib\n}\n";
  }
}

void DovecotServer::ChownHome() const {
  const fs::path home = dir_ / "home";
  if (::chown(home.c_str(), kMailUid, kMailUid) != 0) throw std::runtime_error("chown failed");
  for (const auto& entry : fs::recursive_directory_iterator(home)) {
    if (::chown(entry.path().c_str(), kMailUid, kMailUid) != 0) {
      throw std::runtime_error("chown failed");
    }
  }
}

}  // namespace qm::testing
