#pragma once
// Unpacks a ZIP archive into a folder of its own in the destination: the
// archive's folders kept under it, every name made safe, never replacing.
// The files are written into a folder of the work folder first; only when
// every entry is written and checked does that folder get its final name,
// as a whole. So a folder under its final name is never half-filled, and a
// killed run leaves its partial folder in the work folder, which the next
// scan removes.

#include <string>

namespace qm {

class DestinationFolder;
class ZipArchive;

// Unpacks `archive` with `password` ("" for none) into the folder
// `folder_name` of `destination`, or the first free "folder_name (n)";
// returns the name given. Call after the destination's Commit. Two entries
// that end up with one name (the same name twice, or names that differ only
// in what the platform does not tell apart) become "name (2)". Throws
// ArchiveFailure (a wrong password for one entry, a damaged entry, a
// mismatched CRC) or FileFailure; nothing is placed then and the partial
// folder is removed.
std::string UnpackArchive(ZipArchive& archive, const std::string& password,
                          DestinationFolder& destination, const std::string& folder_name);

}  // namespace qm
