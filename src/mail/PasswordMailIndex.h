#pragma once
// Which messages of the inbox may give an encrypted archive's password,
// known from the listing alone, so that the scan reads only those: mails
// from the archive's sender, and mails whose subject speaks of a password
// (a gateway's 【パスワード通知】 from an address of its own). Kept small:
// a hash of the sender's address and one flag per message.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace qm {

class PasswordMailIndex {
 public:
  // Adds message `message` of the listing (in listing order).
  void Add(std::int64_t message, std::string_view sender_address, std::string_view subject);

  // The messages to read for an archive from `sender_address` that came in
  // message `near` (-1 when that message is not known: the newest first),
  // nearest first, at most `limit`.
  std::vector<std::int64_t> CandidatesFor(std::string_view sender_address, std::int64_t near,
                                          std::size_t limit) const;

 private:
  struct Entry {
    std::int64_t message;
    std::uint64_t sender;
    bool mentions_password;
  };
  std::vector<Entry> entries_;
};

}  // namespace qm
