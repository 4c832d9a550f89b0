// SPDX-License-Identifier: Apache-2.0
#pragma once
// Which file a path names, by what it is on disk rather than how it is
// spelled. The folder part is resolved by the system, links and ".." alike,
// exactly as opening it does; the last name is taken as it stands, so a link
// there is the link itself (which an input never reads through). With `l` a
// link to `other/sub`, "l/../a" is other/a, never ./a.
//
// Every input is opened, and every output written and every input deleted, by
// its name in its folder: two paths are the same file when they reach the same
// name, byte for byte, in the same folder (device and inode of the folder).

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>

namespace kestrawin::io {

struct FileIdentity {
    // The folder's device and inode and the name in it; when the folder
    // cannot be reached, the absolute spelling stands in (nothing can be
    // opened there, so nothing is lost by taking it literally).
    std::string place;
};

// As above. A relative path is taken against the current folder.
[[nodiscard]] FileIdentity IdentifyPath(const std::string& path);

// Identities met so far, each with a number of the caller's; looked up in
// constant time.
class IdentityIndex {
public:
    // The number given with the first identity that is the same file as this.
    [[nodiscard]] std::optional<std::size_t> Find(const FileIdentity& identity) const;
    // Remembers an identity; an earlier entry for the same file is kept.
    void Add(const FileIdentity& identity, std::size_t number);

private:
    std::unordered_map<std::string, std::size_t> places_;
};

} // namespace kestrawin::io
