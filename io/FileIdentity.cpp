// SPDX-License-Identifier: Apache-2.0
// The index of identities; each platform's file (FileIdentityPosix.cpp,
// FileIdentityWindows.cpp) tells what a path's identity is.
#include "FileIdentity.h"

namespace kestrawin::io {

std::optional<std::size_t> IdentityIndex::Find(const FileIdentity& identity) const
{
    if (const auto it = places_.find(identity.place); it != places_.end()) return it->second;
    return std::nullopt;
}

void IdentityIndex::Add(const FileIdentity& identity, std::size_t number)
{
    places_.emplace(identity.place, number);
}

} // namespace kestrawin::io
