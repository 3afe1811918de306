#include "tests/support/GraphTestServer.h"

#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <thread>

#include "tests/support/FileBytes.h"

extern char** environ;

namespace qm::testing {
namespace {

using Json = nlohmann::json;

// The script beside this file in the source tree, named by the build.
constexpr char kScript[] = QM_GRAPH_TEST_SERVER_SCRIPT;
constexpr auto kStartLimit = std::chrono::seconds(30);
constexpr auto kAnswerLimit = std::chrono::seconds(10);
constexpr auto kEndLimit = std::chrono::seconds(3);

std::vector<std::string> Arguments(const GraphServerOptions& options, const std::string& dir) {
  std::vector<std::string> args = {"python3", kScript, "--dir", dir};
  if (options.generate > 0) {
    args.insert(args.end(), {"--generate", std::to_string(options.generate)});
  } else {
    args.push_back(options.maildir.string());
  }
  for (const auto& [address, folder] : options.shared) {
    args.insert(args.end(), {"--shared", address + "=" + folder.string()});
  }
  if (!options.introspection_url.empty()) {
    args.insert(args.end(), {"--introspect", options.introspection_url});
  }
  return args;
}

// Waits for the child to end by itself for `limit`; kills it after that.
void Reap(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

GraphTestServer::GraphTestServer(GraphServerOptions options) {
  Spawn(Arguments(options, (dir_ / "tls").string()));
  const std::string first = ReadLine(kStartLimit);
  if (!first.starts_with("PORT ")) {
    throw std::runtime_error("the Graph test server did not start: " + first);
  }
  port_ = std::stoi(first.substr(5));
}

GraphTestServer::~GraphTestServer() {
  // The server reads its commands until its stdin closes, and then ends.
  ::shutdown(to_server_.get(), SHUT_WR);
  to_server_.Reset();
  from_server_.Reset();
  Reap(pid_, kEndLimit);
}

// One socket pair serves as the child's stdin and stdout: writes to it never
// raise SIGPIPE (MSG_NOSIGNAL), should the child have died.
void GraphTestServer::Spawn(const std::vector<std::string>& args) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    throw std::runtime_error("socketpair failed");
  }
  UniqueFd ours(ends[0]);
  UniqueFd theirs(ends[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, theirs.get(), 0);
  posix_spawn_file_actions_adddup2(&actions, theirs.get(), 1);
  std::vector<std::string> text = args;
  std::vector<char*> argv;
  for (std::string& a : text) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int spawned = ::posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start python3 for the Graph test server");
  from_server_.Reset(::dup(ours.get()));
  to_server_ = std::move(ours);
}

std::string GraphTestServer::ReadLine(std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::size_t end;
  while ((end = pending_.find('\n')) == std::string::npos) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ready{from_server_.get(), POLLIN, 0};
    const int polled = left.count() > 0 ? ::poll(&ready, 1, static_cast<int>(left.count())) : 0;
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) throw std::runtime_error("the Graph test server does not answer");
    char buffer[4096];
    const ssize_t got = ::read(from_server_.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw std::runtime_error("the Graph test server ended: " + pending_);
    pending_.append(buffer, static_cast<std::size_t>(got));
  }
  std::string line = pending_.substr(0, end);
  pending_.erase(0, end + 1);
  return line;
}

std::string GraphTestServer::Ask(const std::string& command) const {
  const std::lock_guard lock(mutex_);
  const std::string line = command + "\n";
  if (::send(to_server_.get(), line.data(), line.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(line.size())) {
    throw std::runtime_error("the Graph test server takes no commands");
  }
  std::string answer = ReadLine(kAnswerLimit);
  if (Json::parse(answer).contains("error")) {
    throw std::runtime_error("Graph test server: " + answer + " for " + command);
  }
  return answer;
}

std::string GraphTestServer::ApiRoot() const {
  return "https://127.0.0.1:" + std::to_string(port_) + "/v1.0";
}

std::string GraphTestServer::CaPem() const { return ReadFile(CaFile()); }

std::string GraphTestServer::CaFile() const { return (dir_ / "tls/ca.pem").string(); }

std::string GraphTestServer::IdOf(const std::string& maildir_base_name) const {
  return Json::parse(Ask(Json{{"cmd", "id-of"}, {"base", maildir_base_name}}.dump()))["id"];
}

void GraphTestServer::Throttle(const std::string& pattern, int times, int status,
                               int retry_after_seconds) {
  Ask(Json{{"cmd", "throttle"},
           {"pattern", pattern},
           {"times", times},
           {"status", status},
           {"retry_after", retry_after_seconds}}
          .dump());
}

void GraphTestServer::Fail(const std::string& pattern, int times, int status,
                           const std::string& code) {
  Ask(Json{
      {"cmd", "fail"}, {"pattern", pattern}, {"times", times}, {"status", status}, {"code", code}}
          .dump());
}

void GraphTestServer::CutBody(const std::string& pattern, int times, std::size_t after_bytes) {
  Ask(Json{{"cmd", "cut"}, {"pattern", pattern}, {"times", times}, {"after_bytes", after_bytes}}
          .dump());
}

void GraphTestServer::SetDelay(std::chrono::milliseconds per_response) {
  Ask(Json{{"cmd", "delay"}, {"ms", per_response.count()}}.dump());
}

void GraphTestServer::Remove(const std::string& maildir_base_name) {
  Ask(Json{{"cmd", "remove"}, {"base", maildir_base_name}}.dump());
}

GraphTestServer::Counts GraphTestServer::counts() const {
  const Json c = Json::parse(Ask(R"({"cmd":"counts"})"));
  return {c["pages"],     c["values"],       c["patches"],   c["batches"],        c["batch_items"],
          c["throttled"], c["unauthorized"], c["forbidden"], c["max_concurrent"], c["connections"]};
}

std::vector<std::string> GraphTestServer::Log() const {
  return Json::parse(Ask(R"({"cmd":"log"})"))["log"].get<std::vector<std::string>>();
}

}  // namespace qm::testing
