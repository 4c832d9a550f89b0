// SPDX-License-Identifier: Apache-2.0
#pragma once
// The key store of a start, apart from the context-menu entries: kestrawin-cli
// opens it without loading anything of the toolkit.

#include "base/Outcome.h"
#include "ops/KeyStore.h"

#include <memory>
#include <string>

namespace kestrawin::startup {

// The key store of this run. The keys are shared: whoever encrypts holds them
// for as long as it works, whatever becomes of the window.
struct KeyStoreStart {
    std::shared_ptr<const ops::KeyContainer> keys; // null when no signature pair is usable
    Result result;                                 // why not, or why the pairs were not kept
};

// Opens the store in `folder` and puts fresh pairs in it. A store that cannot
// be saved still gives pairs for this run (with the reason in `result`).
[[nodiscard]] KeyStoreStart OpenKeyStore(const std::string& folder);

} // namespace kestrawin::startup
