#pragma once
// The passwords a mail's text gives for an encrypted attachment: the values
// written after a password label, never a guess. Japanese mail sends a
// password-protected ZIP file and, in a second mail, its password, written by
// a person or by a mail gateway; the candidates are tried against the archive.
//
// What counts as a candidate:
// - A label: パスワード (alone or in a compound: 解凍パスワード, 解凍用パスワード,
//   暗号化パスワード, パスワード通知, ...), パス, Password, Passwd, pass, PW, in any
//   letter case. パス is a label only between non-katakana (not in パスポート,
//   コンパス); the Latin labels only as whole words, not joined to a word or a
//   URL before them (not in bypass, Passport, ?pw=, ID/PW).
// - After the label, the value: after a colon (: or ：) or '=', or after a
//   bracket that closes the label (【パスワード】abc123, [PW] abc123), with or
//   without blanks; a short remark in parentheses may come between the label
//   and its colon (パスワード（半角英数字）：abc123). After パスワード also:
//   a bracketed value (パスワード「abc123」, パスワードは「abc123」です), or a
//   value alone after a blank at the end of the line (解凍パスワード　abc123).
// - Or the value alone on the next non-empty line, when the label line
//   announces it: nothing but a colon or bracket after the label, or words such
//   as 以下, 下記, お知らせ, お送り, below, follows, unless it defers the password
//   (別途, 後ほど, later, separate...).
// - A value is a run of printable ASCII without blanks, 4 to 64 characters,
//   with at least one letter or digit (so "********" and rule lines are not
//   passwords), containing no "://" (a URL is not a password). Brackets around
//   it (「」『』【】〔〕〈〉《》“”‘’ [] () <> {} "" '') are not part of it; a
//   sentence's 。、． after it are not part of it, nor an opening bracket that
//   starts a Japanese remark (abc123（半角）).
//
// Choices:
// - Width: the text is folded with NFKC before it is read, so full-width
//   letters, digits, colons and brackets, and half-width katakana labels,
//   count as their ordinary forms. A value is only produced folded: unfolded,
//   a full-width value would not be ASCII, and a password of a gateway always
//   is. The full-width full stop ． is kept out of the folding, so that it can
//   end a sentence; inside a value it becomes '.'.
// - Quoted lines (starting with '>', any depth) are read like the others: a
//   forwarded or replied-to notice still gives its password. A value
//   announced on a quoted line must be on a line of the same quote depth.
// - Invalid UTF-8 is replaced by U+FFFD before reading; as it is not ASCII,
//   it ends a value.
// - At most kMaxPasswordCandidates candidates, in the order of the text,
//   without duplicates; reading stops at the last one. Time and memory are
//   linear in the text.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

inline constexpr std::size_t kMaxPasswordCandidates = 16;

// The candidate passwords in `text` (a decoded body, UTF-8), in order.
std::vector<std::string> PasswordCandidates(std::string_view text);

// True when `subject` (UTF-8) holds a password label as described above
// (【パスワード通知】, ﾊﾟｽﾜｰﾄﾞ, "Password for ..."): a mail worth reading for
// the password of an archive whose sender it does not share.
bool MentionsPassword(std::string_view subject);

}  // namespace qm
