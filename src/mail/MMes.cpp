#include "mail/MMes.h"

#include <cerrno>
#include <filesystem>
#include <utility>

#include "base/Failure.h"
#include "base/FileSystem.h"
#include "base/UniqueFd.h"
#include "mail/AttachmentFile.h"
#include "mail/MSession.h"
#include "mime/AttachmentList.h"
#include "mime/MessageText.h"
#include "mime/ScratchFile.h"
#include "save/BackgroundWriter.h"
#include "save/HeldFolder.h"
#include "store/UnreadableMessage.h"

namespace qm {
namespace {

Failure MailFailure(const std::string& what) {
  return Failure(FailureKind::MailStore, Cause::kMailServer, what);
}

// Messages whose files are still being written may hold this many bytes of
// memory between them; past it, the scan waits for the writer.
constexpr std::size_t kMaxBytesBeingWritten = 8 * 1024 * 1024;

// Runs `read` on the bytes of message `index` of `store`; a failure to read
// them names the message.
template <typename Read>
auto NamingTheMessage(const MailStore& store, std::size_t index, Read read) {
  try {
    return read();
  } catch (const UnreadableMessage& failure) {
    throw failure.At(store.Describe(index));
  }
}

// Whether nothing is named `name` in the folder `folder` of `files` (`files`
// itself when `folder` is ""). A numbered folder that is gone frees its names.
bool NameIsFree(int files, const std::string& folder, const std::string& name) {
  UniqueFd held;
  if (!folder.empty()) {
    held.Reset(fs::OpenFolder(files, folder));
    if (!held.valid()) return errno == ENOENT;
  }
  fs::EntryInfo info;
  return fs::InfoOfEntry(held.valid() ? held.get() : files, name, info) != 0 && errno == ENOENT;
}

}  // namespace

MMes::MMes(MSession& session)
    : session_(session), writer_(std::make_unique<BackgroundWriter>(kMaxBytesBeingWritten)) {}

MMes::~MMes() = default;

void MMes::WriteFilesInto(int folder, std::filesystem::path path) {
  files_folder_ = folder;
  files_path_ = std::move(path);
}

void MMes::StopWritingFiles() noexcept {
  try {
    WaitForFiles();
  } catch (...) {
  }
  ForgetCurrentMessage();
  files_folder_ = -1;
}

void MMes::SetSessionHandle(std::int32_t handle) {
  if (handle == 0 || handle != session_.SessionHandle()) throw MailFailure("not signed on");
  handle_ = handle;
}

void MMes::SetMessageTypeFilter(const std::string& filter) { message_type_ = filter; }

void MMes::Fetch() {
  const std::size_t count = BoundStore().ListOfType(message_type_);
  count_ = static_cast<std::int64_t>(count);
  current_ = -1;
  ForgetCurrentMessage();
}

std::int64_t MMes::MessageCount() const { return count_; }

void MMes::SetCurrentMessage(std::int64_t index) {
  BoundStore();
  if (index < 0 || index >= count_) throw MailFailure("bad message index");
  current_ = index;
  attachment_index_ = 0;
  ForgetCurrentMessage();
}

bool MMes::IsRead() {
  const std::size_t index = CurrentIndex();
  return BoundStore().IsRead(index);
}

std::string MMes::Subject() { return CurrentEnvelope().subject; }

std::string MMes::SenderName() { return CurrentEnvelope().sender_name; }

std::string MMes::SenderAddress() { return CurrentEnvelope().sender_address; }

WrittenFile MMes::AttachmentFile() {
  if (!attachments_opened_) OpenAttachments();
  const auto index = static_cast<std::size_t>(attachment_index_);
  if (attachments_ == nullptr || index >= attachments_->size()) return {};
  if (extracted_.size() <= index) extracted_.resize(index + 1);
  if (extracted_[index].name.empty()) {
    const std::string subfolder = FolderFor(attachments_->Name(index));
    extracted_[index] = NamingTheMessage(BoundStore(), CurrentIndex(), [&] {
      if (subfolder.empty())
        return WriteAttachmentFile(*attachments_, index, files_folder_, *writer_);
      const HeldFolder folder = HeldFolder::Open(files_folder_, subfolder);
      if (!folder.valid()) {
        throw FileFailure(FailureKind::FileWrite, errno,
                          "cannot open " + fs::NameOf(files_path_ / subfolder));
      }
      WrittenFile file = WriteAttachmentFile(*attachments_, index, folder.fd(), *writer_);
      file.name = subfolder + "/" + file.name;
      return file;
    });
  }
  return extracted_[index];
}

std::string MMes::AttachmentName() {
  if (!attachments_opened_) OpenAttachments();
  const auto index = static_cast<std::size_t>(attachment_index_);
  if (attachments_ == nullptr || index >= attachments_->size()) return "";
  return attachments_->Name(index);
}

// Files are written straight into the files folder. A name that this
// message used already there, or that is still there, goes into a numbered
// folder where it is free: every attachment keeps a path of its own that
// ends in its own name. The numbered folders are tried in turn, from where
// the last search stopped: files leave them in the order they came, so a
// free one is soon found, and a long run of one name needs few of them.
// Returns that folder's name in the files folder, or "" for the folder itself.
std::string MMes::FolderFor(const std::string& name) {
  if (files_folder_ < 0) {
    throw Failure(FailureKind::Internal, Cause::kInternal, "no folder for attachment files");
  }
  if (names_at_top_.insert(name).second && NameIsFree(files_folder_, "", name)) return {};
  for (int tried = 0; tried < subfolders_; ++tried) {
    std::string folder = std::to_string(next_subfolder_ % subfolders_ + 1);
    ++next_subfolder_;
    if (NameIsFree(files_folder_, folder, name)) return folder;
  }
  std::string folder = std::to_string(++subfolders_);
  if (fs::MakeFolder(files_folder_, folder) != 0) {
    throw FileFailure(FailureKind::FileWrite, errno,
                      "cannot create " + fs::NameOf(files_path_ / folder));
  }
  return folder;
}

void MMes::SetAttachmentIndex(std::int32_t index) {
  if (index < 0) throw MailFailure("bad attachment index");
  attachment_index_ = index;
}

void MMes::MarkRead() {
  const std::size_t index = CurrentIndex();
  BoundStore().QueueReadMark(index);
}

bool MMes::FetchesAhead() { return BoundStore().FetchesAhead(); }

void MMes::WillOpen(const std::vector<std::int64_t>& indexes) {
  std::vector<std::size_t> plan;
  plan.reserve(indexes.size());
  for (const std::int64_t index : indexes) {
    if (index < 0 || index >= count_) throw MailFailure("bad message index");
    plan.push_back(static_cast<std::size_t>(index));
  }
  BoundStore().WillOpen(plan);
}

void MMes::UnmarkRead() {
  const std::size_t index = CurrentIndex();
  BoundStore().DropReadMark(index);
}

void MMes::WaitForFiles() { writer_->Wait(); }

std::string MMes::Describe() { return BoundStore().Describe(CurrentIndex()); }

MailStore& MMes::BoundStore() {
  if (handle_ == 0 || handle_ != session_.SessionHandle()) throw MailFailure("not signed on");
  return session_.Store();
}

std::size_t MMes::CurrentIndex() {
  BoundStore();
  if (current_ < 0) throw MailFailure("bad message index");
  return static_cast<std::size_t>(current_);
}

// What was read of the current message: its envelope, its attachments (the
// files written from it stay where they are) and the names it used.
void MMes::ForgetCurrentMessage() {
  envelope_.reset();
  attachments_opened_ = false;
  attachments_.reset();
  extracted_.clear();
  names_at_top_.clear();
}

const Envelope& MMes::CurrentEnvelope() {
  if (!envelope_) {
    const std::size_t index = CurrentIndex();
    envelope_ = BoundStore().ReadEnvelope(index);
  }
  return *envelope_;
}

std::optional<PasswordMail> MMes::ReadPasswordMail() {
  const std::size_t index = CurrentIndex();
  if (BoundStore().GivesAttachmentFiles()) return std::nullopt;
  const UniqueFd message = BoundStore().OpenMessage(index, files_folder_);
  if (!message.valid()) return std::nullopt;
  MessageFacts facts = ReadMessageFacts(message.get());
  return PasswordMail{std::move(facts.sender_address), facts.date, std::move(facts.subject),
                      std::move(facts.text)};
}

std::optional<MailTime> MMes::SentDate() {
  if (!attachments_opened_) OpenAttachments();
  return attachments_ ? attachments_->Date() : std::nullopt;
}

bool MMes::GivesMessageText() { return !BoundStore().GivesAttachmentFiles(); }

// Parses the current message on the first attachment read. A message that is
// gone (deleted by another client) has no attachments.
void MMes::OpenAttachments() {
  const std::size_t index = CurrentIndex();
  attachments_opened_ = true;
  // The listing may have shown already that there is nothing to save.
  if (BoundStore().HoldsNoFile(index)) return;
  if (BoundStore().GivesAttachmentFiles()) {
    attachments_ =
        NamingTheMessage(BoundStore(), index, [&] { return BoundStore().AttachmentFiles(index); });
    return;
  }
  UniqueFd message = BoundStore().OpenMessage(index, files_folder_);
  if (!message.valid()) return;
  // Files found inside a winmail.dat or a text body are decoded on disk, in
  // the work folder beside the files being saved.
  OpenScratchFile open_scratch = [folder = files_folder_] { return CreateScratchFileIn(folder); };
  attachments_ = NamingTheMessage(BoundStore(), index, [&] {
    return std::make_unique<AttachmentList>(std::move(message), std::move(open_scratch));
  });
}

}  // namespace qm
