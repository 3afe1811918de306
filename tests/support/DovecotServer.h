#pragma once
// A private Dovecot IMAP server on 127.0.0.1 for one test: configuration,
// users file, self-signed certificate and mail all live in a fresh temporary
// folder; the server listens on two free ports (STARTTLS and TLS from the
// first byte), is stopped in the destructor, and can be stopped and started
// again in the middle of a test. Mail is delivered straight into the user's
// Maildir; the Maildir file names show the flags the server keeps.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

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

  static bool Installed();
  // Why a test that needs the server cannot run: "/usr/sbin/dovecot is not installed".
  static std::string NotInstalled() { return std::string(kProgram) + " is not installed"; }

  explicit DovecotServer(DovecotOptions options = {});
  ~DovecotServer();
  DovecotServer(const DovecotServer&) = delete;
  DovecotServer& operator=(const DovecotServer&) = delete;

  int starttls_port() const { return imap_port_; }
  int tls_port() const { return imaps_port_; }
  // The server's self-signed certificate, to trust as a CA file.
  std::filesystem::path certificate() const { return dir_ / "ssl/cert.pem"; }
  std::filesystem::path maildir() const { return dir_ / "home/tester/Maildir"; }
  const std::filesystem::path& folder() const { return dir_.path(); }

  void Start();
  // Stops the server and every client process; open connections drop.
  void Stop();

  // Delivers a message; returns the unique part of its file name. Without
  // flags it goes into new/ (a fresh, unread message).
  std::string Deliver(const std::string& bytes, const std::string& flags = "");
  // The current file of the message keyed `unique`; empty when it is gone.
  std::filesystem::path Find(const std::string& unique) const;
  // Removes the message's file, as another client's expunge would.
  void Expunge(const std::string& unique) const;
  // The flags the server keeps for the message ("" when none or gone).
  std::string Flags(const std::string& unique) const;

  std::string Log() const;
  // Waits until the log holds `text`; false after `limit`.
  bool WaitForLog(const std::string& text,
                  std::chrono::milliseconds limit = std::chrono::seconds(20)) const;

 private:
  std::string Config() const { return (dir_ / "dovecot.conf").string(); }
  // Processes of this instance, found by the instance name in their titles.
  std::vector<int> InstanceProcesses() const;
  std::string InstanceName() const { return "qmtest" + std::to_string(imap_port_); }
  int MasterPid() const;
  // Two free ports, below the range the kernel hands out for port 0.
  void PickFreePorts();
  void WaitForPorts() const;
  void MakeCertificate() const;
  void WriteConfiguration() const;
  void ChownHome() const;

  DovecotOptions options_;
  TempDir dir_;
  int imap_port_ = 0;
  int imaps_port_ = 0;
  int serial_ = 0;
  bool running_ = false;
};

}  // namespace qm::testing
